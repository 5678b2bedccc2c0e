#include "geometry/scan.h"

#include <opencv2/core.hpp>

namespace veltrana {

cv::Mat workingImageFromFrame(const cv::Mat& frame) {
    cv::Mat working;
    if (!frame.empty()) {
        cv::rotate(frame, working, cv::ROTATE_90_COUNTERCLOCKWISE);
    }
    return working;
}

} // namespace veltrana
