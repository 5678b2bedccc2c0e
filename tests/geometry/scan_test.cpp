#include "geometry/scan.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace veltrana {
namespace {

TEST(WorkingImage, TurnsAnticlockwiseSoTheRightColumnBecomesTheTopRow) {
    // corrected frame: 2 rows x 3 columns
    cv::Mat frame = (cv::Mat_<uchar>(2, 3) << 1, 2, 3, 4, 5, 6);
    const cv::Mat working = workingImageFromFrame(frame);
    ASSERT_EQ(working.rows, 3);
    ASSERT_EQ(working.cols, 2);
    // working (column i, row j) = frame (column Wc - 1 - j, row i)
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(working.at<uchar>(j, i), frame.at<uchar>(i, 2 - j));
        }
    }
}

} // namespace
} // namespace veltrana
