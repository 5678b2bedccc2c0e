#include "geometry/frame_correction.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

namespace veltrana {
namespace {

using test::imageWithColumns;

// Columns: `values` repeated over every row.
FrameBounds boundsOf(const std::vector<int>& values,
                     SoundtrackType type = SoundtrackType::VariableArea35, bool longStrip = false) {
    return findFrameBounds(imageWithColumns(values, 20), type, longStrip);
}

std::vector<int> frameWithLines(int width, int lineColumns, int picture = 200, int line = 20) {
    std::vector<int> v(static_cast<std::size_t>(width), picture);
    for (int c = 0; c < lineColumns; ++c) {
        v[static_cast<std::size_t>(c)] = line;
        v[static_cast<std::size_t>(width - 1 - c)] = line;
    }
    return v;
}

TEST(FrameCorrection, CutsAtTheFrameLines) {
    // dark frame line columns 0..4 and 95..99 around the picture
    const FrameBounds b = boundsOf(frameWithLines(100, 5));
    EXPECT_EQ(b.left, 5);
    EXPECT_EQ(b.right, 94);
}

TEST(FrameCorrection, KeepsHeightAndChannels) {
    cv::Mat scan(30, 100, CV_8UC3, cv::Scalar(200, 100, 50));
    scan.colRange(0, 5).setTo(cv::Scalar(20, 20, 20));
    scan.colRange(95, 100).setTo(cv::Scalar(20, 20, 20));
    const cv::Mat frame = frameCorrection(scan, SoundtrackType::VariableArea35, false);
    EXPECT_EQ(frame.rows, 30);
    EXPECT_EQ(frame.cols, 90);
    EXPECT_EQ(frame.channels(), 3);
    EXPECT_EQ(frame.at<cv::Vec3b>(0, 0), cv::Vec3b(200, 100, 50));
}

TEST(FrameCorrection, LeftMarginThatNeverFallsAgainstADarkHalfCutsColumnOne) {
    // left 7 % only rises (leftMin 255); a fall to 100 in the first half makes
    // halfMin 100 < 127.5
    std::vector<int> v(100, 200);
    for (int c = 0; c < 7; ++c) {
        v[static_cast<std::size_t>(c)] = 150 + c;
    }
    v[30] = 100;
    EXPECT_EQ(boundsOf(v).left, 1);
}

TEST(FrameCorrection, RightMarginThatNeverFallsKeepsTheLastColumn) {
    std::vector<int> v = frameWithLines(100, 5);
    for (int c = 93; c < 100; ++c) {
        v[static_cast<std::size_t>(c)] = 200 + (c - 93); // rises to the end
    }
    EXPECT_EQ(boundsOf(v).right, 99);
}

TEST(FrameCorrection, UnsettledLeftSideIsNotTrimmed) {
    // leftMin == 2 x halfMin, not zero: no rule applies
    std::vector<int> v(100, 200);
    v[3] = 100; // fall inside the left margin
    v[30] = 50; // the half's lowest fall
    EXPECT_EQ(boundsOf(v).left, 0);
}

TEST(FrameCorrection, RightMarginWithoutAFallingDifferenceIsNotTrimmed) {
    // the margin falls, but by a constant step: no difference in it falls below
    // its predecessor
    std::vector<int> v(100, 200);
    for (int c = 93; c < 100; ++c) {
        v[static_cast<std::size_t>(c)] = 100 - 5 * (c - 93); // falls by a constant step
    }
    EXPECT_EQ(boundsOf(v).right, 99);
}

TEST(FrameCorrection, LongStripSearchesTheFirstTwoPercentAndCutsAt98) {
    // W = 1000: the brightest rise of columns 0..19, found in 0..20
    std::vector<int> v(1000, 200);
    for (int c = 0; c < 21; ++c) {
        v[static_cast<std::size_t>(c)] = 30;
    }
    v[12] = 90;
    FrameBounds b = boundsOf(v, SoundtrackType::VariableArea16, true);
    EXPECT_EQ(b.left, 12);
    EXPECT_EQ(b.right, 980);

    // no rise at all (M = 0): a black column 20 is still found
    v[12] = 30;
    v[20] = 0;
    EXPECT_EQ(boundsOf(v, SoundtrackType::VariableArea16, true).left, 20);

    // no rise and no black column: the left side is not trimmed
    v[20] = 30;
    EXPECT_EQ(boundsOf(v, SoundtrackType::VariableArea16, true).left, 0);
}

TEST(FrameCorrection, LongStripChangesNothingFor35mm) {
    const std::vector<int> v = frameWithLines(1000, 40);
    for (auto type : {SoundtrackType::VariableArea35, SoundtrackType::VariableDensity35}) {
        const FrameBounds a = boundsOf(v, type, false);
        const FrameBounds b = boundsOf(v, type, true);
        EXPECT_EQ(a.left, b.left);
        EXPECT_EQ(a.right, b.right);
    }
}

TEST(FrameCorrection, AnyImageSizeGivesAValidCrop) {
    for (const auto& size :
         {cv::Size(1, 1), cv::Size(1, 7), cv::Size(7, 1), cv::Size(2, 3), cv::Size(40, 2)}) {
        for (int value : {0, 255}) {
            for (auto type : {SoundtrackType::VariableArea35, SoundtrackType::VariableArea16}) {
                for (bool strip : {false, true}) {
                    const cv::Mat scan(size, CV_8UC1, cv::Scalar(value));
                    const FrameBounds b = findFrameBounds(scan, type, strip);
                    EXPECT_LE(0, b.left);
                    EXPECT_LE(b.left, b.right);
                    EXPECT_LT(b.right, size.width);
                    const cv::Mat frame = frameCorrection(scan, type, strip);
                    EXPECT_EQ(frame.rows, size.height);
                    EXPECT_GE(frame.cols, 1);
                }
            }
        }
    }
}

} // namespace
} // namespace veltrana
