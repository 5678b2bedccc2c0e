// Deeper samples on the 8-bit scale the standard measures read.

#include "reading/sample_depth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace veltrana {
namespace {

TEST(EightBitValue, RoundsEveryDepthToTheNearestStep) {
    // 16 bits: round(v / 257), as 16-bit TIFF has always been read
    EXPECT_EQ(eightBitValue(0, 16), 0);
    EXPECT_EQ(eightBitValue(128, 16), 0);
    EXPECT_EQ(eightBitValue(129, 16), 1);
    EXPECT_EQ(eightBitValue(385, 16), 1);
    EXPECT_EQ(eightBitValue(386, 16), 2);
    EXPECT_EQ(eightBitValue(65535, 16), 255);
    // 10 bits: round(v x 255 / 1023)
    EXPECT_EQ(eightBitValue(2, 10), 0);     // 0.499
    EXPECT_EQ(eightBitValue(3, 10), 1);     // 0.748
    EXPECT_EQ(eightBitValue(514, 10), 128); // 128.12
    EXPECT_EQ(eightBitValue(1023, 10), 255);
    // 12 bits
    EXPECT_EQ(eightBitValue(8, 12), 0); // 0.498
    EXPECT_EQ(eightBitValue(9, 12), 1);
    EXPECT_EQ(eightBitValue(4095, 12), 255);
    // 8 bits stay as they are
    EXPECT_EQ(eightBitValue(77, 8), 77);
}

TEST(EightBitValue, EveryStepHasCodesAtEveryDepth) {
    for (const int bits : {10, 12, 16}) {
        int previous = 0;
        for (int code = 0; code < (1 << bits); ++code) {
            const int v = eightBitValue(code, bits);
            ASSERT_TRUE(v == previous || v == previous + 1) << bits << " bits, code " << code;
            previous = v;
        }
        EXPECT_EQ(previous, 255);
    }
}

TEST(EightBitValue, FloatingPointSamplesAreClampedAndFinite) {
    EXPECT_EQ(eightBitValueOfFloat(0.5f), 128); // 127.5 rounds to even
    EXPECT_EQ(eightBitValueOfFloat(1.5f), 255);
    EXPECT_EQ(eightBitValueOfFloat(-0.2f), 0);
    EXPECT_EQ(eightBitValueOfFloat(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(eightBitValueOfFloat(std::numeric_limits<float>::infinity()), 0);
}

TEST(StoredDepthImage, GivesCodesInBlueGreenRedOrder) {
    DecodedScan scan;
    // one RGB pixel of 10-bit codes 1, 2, 1023 as the library gives them: the
    // code in the top bits, its top bits repeated below
    scan.image = cv::Mat(1, 1, CV_16UC3, cv::Scalar(64 | 0, 128 | 0, 65535));
    scan.rgbOrder = true;
    scan.lowBits = 6;
    scan.description.bitsPerSample = 10;
    const cv::Mat eight = eightBitImage(scan, nullptr);
    EXPECT_EQ(eight.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 0));
    const cv::Mat stored = storedDepthImage(scan);
    EXPECT_EQ(stored.at<cv::Vec3w>(0, 0), cv::Vec3w(1023, 2, 1));
}

} // namespace
} // namespace veltrana
