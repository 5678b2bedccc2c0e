#include "movie/turned_scale.h"

#include "movie/movie_file.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace veltrana {
namespace {

TEST(TurnedImage, ReadsStoredRowsAsColumns) {
    // stored 2 x 3: 1 2 3 / 4 5 6
    const cv::Mat stored = (cv::Mat_<uchar>(2, 3) << 1, 2, 3, 4, 5, 6);
    const cv::Mat plain = turnedImage(stored, {});
    const cv::Mat backRows = turnedImage(stored, {true, false});
    const cv::Mat backColumns = turnedImage(stored, {false, true});
    const cv::Mat both = turnedImage(stored, {true, true});
    ASSERT_EQ(plain.size(), cv::Size(2, 3));
    EXPECT_EQ(std::vector<uchar>(plain.begin<uchar>(), plain.end<uchar>()),
              (std::vector<uchar>{1, 4, 2, 5, 3, 6}));
    EXPECT_EQ(std::vector<uchar>(backRows.begin<uchar>(), backRows.end<uchar>()),
              (std::vector<uchar>{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(std::vector<uchar>(backColumns.begin<uchar>(), backColumns.end<uchar>()),
              (std::vector<uchar>{3, 6, 2, 5, 1, 4}));
    EXPECT_EQ(std::vector<uchar>(both.begin<uchar>(), both.end<uchar>()),
              (std::vector<uchar>{6, 3, 5, 2, 4, 1}));
}

enum class Content { Noise, Smooth, Edges };

struct ScaleCase {
    int rows;
    int cols;
    int channels;
    cv::Size scaled;
    Content content;
};

std::string caseName(const testing::TestParamInfo<ScaleCase>& info) {
    const ScaleCase& c = info.param;
    const char* content = c.content == Content::Noise    ? "noise"
                          : c.content == Content::Smooth ? "smooth"
                                                         : "edges";
    return std::to_string(c.cols) + "x" + std::to_string(c.rows) + "c" +
           std::to_string(c.channels) + "to" + std::to_string(c.scaled.width) + "x" +
           std::to_string(c.scaled.height) + content;
}

cv::Mat storedImage(const ScaleCase& c) {
    cv::RNG rng(static_cast<std::uint64_t>(c.rows * 7919 + c.cols * 31 + c.channels));
    cv::Mat stored(c.rows, c.cols, CV_8UC(c.channels));
    if (c.content == Content::Noise) {
        rng.fill(stored, cv::RNG::UNIFORM, 0, 256);
        return stored;
    }
    if (c.content == Content::Edges) {
        // black and white bars: the filter's lobes overshoot both ends
        stored.setTo(cv::Scalar::all(0));
        for (int r = 0; r < c.rows; r += 9) {
            stored.rowRange(r, std::min(r + 4, c.rows)).setTo(cv::Scalar::all(255));
        }
        for (int col = 0; col < c.cols; col += 13) {
            stored.colRange(col, std::min(col + 3, c.cols)).setTo(cv::Scalar(255, 0, 128));
        }
        return stored;
    }
    cv::Mat noise(c.rows, c.cols, CV_32FC(c.channels));
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 2.5);
    cv::normalize(noise, noise, 0, 255, cv::NORM_MINMAX);
    noise.convertTo(stored, CV_8U);
    return stored;
}

class ScaleTurnedCubic : public testing::TestWithParam<ScaleCase> {};

// Every way the image can lie gives cv::resize's pixels on the turned image,
// exactly: the movie's frames must not change by a single level.
TEST_P(ScaleTurnedCubic, GivesResizePixelsOfTheTurnedImage) {
    const ScaleCase& c = GetParam();
    const cv::Mat stored = storedImage(c);
    for (const StoredTurn turn : {StoredTurn{false, false}, StoredTurn{true, false},
                                  StoredTurn{false, true}, StoredTurn{true, true}}) {
        cv::Mat expected;
        cv::resize(turnedImage(stored, turn), expected, c.scaled, 0.0, 0.0, cv::INTER_CUBIC);
        const cv::Mat scaled = scaleTurnedCubic(stored, turn, c.scaled);
        ASSERT_EQ(scaled.size(), c.scaled);
        ASSERT_EQ(scaled.type(), stored.type());
        EXPECT_EQ(cv::norm(scaled, expected, cv::NORM_INF), 0.0)
            << "rows reversed " << turn.reverseStoredRows << ", columns reversed "
            << turn.reverseStoredColumns;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScaleTurnedCubic,
                         testing::Values(
                             // a 35 mm frame at 1200 dpi, stored across, and a ragged one
                             ScaleCase{600, 880, 3, {640, 480}, Content::Smooth},
                             ScaleCase{611, 877, 3, {640, 480}, Content::Noise},
                             ScaleCase{611, 877, 1, {640, 480}, Content::Edges},
                             ScaleCase{903, 517, 1, {640, 480}, Content::Noise},
                             // enlarged on both axes, on one axis, and from a sliver
                             ScaleCase{301, 229, 3, {640, 480}, Content::Edges},
                             ScaleCase{700, 300, 1, {640, 480}, Content::Smooth},
                             ScaleCase{1, 7, 3, {640, 480}, Content::Noise},
                             ScaleCase{5, 2, 1, {640, 480}, Content::Edges},
                             // other scaled sizes whose rows hold a multiple of 32 values
                             ScaleCase{257, 391, 3, {32, 17}, Content::Noise},
                             ScaleCase{480, 640, 1, {96, 480}, Content::Smooth},
                             ScaleCase{640, 480, 1, {640, 480}, Content::Noise},
                             // anything else goes through cv::resize on the turned image
                             ScaleCase{133, 211, 3, {50, 40}, Content::Noise},
                             ScaleCase{640, 480, 3, {480, 640}, Content::Noise}),
                         caseName);

TEST(MovieFrameOfTurned, IsTheMovieFrameOfTheTurnedRegion) {
    ScaleCase grey{377, 455, 1, {640, 480}, Content::Smooth};
    const cv::Mat stored = storedImage(grey);
    const StoredTurn turn{false, true};
    const cv::Mat frame = movieFrameOfTurned(stored, turn);
    ASSERT_EQ(frame.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(frame, movieFrame(turnedImage(stored, turn)), cv::NORM_INF), 0.0);
    const cv::Mat black = movieFrameOfTurned(cv::Mat(), turn);
    ASSERT_EQ(black.size(), cv::Size(640, 480));
    EXPECT_EQ(cv::countNonZero(black.reshape(1)), 0);
}

} // namespace
} // namespace veltrana
