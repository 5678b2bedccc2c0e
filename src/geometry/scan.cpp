#include "geometry/scan.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <malloc.h>
#include <system_error>

namespace veltrana {

LoadedScan normaliseScan(cv::Mat image) {
    if (image.empty() || image.rows == 0 || image.cols == 0) {
        return {{}, "no image data"};
    }
    switch (image.depth()) {
    case CV_8U:
        break;
    case CV_16U:
        // 65535 maps to 255
        image.convertTo(image, CV_8U, 1.0 / 257.0);
        break;
    default:
        return {{}, "unsupported sample format (only 8- and 16-bit integer scans are read)"};
    }
    switch (image.channels()) {
    case 1:
    case 3:
        break;
    case 2: {
        // grey with alpha: keep the grey
        cv::Mat grey;
        cv::extractChannel(image, grey, 0);
        image = grey;
        break;
    }
    case 4: {
        cv::Mat colour;
        cv::cvtColor(image, colour, cv::COLOR_BGRA2BGR);
        image = colour;
        break;
    }
    default:
        return {{}, "unsupported channel count " + std::to_string(image.channels())};
    }
    return {image, {}};
}

LoadedScan loadScan(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return {{}, "cannot open " + path.string()};
    }
    cv::Mat image;
    try {
        image = cv::imread(path.string(), cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception& e) {
        return {{}, "cannot read " + path.string() + ": " + e.what()};
    }
    if (image.empty()) {
        return {{}, "cannot read " + path.string() + " as an image"};
    }
    LoadedScan scan = normaliseScan(std::move(image));
    if (!scan.ok()) {
        scan.error = path.string() + ": " + scan.error;
    }
    return scan;
}

void reuseLargeImageBuffers() {
    constexpr int kMegabyte = 1 << 20;
    mallopt(M_MMAP_THRESHOLD, 256 * kMegabyte);
    mallopt(M_TRIM_THRESHOLD, 512 * kMegabyte);
    mallopt(M_TOP_PAD, 64 * kMegabyte);
}

cv::Mat workingImageFromFrame(const cv::Mat& frame) {
    cv::Mat working;
    if (!frame.empty()) {
        cv::rotate(frame, working, cv::ROTATE_90_COUNTERCLOCKWISE);
    }
    return working;
}

} // namespace veltrana
