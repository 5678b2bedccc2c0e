#include "geometry/scan.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>

namespace veltrana {
namespace {

TEST(LoadScan, ConvertsOtherLayoutsToWhatTheMeasuresRead) {
    test::TempDir dir;
    cv::Mat deep(64, 65, CV_16UC1, cv::Scalar(65535));
    ASSERT_TRUE(cv::imwrite((dir / "deep.tif").string(), deep));
    LoadedScan s = loadScan(dir / "deep.tif");
    ASSERT_TRUE(s.ok()) << s.error;
    EXPECT_EQ(s.image.type(), CV_8UC1);
    EXPECT_EQ(s.image.at<uchar>(0, 0), 255);

    cv::Mat bgra(64, 65, CV_8UC4, cv::Scalar(10, 20, 30, 40));
    ASSERT_TRUE(cv::imwrite((dir / "bgra.tif").string(), bgra));
    s = loadScan(dir / "bgra.tif");
    ASSERT_TRUE(s.ok()) << s.error;
    EXPECT_EQ(s.image.type(), CV_8UC3);
    EXPECT_EQ(s.image.at<cv::Vec3b>(1, 1), cv::Vec3b(10, 20, 30));

    cv::Mat greyAlpha(4, 5, CV_8UC2, cv::Scalar(77, 255));
    s = normaliseScan(greyAlpha);
    ASSERT_TRUE(s.ok()) << s.error;
    EXPECT_EQ(s.image.type(), CV_8UC1);
    EXPECT_EQ(s.image.at<uchar>(2, 2), 77);
}

TEST(LoadScan, RefusesWhatItCannotReadRight) {
    test::TempDir dir;
    EXPECT_FALSE(loadScan(dir / "missing.tif").ok());
    {
        std::ofstream f(dir / "corrupt.tif", std::ios::binary);
        f << "II*\0 this is not a tiff";
    }
    const LoadedScan corrupt = loadScan(dir / "corrupt.tif");
    EXPECT_FALSE(corrupt.ok());
    EXPECT_NE(corrupt.error.find("corrupt.tif"), std::string::npos);
    EXPECT_FALSE(loadScan(dir.path()).ok());
    EXPECT_FALSE(normaliseScan(cv::Mat(3, 3, CV_32FC1, cv::Scalar(0.5))).ok());
}

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
