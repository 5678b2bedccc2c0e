#pragma once
// TIFF scans decoded by libtiff from bytes in memory; for the scan reader.

#include "base/status.h"
#include "reading/scan_buffers.h"
#include "reading/scan_limits.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <span>

namespace veltrana {

// Whether the bytes start like a TIFF file (classic or BigTIFF, either byte
// order).
bool isTiff(std::span<const std::uint8_t> bytes);

// Reads the header, checks the size against the limits, and decodes the
// layouts scanners write (8 or 16 bits, grey or RGB, in strips, any of the
// usual lossless compressions) straight into the image.
// With `buffers` an 8-bit image is made in them.
//
// The image is the first of the file in blue-green-red order, 8 or 16 bits,
// one or three channels; it is empty (and no failure) when its layout is one
// that the image library is to decode instead.
Result<cv::Mat> decodeTiff(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                           ScanBuffers* buffers = nullptr);

// Keeps libtiff's process-wide handlers from printing: the decoding above
// keeps libtiff's first complaint for its message, and the image library
// installs handlers of its own that follow its log level.
void silenceTiffLibraryLog();

} // namespace veltrana
