#include "geometry/resolution.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"

#include <algorithm>

namespace veltrana {

int snapResolution(int v) {
    if (v < 700) {
        return 450;
    }
    if (v >= 702 && v <= 1199) {
        return 900;
    }
    if (v >= 1202 && v <= 2399) {
        return 1800;
    }
    if (v >= 2402 && v <= 4499) {
        return 3600;
    }
    if (v >= 4502 && v <= 7499) {
        return 7200;
    }
    return v;
}

namespace {

// A rise of the normalised brightness (a fraction of the highest rise) that
// can be a frame edge must exceed this.
constexpr double kFrameEdgeRise = 0.025;
// Fraction of the image's height (rows, along the film) the second frame
// edge lies at least beyond the first.
constexpr double kFrameEdgeGapShare = 0.2;
// Fraction of the image's width (columns, across the film) left out of the
// brightness down the image, on the right.
constexpr double kRightLeftOutShare = 0.2;

// A strict local maximum of the rise over seven entries, above the threshold.
// Neighbours before the start of the array do not exist and are skipped.
bool isFrameEdge(const std::vector<float>& d, int i) {
    const float v = d[static_cast<std::size_t>(i)];
    if (!(v > kFrameEdgeRise)) {
        return false;
    }
    for (int k = i - 3; k <= i + 3; ++k) {
        if (k == i || k < 0 || k >= static_cast<int>(d.size())) {
            continue;
        }
        if (!(v > d[static_cast<std::size_t>(k)])) {
            return false;
        }
    }
    return true;
}

int firstFrameEdge(const std::vector<float>& d, int begin, int end) {
    for (int i = begin; i < end; ++i) {
        if (isFrameEdge(d, i)) {
            return i;
        }
    }
    return -1;
}

} // namespace

int resolutionProfileColumns(int width) {
    // the rightmost fifth less one column is left out
    const int leftOut = roundHalfAway(kRightLeftOutShare * width);
    return std::min(width - leftOut, width - 1) + 1;
}

ResolutionEstimate estimateResolutionFromProfile(std::vector<float> p, int width,
                                                 SoundtrackType type) {
    const int height = static_cast<int>(p.size());
    ResolutionEstimate estimate;

    // across: the image spans a fixed width of film
    estimate.measured.dpiX = truncateToInt(width * 2.54 / filmStandard(type).scanWidthCm);

    // normalised by the highest rise; the last entry keeps its raw value
    int distance = 0;
    const float highest = riseMaximum(p, 0, height);
    if (highest > 0.0f) {
        for (int r = 0; r + 1 < height; ++r) {
            p[static_cast<std::size_t>(r)] /= highest;
        }
        const std::vector<float> d = profileDifference(p);
        // two rises from frame line to picture, at least a fifth of the image apart
        const int first = firstFrameEdge(d, 2, height - 4);
        if (first >= 0) {
            const int second =
                firstFrameEdge(d, first + roundHalfAway(kFrameEdgeGapShare * height), height - 4);
            distance = second >= 0 ? second - first : 0;
        }
    }
    estimate.measured.dpiY = truncateToInt(distance * 2.54 / filmStandard(type).framePitchCm);

    estimate.snapped = {snapResolution(estimate.measured.dpiX),
                        snapResolution(estimate.measured.dpiY)};
    return estimate;
}

ResolutionEstimate estimateResolution(const cv::Mat& image, SoundtrackType type) {
    const int width = image.cols;
    const int height = image.rows;
    // brightness down the image over its first columns
    const int columns = resolutionProfileColumns(width);
    std::vector<float> p(static_cast<std::size_t>(height), 0.0f);
    if (columns > 0) {
        const int channels = image.channels();
        const float count = static_cast<float>(columns);
        for (int r = 0; r < height; ++r) {
            const uchar* row = image.ptr<uchar>(r);
            float sum = 0.0f;
            for (int c = 0; c < columns; ++c) {
                sum += static_cast<float>(row[c * channels]);
            }
            p[static_cast<std::size_t>(r)] = sum / count;
        }
    }
    return estimateResolutionFromProfile(std::move(p), width, type);
}

ScanResolution detectResolution(const cv::Mat& image, SoundtrackType type) {
    return estimateResolution(image, type).snapped;
}

Status checkManualResolution(ScanResolution r) {
    const auto inRange = [](int dpi) { return dpi >= kMinManualDpi && dpi <= kMaxManualDpi; };
    if (inRange(r.dpiX) && inRange(r.dpiY)) {
        return {};
    }
    return Status::failure(
        "The manual resolution x=" + std::to_string(r.dpiX) + ",y=" + std::to_string(r.dpiY) +
        " dpi is out of range: each value must be " + std::to_string(kMinManualDpi) + " to " +
        std::to_string(kMaxManualDpi) + " dpi");
}

} // namespace veltrana
