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

namespace {

double medianOf(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    double median = *middle;
    if (values.size() % 2 == 0) {
        median = (median + *std::max_element(values.begin(), middle)) / 2.0;
    }
    return median;
}

} // namespace

bool isOutlyingJoin(double join, std::vector<double> earlier) {
    // a median needs a few joins to stand for the run
    if (earlier.size() < 3) {
        return false;
    }
    const double median = medianOf(earlier);
    // the spread: 1.4826 median absolute deviations make a standard deviation
    std::vector<double> deviations;
    deviations.reserve(earlier.size());
    for (double e : earlier) {
        deviations.push_back(std::abs(e - median));
    }
    const double spread = 1.4826 * medianOf(std::move(deviations));
    return std::abs(join - median) > std::max(kOutlyingJoinRows, 3.0 * spread);
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
