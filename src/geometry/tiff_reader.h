#pragma once
// TIFF scans decoded by libtiff from bytes in memory; for the scan loader.

#include "base/status.h"
#include "geometry/scan.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <span>
#include <string>

namespace veltrana {

struct ImageSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// Whether a scan of this size may be read; a failure says why not ("it is
// 30000 x 30000 pixels ...").
Status checkScanSize(ImageSize size, const ScanLimits& limits);

// Whether the bytes start like a TIFF file (classic or BigTIFF, either byte
// order).
bool isTiff(std::span<const std::uint8_t> bytes);

// Reads the header, checks the size against the limits, and decodes the
// layouts scanners write (8 or 16 bits, grey or RGB, in strips, any of the
// usual lossless compressions) straight into the image.
// With `buffers` the image is made in them.
//
// The image is the first of the file in blue-green-red order, 8 or 16 bits,
// one or three channels; it is empty (and no failure) when its layout is one
// that the image library is to decode instead.
Result<cv::Mat> decodeTiff(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                           ScanBuffers* buffers = nullptr);

} // namespace veltrana
