#include "reading/scan_limits.h"

#include <cstdio>

namespace veltrana {

Status checkScanSize(ImageSize size, const ScanLimits& limits) {
    const double megapixels =
        static_cast<double>(size.width) * static_cast<double>(size.height) / 1e6;
    char line[256];
    if (megapixels > limits.maxMegapixels) {
        std::snprintf(line, sizeof line,
                      "it is %lld x %lld pixels (%.0f megapixels), more than the %g megapixels "
                      "a scan may have",
                      static_cast<long long>(size.width), static_cast<long long>(size.height),
                      megapixels, limits.maxMegapixels);
        return Status::failure(line);
    }
    if (size.width < limits.minSide || size.height < limits.minSide) {
        std::snprintf(line, sizeof line,
                      "it is %lld x %lld pixels; a scan needs at least %d pixels on each side",
                      static_cast<long long>(size.width), static_cast<long long>(size.height),
                      limits.minSide);
        return Status::failure(line);
    }
    return {};
}

} // namespace veltrana
