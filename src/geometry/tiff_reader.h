#pragma once
// TIFF scans decoded by libtiff from bytes in memory; for the scan loader.

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

// Empty when a scan of this size may be read; otherwise why not ("it is 30000
// x 30000 pixels ...").
std::string checkScanSize(ImageSize size, const ScanLimits& limits);

// Whether the bytes start like a TIFF file (classic or BigTIFF, either byte
// order).
bool isTiff(std::span<const std::uint8_t> bytes);

struct TiffDecode {
    // The first image of the file in blue-green-red order, 8 or 16 bits, one
    // or three channels; empty (with no error) when its layout is one that
    // the image library is to decode instead.
    cv::Mat image;
    std::string error; // why the file cannot be read; empty when it can
};

// Reads the header, checks the size against the limits, and decodes the
// layouts scanners write (8 or 16 bits, grey or RGB, in strips, any of the
// usual lossless compressions) straight into the image.
// With `buffers` the image is made in them.
TiffDecode decodeTiff(std::span<const std::uint8_t> bytes, const ScanLimits& limits,
                      ScanBuffers* buffers = nullptr);

} // namespace veltrana
