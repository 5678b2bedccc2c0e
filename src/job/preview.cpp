#include "job/preview.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace veltrana {

cv::Mat previewPicture(const cv::Mat& scan) {
    if (scan.empty()) {
        return {};
    }
    const double scale =
        std::min(1.0, static_cast<double>(kPreviewPictureSide) / std::max(scan.cols, scan.rows));
    const cv::Size size(std::max(1, static_cast<int>(std::lround(scan.cols * scale))),
                        std::max(1, static_cast<int>(std::lround(scan.rows * scale))));
    cv::Mat small;
    cv::resize(scan, small, size, 0, 0, cv::INTER_AREA);
    if (small.channels() == 1) {
        cv::Mat colour;
        cv::cvtColor(small, colour, cv::COLOR_GRAY2BGR);
        return colour;
    }
    return small;
}

PicturePacer::PicturePacer(const PreviewRequest& request)
    : clock(request.clock), enabled(request.picturesPerSecond > 0) {
    if (enabled) {
        period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     std::chrono::duration<double>(1.0 / request.picturesPerSecond))
                     .count();
    }
}

PicturePacer::Ticks PicturePacer::now() const {
    return (clock ? clock() : std::chrono::steady_clock::now()).time_since_epoch().count();
}

bool PicturePacer::due() const {
    return enabled && now() >= next.load();
}

bool PicturePacer::take() {
    if (!enabled) {
        return false;
    }
    const Ticks t = now();
    if (t < next.load()) {
        return false;
    }
    next.store(t + period);
    return true;
}

} // namespace veltrana
