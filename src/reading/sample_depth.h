#pragma once
// Samples deeper than 8 bits: a scan as a decoder delivered it, brought into
// the two layouts the jobs read (conventions in reading/scan_reader.h).

#include "reading/scan_buffers.h"
#include "reading/scan_description.h"

#include <opencv2/core.hpp>

namespace veltrana {

// A scan as a decoder delivered it.
struct DecodedScan {
    cv::Mat image;         // 8-bit, 16-bit or float; one, three or four channels
    bool rgbOrder = false; // red first, as the image library delivers it (else blue first)
    // 16-bit samples: bits below the stored code value (16 - bits stored;
    // the decoder repeats the code's top bits there).
    int lowBits = 0;
    ScanDescription description;
};

// A stored code value of `bits` bits (8 to 16) on the 8-bit scale the
// standard measures read: round(code x 255 / (2^bits - 1)), no ties. For 16
// bits that is round(code / 257), as 16-bit TIFF has always been read.
int eightBitValue(int code, int bits);

// A floating-point sample (1.0 the full scale) on the same scale:
// round(v x 255) of v clamped to 0..1; NaN and infinities are 0.
int eightBitValueOfFloat(float value);

// The 8-bit image the standard measures read: one channel or three (blue,
// green, red), alpha dropped, every sample as eightBitValue gives it. With
// `buffers` it is made in their memory.
cv::Mat eightBitImage(const DecodedScan& scan, ScanBuffers* buffers);

// The samples at their stored depth, in the same layout: 16-bit samples as
// their code values (0 .. 2^bits - 1), floating-point samples finite (NaN
// and infinities 0). Works in place where it can.
cv::Mat storedDepthImage(DecodedScan scan);

} // namespace veltrana
