#include "soundtrack/strip.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace veltrana {
namespace {

using test::imageWithColumns;

// Columns of 0 or 255 from a list of (first column, value) runs.
std::vector<int> runs(int width, std::vector<std::pair<int, int>> starts) {
    std::vector<int> v(static_cast<std::size_t>(width), 0);
    for (std::size_t r = 0; r < starts.size(); ++r) {
        const int end = r + 1 < starts.size() ? starts[r + 1].first : width;
        for (int c = starts[r].first; c < end; ++c) {
            v[static_cast<std::size_t>(c)] = starts[r].second;
        }
    }
    return v;
}

const SoundtrackGeometry kWs227{227, 1813};

TEST(StripByProfile, NoEdgesCutsTheMiddleOfTheTrackWidth) {
    for (int value : {0, 255}) {
        const cv::Mat flat(40, 300, CV_8UC1, cv::Scalar(value));
        EXPECT_EQ(stripRangeByProfile(flat, SoundtrackType::VariableArea35, kWs227, true),
                  (StripRange{23, 204}));
    }
}

TEST(StripByProfile, FirstRiseAndLastFallWin) {
    // a bright sliver, a flat dark run, the band with a dark gap inside it
    const cv::Mat image = imageWithColumns(
        runs(300, {{0, 255}, {5, 0}, {50, 255}, {100, 0}, {110, 255}, {150, 0}}), 30);
    // rise at difference 49, falls at 99 and 149; margin round(22.7) = 23
    EXPECT_EQ(stripRangeByProfile(image, SoundtrackType::VariableArea35, kWs227, true),
              (StripRange{26, 172}));
}

TEST(StripByProfile, RiseWithoutFallRunsToNinetyPercent) {
    const cv::Mat image = imageWithColumns(runs(300, {{0, 255}, {5, 0}, {50, 255}}), 30);
    EXPECT_EQ(stripRangeByProfile(image, SoundtrackType::VariableArea16, kWs227, true),
              (StripRange{26, 204}));
}

TEST(StripByProfile, VariableDensityTiesGoToTheLaterColumn) {
    // two equal strongest rises, at differences 19 and 59
    const cv::Mat image = imageWithColumns(runs(500, {{0, 0}, {20, 255}, {40, 0}, {60, 255}}), 30);
    EXPECT_EQ(stripRangeByProfile(image, SoundtrackType::VariableDensity35, {240, 1813}, true),
              (StripRange{6, 50}));
}

TEST(StripFromEdge, CutsAFixedWidthFromTheStrongestBrightening) {
    std::vector<int> v(1000, 200);
    for (int c = 0; c < 10; ++c) {
        v[static_cast<std::size_t>(c)] = 50;
    }
    const cv::Mat image = imageWithColumns(v, 20); // brightening at difference 9
    EXPECT_EQ(stripRangeFromEdge(image, SoundtrackType::VariableDensity35, {240, 1813}, true),
              (StripRange{19, 197})); // c + 10 .. c + 188: 179 columns
    EXPECT_EQ(stripRangeFromEdge(image, SoundtrackType::VariableArea35, kWs227, true),
              (StripRange{9, 236})); // 228 columns
    EXPECT_EQ(stripRangeFromEdge(image, SoundtrackType::VariableArea16, kWs227, true),
              (StripRange{9, 259})); // 251 columns
}

TEST(StripOrientation, ADownFrameIsTheMirrorOfAnUpFrame) {
    const std::vector<int> v = runs(300, {{0, 255}, {5, 0}, {50, 255}, {150, 0}});
    cv::Mat up = imageWithColumns(v, 30);
    for (int r = 0; r < up.rows; ++r) {
        up.at<uchar>(r, 60) = static_cast<uchar>(r * 7); // something to read as sound
    }
    cv::Mat down;
    cv::flip(up, down, 1);
    for (auto type : {SoundtrackType::VariableArea35, SoundtrackType::VariableArea16}) {
        for (bool byProfile : {true, false}) {
            const StripRange a = byProfile ? stripRangeByProfile(up, type, kWs227, true)
                                           : stripRangeFromEdge(up, type, kWs227, true);
            const StripRange b = byProfile ? stripRangeByProfile(down, type, kWs227, false)
                                           : stripRangeFromEdge(down, type, kWs227, false);
            EXPECT_EQ(b.first, 299 - a.last);
            EXPECT_EQ(b.last, 299 - a.first);
            cv::Mat upCopy = up.clone();
            cv::Mat downCopy = down.clone();
            EXPECT_EQ(stripToSamples(cutStrip(upCopy, a, ColorElement::R), true),
                      stripToSamples(cutStrip(downCopy, b, ColorElement::R), true));
        }
    }
}

TEST(StripCut, RangesOutsideTheImageAreClippedToAtLeastOneColumn) {
    EXPECT_EQ(clipStripRange({-30, 12}, 100), (StripRange{0, 12}));
    EXPECT_EQ(clipStripRange({90, 130}, 100), (StripRange{90, 99}));
    EXPECT_EQ(clipStripRange({-9, -3}, 100), (StripRange{0, 0}));
    EXPECT_EQ(clipStripRange({150, 160}, 100), (StripRange{99, 99}));
    EXPECT_EQ(clipStripRange({50, 40}, 100), (StripRange{50, 50}));
    cv::Mat image(5, 100, CV_8UC1, cv::Scalar(3));
    EXPECT_EQ(cutStrip(image, {150, 160}, ColorElement::R).cols, 1);
}

TEST(StripCut, ReadsTheChosenColourElement) {
    cv::Mat colour(4, 6, CV_8UC3, cv::Scalar(10, 100, 200));
    EXPECT_EQ(cutStrip(colour, {1, 3}, ColorElement::B).at<uchar>(0, 0), 10);
    EXPECT_EQ(cutStrip(colour, {1, 3}, ColorElement::G).at<uchar>(0, 0), 100);
    EXPECT_EQ(cutStrip(colour, {1, 3}, ColorElement::R).at<uchar>(0, 0), 200);
    EXPECT_EQ(cutStrip(colour, {1, 3}, ColorElement::R).channels(), 1);

    // Y turns the working image itself grey
    const cv::Mat y = cutStrip(colour, {1, 3}, ColorElement::Y);
    const int luminance = y.at<uchar>(0, 0);
    EXPECT_NEAR(luminance, 0.114 * 10 + 0.587 * 100 + 0.299 * 200, 1.0);
    EXPECT_EQ(colour.at<cv::Vec3b>(2, 5), cv::Vec3b(luminance, luminance, luminance));

    cv::Mat grey(4, 6, CV_8UC1, cv::Scalar(77));
    for (auto e : {ColorElement::B, ColorElement::G, ColorElement::R, ColorElement::Y}) {
        EXPECT_EQ(cutStrip(grey, {0, 2}, e).at<uchar>(3, 2), 77);
    }
}

TEST(StripSamples, MeanAcrossTheStripWithAndWithoutDc) {
    const cv::Mat strip(3, 5, CV_8UC1, cv::Scalar(200));
    EXPECT_EQ(stripToSamples(strip, false), (std::vector<float>{200, 200, 200}));
    EXPECT_EQ(stripToSamples(strip, true), (std::vector<float>{-128, -128, -128}));
    const cv::Mat ramp = (cv::Mat_<uchar>(2, 2) << 10, 20, 30, 50);
    EXPECT_EQ(stripToSamples(ramp, false), (std::vector<float>{15, 40}));
    EXPECT_EQ(stripToSamples(ramp, true), (std::vector<float>{-12.5f - 128, 12.5f - 128}));
}

TEST(StripCutters, AnyImageSizeIsCutWithoutReadingOutside) {
    for (const auto& size : {cv::Size(1, 1), cv::Size(1, 9), cv::Size(9, 1), cv::Size(3, 2)}) {
        for (int value : {0, 255}) {
            for (auto type : {SoundtrackType::VariableArea35, SoundtrackType::VariableDensity35,
                              SoundtrackType::VariableArea16}) {
                for (bool up : {true, false}) {
                    cv::Mat image(size, CV_8UC3, cv::Scalar(value, value, value));
                    const cv::Mat a = cutStripByProfile(image, type, kWs227, ColorElement::Y, up);
                    const cv::Mat b = cutStripFromEdge(image, type, kWs227, ColorElement::G, up);
                    EXPECT_EQ(a.rows, size.height);
                    EXPECT_GE(a.cols, 1);
                    EXPECT_EQ(b.rows, size.height);
                    EXPECT_GE(b.cols, 1);
                }
            }
        }
    }
}

} // namespace
} // namespace veltrana
