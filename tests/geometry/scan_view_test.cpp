// An upright or mirrored scan read through ScanView is, to every measure,
// the scan lying film-across that it stands for: the same pixels where the
// index arithmetic puts them, the same whole-number sums, the same parts.

#include "geometry/profile.h"
#include "geometry/scan_view.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace veltrana {
namespace {

// A measured scan (film across) of distinct-looking pixels.
cv::Mat measuredScan(int channels, int rows = 23, int cols = 37) {
    cv::Mat scan(rows, cols, channels == 3 ? CV_8UC3 : CV_8UC1);
    std::mt19937 rng(7);
    for (int r = 0; r < scan.rows; ++r) {
        uchar* row = scan.ptr<uchar>(r);
        for (int i = 0; i < scan.cols * channels; ++i) {
            row[i] = static_cast<uchar>(rng() % 256);
        }
    }
    return scan;
}

// The file a scanner writing `side` makes of the measured scan.
cv::Mat storedAs(const cv::Mat& measured, TrackSide side) {
    cv::Mat stored;
    switch (side) {
    case TrackSide::Top:
    case TrackSide::Bottom:
        return measured.clone();
    case TrackSide::Left:
        cv::rotate(measured, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
        return stored;
    case TrackSide::Right:
        cv::rotate(measured, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
        cv::flip(stored, stored, 1);
        return stored;
    }
    return stored;
}

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

struct Case {
    TrackSide side;
    int channels;
};

class ScanViewOf : public testing::TestWithParam<Case> {};

TEST_P(ScanViewOf, GivesTheMeasuredScanBack) {
    const cv::Mat measured = measuredScan(GetParam().channels);
    const ScanView view(storedAs(measured, GetParam().side), GetParam().side);
    EXPECT_EQ(view.size(), measured.size());
    EXPECT_TRUE(samePixels(view.measuredImage(), measured));
    cv::Mat working;
    cv::rotate(measured, working, cv::ROTATE_90_COUNTERCLOCKWISE);
    EXPECT_TRUE(samePixels(view.workingImage(), working));
}

TEST_P(ScanViewOf, PartsAreThePartsOfTheMeasuredScan) {
    const cv::Mat measured = measuredScan(GetParam().channels);
    const ScanView view(storedAs(measured, GetParam().side), GetParam().side);
    const cv::Rect region(5, 3, 19, 11); // x along the film, y across
    EXPECT_TRUE(samePixels(view.part(region).measuredImage(), measured(region)));
    EXPECT_TRUE(samePixels(view.colRange(30, 37).measuredImage(), measured.colRange(30, 37)));
    EXPECT_TRUE(samePixels(view.rowRange(0, 4).measuredImage(), measured.rowRange(0, 4)));
}

TEST_P(ScanViewOf, SumsAreThoseOfTheMeasuredScan) {
    const cv::Mat measured = measuredScan(GetParam().channels);
    const ScanView view(storedAs(measured, GetParam().side), GetParam().side);
    const int channel = GetParam().channels - 1;

    std::vector<std::uint32_t> expected(static_cast<std::size_t>(measured.cols), 0);
    addColumnSums(measured, 4, 17, channel, expected);
    std::vector<std::uint32_t> columns(expected.size(), 0);
    view.addColumnSums(4, 17, channel, columns);
    EXPECT_EQ(columns, expected);

    std::vector<std::uint32_t> expectedRows(static_cast<std::size_t>(measured.rows), 0);
    std::vector<std::uint32_t> expectedBright(expectedRows.size(), 0);
    for (int r = 0; r < measured.rows; ++r) {
        for (int c = 0; c < measured.cols; ++c) {
            const uchar v = measured.ptr<uchar>(r)[c * measured.channels() + channel];
            expectedRows[static_cast<std::size_t>(r)] += v;
            expectedBright[static_cast<std::size_t>(r)] += v > 127 ? 1 : 0;
        }
    }
    std::vector<std::uint32_t> rows(expectedRows.size(), 0);
    view.addRowSums(channel, rows);
    EXPECT_EQ(rows, expectedRows);
    if (GetParam().channels == 1) {
        std::vector<std::uint32_t> bright(expectedRows.size(), 0);
        view.addRowSums(0, bright, true);
        EXPECT_EQ(bright, expectedBright);
    }
}

// Rows sums of an upright scan are taken along its stored rows in runs of
// pixels: many rows (more runs than 16-bit partial sums of 255 could hold),
// bright ones among them, and stretches that start and end within a run.
TEST_P(ScanViewOf, SumsWithinRowsAreThoseOfTheMeasuredScan) {
    cv::Mat measured = measuredScan(GetParam().channels, 16 * 300 + 7, 5);
    measured.rowRange(0, 16 * 280).colRange(0, 2).setTo(cv::Scalar::all(255));
    const ScanView view(storedAs(measured, GetParam().side), GetParam().side);
    for (const int channel : {0, GetParam().channels - 1}) {
        for (const auto& [first, end] :
             {std::pair{5, 4801}, std::pair{0, 4807}, std::pair{33, 33}}) {
            std::vector<std::uint32_t> expected(static_cast<std::size_t>(measured.cols), 0);
            addColumnSums(measured, first, end, channel, expected);
            std::vector<std::uint32_t> expectedAll(expected.size(), 0);
            addColumnSums(measured, 0, measured.rows, channel, expectedAll);
            std::vector<std::uint32_t> within(expected.size(), 0);
            std::vector<std::uint32_t> all(expected.size(), 0);
            view.addColumnSumsWithin(first, end, channel, within, all);
            EXPECT_EQ(within, expected) << "rows " << first << " to " << end;
            EXPECT_EQ(all, expectedAll) << "rows " << first << " to " << end;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, ScanViewOf,
                         testing::Values(Case{TrackSide::Top, 1}, Case{TrackSide::Left, 1},
                                         Case{TrackSide::Left, 3}, Case{TrackSide::Right, 1},
                                         Case{TrackSide::Right, 3}));

TEST(TrackSideNames, TakeTheOldRotationNamesToo) {
    EXPECT_EQ(trackSideFromName("up"), TrackSide::Top);
    EXPECT_EQ(trackSideFromName("down"), TrackSide::Bottom);
    EXPECT_EQ(trackSideFromName("left"), TrackSide::Left);
    EXPECT_EQ(trackSideFromName("right"), TrackSide::Right);
    EXPECT_EQ(trackSideFromName("auto"), std::nullopt);
    EXPECT_EQ(trackSideName(TrackSide::Right), "right");
}

} // namespace
} // namespace veltrana
