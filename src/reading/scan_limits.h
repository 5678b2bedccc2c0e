#pragma once
// What a scan may be, checked on its header before anything is decoded, so
// that a small crafted file cannot make the program decode gigabytes.

#include "base/status.h"

#include <cstdint>

namespace veltrana {

struct ScanLimits {
    // The largest scan, in millions of pixels: six times a 35 mm frame at
    // 4000 dpi (about 14 megapixels).
    double maxMegapixels = 100.0;
    // Fewer pixels than this on a side cannot hold a frame to measure.
    int minSide = 64;
};

inline constexpr double kDefaultMaxMegapixels = 100.0;

struct ImageSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// Whether a scan of this size may be read; a failure says why not ("it is
// 30000 x 30000 pixels ...").
Status checkScanSize(ImageSize size, const ScanLimits& limits);

} // namespace veltrana
