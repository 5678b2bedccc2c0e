#include "movie/frame_geometry.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace veltrana {
namespace {

constexpr SoundtrackType kArea35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType kDensity35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType kArea16 = SoundtrackType::VariableArea16;

// A working image whose rows are `background`, with the rows of each
// [first, last] band set to `value`.
struct Band {
    int first;
    int last;
    int value;
};

cv::Mat imageWithRowBands(int rows, int cols, int background, const std::vector<Band>& bands) {
    cv::Mat image(rows, cols, CV_8UC1, cv::Scalar(background));
    for (const Band& b : bands) {
        image.rowRange(b.first, b.last + 1).setTo(cv::Scalar(b.value));
    }
    return image;
}

bool insideImage(const cv::Rect& r, const cv::Mat& image) {
    return r.width > 0 && r.height > 0 && (r & cv::Rect(0, 0, image.cols, image.rows)) == r;
}

// --- pixel sizes ------------------------------------------------------------

struct SizeRow {
    SoundtrackType type;
    bool cutSoundtrack;
    int soundWidth;
    int imageLength; // -1: measured (16 mm), not checked here
    int imageWidth;
};

std::ostream& operator<<(std::ostream& os, const SizeRow& r) {
    return os << "type " << static_cast<int>(r.type) << (r.cutSoundtrack ? " cut" : " uncut");
}

class PixelSizesAt1800 : public testing::TestWithParam<SizeRow> {};

TEST_P(PixelSizesAt1800, FollowTheFilmStandard) {
    const SizeRow& row = GetParam();
    const cv::Mat image = imageWithRowBands(400, 100, 200, {});
    const FrameGeometry g = measureFrameGeometry(row.type, {1800, 1800}, row.cutSoundtrack, image);
    EXPECT_EQ(g.sound_width, row.soundWidth);
    EXPECT_EQ(g.image_width, row.imageWidth);
    if (row.imageLength >= 0) {
        EXPECT_EQ(g.image_length, row.imageLength);
        EXPECT_FALSE(g.nominalPitch);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PixelSizesAt1800,
                         testing::Values(SizeRow{kArea35, false, 142, 1346, 0},
                                         SizeRow{kArea35, true, 142, 1077, 1488},
                                         SizeRow{kDensity35, false, 142, 1346, 0},
                                         SizeRow{kDensity35, true, 142, 1077, 1453},
                                         SizeRow{kArea16, false, 180, -1, 496},
                                         SizeRow{kArea16, true, 180, -1, 496}));

TEST(PixelSizes, AcrossAndAlongUseTheirOwnResolution) {
    const cv::Mat image = imageWithRowBands(10, 10, 200, {});
    // dpiX only for widths, dpiY only for lengths
    const FrameGeometry g = measureFrameGeometry(kArea35, {900, 3600}, true, image);
    EXPECT_EQ(g.sound_width, 71);    // 900 x 0.2 / 2.54 = 70.87
    EXPECT_EQ(g.image_width, 744);   // 900 x 2.1 / 2.54 = 744.09
    EXPECT_EQ(g.image_length, 2154); // 3600 x 1.52 / 2.54 = 2154.33
}

// --- brightness factor --------------------------------------------------------

struct FactorRow {
    float mean;
    double measure;
    double cut;
};

class BrightnessFactor : public testing::TestWithParam<FactorRow> {};

TEST_P(BrightnessFactor, DependsOnTheMean) {
    const FactorRow& row = GetParam();
    EXPECT_EQ(brightnessFactor(row.mean, BrightnessUse::Measure), row.measure) << row.mean;
    EXPECT_EQ(brightnessFactor(row.mean, BrightnessUse::Cut), row.cut) << row.mean;
}

INSTANTIATE_TEST_SUITE_P(Bands, BrightnessFactor,
                         testing::Values(FactorRow{0.0f, 0.015, 0.015},
                                         FactorRow{31.999f, 0.015, 0.015},
                                         FactorRow{32.0f, 0.2, 0.2}, FactorRow{99.99f, 0.2, 0.2},
                                         FactorRow{100.0f, 0.2, 0.25},
                                         FactorRow{100.01f, 0.2, 0.25},
                                         FactorRow{255.0f, 0.2, 0.25}));

TEST(BrightMask, GreyAboveTheThresholdIsOne) {
    // 255 x 0.2 = 51: 51 stays dark, 52 is bright
    const cv::Mat image = test::imageWithColumns({0, 51, 52, 255}, 2);
    const cv::Mat mask = brightMask(image, 0.2);
    ASSERT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(mask.at<uchar>(1, 0), 0);
    EXPECT_EQ(mask.at<uchar>(1, 1), 0);
    EXPECT_EQ(mask.at<uchar>(1, 2), 1);
    EXPECT_EQ(mask.at<uchar>(1, 3), 1);
}

TEST(BrightMask, ColourUsesTheGreyValueNotBlue) {
    // pure red: blue 0, but grey 0.299 x 255 = 76 > 51
    const cv::Mat red(2, 2, CV_8UC3, cv::Scalar(0, 0, 255));
    EXPECT_EQ(cv::countNonZero(brightMask(red, 0.2)), 4);
    // while the mean that chooses the factor reads blue only
    EXPECT_EQ(imageMean(red), 0.0f);
}

TEST(BrightCounts, GreyRoundsAsTheColourConversionAndComparesWithTheFloor) {
    // grey values: red 76, green 150, black 0 / white 255, blue 29, red 76
    const cv::Mat image =
        (cv::Mat_<cv::Vec3b>(2, 3) << cv::Vec3b(0, 0, 255), cv::Vec3b(0, 255, 0),
         cv::Vec3b(0, 0, 0), cv::Vec3b(255, 255, 255), cv::Vec3b(255, 0, 0), cv::Vec3b(0, 0, 255));
    std::vector<std::uint32_t> columns(3, 0);
    std::vector<std::uint32_t> rows(2, 0);
    // 255 x 0.3 = 76.5: red's 76 is not above 76
    addBrightCounts(image, 0.3, 0, 2, columns, rows);
    EXPECT_EQ(columns, (std::vector<std::uint32_t>{1, 1, 0}));
    EXPECT_EQ(rows, (std::vector<std::uint32_t>{1, 1}));
    // 255 x 0.298 = 75.99: red is above 75; only the second row counted by column
    addBrightCounts(image, 0.298, 1, 5, columns, {});
    EXPECT_EQ(columns, (std::vector<std::uint32_t>{2, 1, 1}));
}

// Every colour once: the grey values round exactly as cv::cvtColor rounds them.
TEST(BrightCounts, EveryColourCountsAsItsMaskDoes) {
    cv::Mat image(4096, 4096, CV_8UC3);
    for (int i = 0; i < (1 << 24); ++i) {
        uchar* p = image.ptr<uchar>() + 3 * static_cast<std::ptrdiff_t>(i);
        p[0] = static_cast<uchar>(i & 255);
        p[1] = static_cast<uchar>((i >> 8) & 255);
        p[2] = static_cast<uchar>(i >> 16);
    }
    for (const double factor : {0.3, 0.75}) {
        cv::Mat perRow;
        cv::Mat perColumn;
        cv::reduce(brightMask(image, factor), perRow, 1, cv::REDUCE_SUM, CV_32S);
        cv::reduce(brightMask(image, factor), perColumn, 0, cv::REDUCE_SUM, CV_32S);
        std::vector<std::uint32_t> rows(4096, 0);
        std::vector<std::uint32_t> columns(4096, 0);
        addBrightCounts(image, factor, 0, 4096, columns, rows);
        EXPECT_EQ(rows, std::vector<std::uint32_t>(perRow.begin<int>(), perRow.end<int>()));
        EXPECT_EQ(columns,
                  std::vector<std::uint32_t>(perColumn.begin<int>(), perColumn.end<int>()));
    }
}

struct CountCase {
    int channels;
    double factor;
    int firstRow;
    int endRow;
};

class BrightCounts : public testing::TestWithParam<CountCase> {};

// The counts are the bright mask's sums, whatever the threshold and rows.
TEST_P(BrightCounts, AreTheMasksSums) {
    const CountCase& c = GetParam();
    cv::Mat image(97, 131, CV_8UC(c.channels));
    cv::RNG rng(20261208);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    const cv::Mat mask = brightMask(image, c.factor);
    std::vector<std::uint32_t> expectedColumns(131, 0);
    std::vector<std::uint32_t> expectedRows(97, 0);
    for (int y = 0; y < 97; ++y) {
        for (int x = 0; x < 131; ++x) {
            const uchar bright = mask.at<uchar>(y, x);
            expectedRows[static_cast<std::size_t>(y)] += bright;
            if (y >= c.firstRow && y < c.endRow) {
                expectedColumns[static_cast<std::size_t>(x)] += bright;
            }
        }
    }
    std::vector<std::uint32_t> columns(131, 0);
    std::vector<std::uint32_t> rows(97, 0);
    addBrightCounts(image, c.factor, c.firstRow, c.endRow, columns, rows);
    EXPECT_EQ(columns, expectedColumns);
    EXPECT_EQ(rows, expectedRows);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, BrightCounts,
                         testing::Values(CountCase{3, 0.25, 0, 97}, CountCase{3, 0.015, 10, 60},
                                         CountCase{3, 0.5, 96, 200}, CountCase{1, 0.2, -5, 40},
                                         CountCase{1, 0.25, 0, 0}, CountCase{3, -0.1, 0, 97},
                                         CountCase{1, 1.0, 0, 97}, CountCase{3, 2.0, 3, 9}));

// --- picture edge with "Cut Soundtrack" ---------------------------------------

// Columns 10..14 a bright soundtrack stripe, 15..19 dark, then picture:
// 40 columns at 40 and 40 at `lowPicture`. With lowPicture 15 the mean is
// exactly 32.
cv::Mat soundtrackAndPicture(int lowPicture) {
    std::vector<int> columns(100, 0);
    for (int c = 10; c <= 14; ++c) {
        columns[static_cast<std::size_t>(c)] = 200;
    }
    for (int c = 20; c < 60; ++c) {
        columns[static_cast<std::size_t>(c)] = 40;
    }
    for (int c = 60; c < 100; ++c) {
        columns[static_cast<std::size_t>(c)] = lowPicture;
    }
    return test::imageWithColumns(columns, 100);
}

struct EdgeRow {
    const char* name;
    SoundtrackType type;
    int lowPicture;
    float mean;
    int pictureEdge;
};

class PictureEdge : public testing::TestWithParam<EdgeRow> {};

TEST_P(PictureEdge, RiseOnBrightFramesFallOnDarkOnes) {
    const EdgeRow& row = GetParam();
    const cv::Mat image = soundtrackAndPicture(row.lowPicture);
    ASSERT_EQ(imageMean(image), row.mean);
    const FrameGeometry g{0, 50, 40};
    const FrameCut cut = findFrameCut(image, g, row.type, false, true);
    EXPECT_EQ(cut.pictureEdge, row.pictureEdge);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0].x, row.pictureEdge);
    EXPECT_EQ(cut.pieces[0].width, 41); // image_width + 1 columns
}

INSTANTIATE_TEST_SUITE_P(Means, PictureEdge,
                         testing::Values(
                             // mean exactly 32: factor 0.2, only the stripe is bright, the last
                             // rise (D > 0.09) is into the stripe at column 9
                             EdgeRow{"Mean32Density", kDensity35, 15, 32.0f, 9},
                             EdgeRow{"Mean32Area16", kArea16, 15, 32.0f, 9},
                             // variable area moves on by 0.05 x H = 5 rows' worth of columns
                             EdgeRow{"Mean32Area35", kArea35, 15, 32.0f, 14},
                             // mean below 32: factor 0.015, the picture is bright too, the last
                             // fall (D < -0.005) is out of the stripe at column 14
                             EdgeRow{"DarkDensity", kDensity35, 14, 31.6f, 14},
                             EdgeRow{"DarkArea16", kArea16, 14, 31.6f, 14}),
                         [](const testing::TestParamInfo<EdgeRow>& info) {
                             return info.param.name;
                         });

TEST(PictureEdge, NoEdgeInTheSearchCutsFromColumnZero) {
    const cv::Mat flat = imageWithRowBands(100, 100, 200, {});
    const FrameCut cut = findFrameCut(flat, {0, 50, 40}, kDensity35, false, true);
    EXPECT_EQ(cut.pictureEdge, 0);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0].x, 0);
}

TEST(PictureEdge, PictureWiderThanTheRestOfTheImageIsClipped) {
    // 35 mm at 1800 dpi: 1488 columns after an edge at 6 % or more of an
    // image that spans 2.09 cm (1481 columns) always run past the right edge
    const cv::Mat image = soundtrackAndPicture(15);
    const FrameCut cut = findFrameCut(image, {142, 50, 1488}, kArea35, false, true);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0].x, 14);
    EXPECT_EQ(cut.pieces[0].x + cut.pieces[0].width, image.cols);
    EXPECT_TRUE(insideImage(cut.pieces[0], image));
}

// --- frame start and the rows cut ---------------------------------------------

TEST(FrameStart, IsTheStrongestRiseIntoPictureInTheWindow) {
    // H = 1000: window [50, 350). A frame line ends at row 119; a weaker rise
    // (half the width dark) at row 200 does not count.
    cv::Mat image = imageWithRowBands(1000, 100, 200, {{100, 119, 10}});
    image(cv::Rect(0, 190, 50, 11)).setTo(cv::Scalar(10));
    const FrameCut cut = findFrameCut(image, {142, 300, 0}, kArea35, false, false);
    EXPECT_EQ(cut.frameStart, 119);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0], cv::Rect(0, 119, 100, 300));
}

TEST(FrameStart, RiseOutsideTheWindowIsIgnored) {
    // H = 1000: the only rise, at row 20, lies before the window [50, 350)
    const cv::Mat image = imageWithRowBands(1000, 100, 200, {{0, 20, 10}});
    const FrameCut cut = findFrameCut(image, {142, 300, 0}, kArea35, false, false);
    EXPECT_NE(cut.frameStart, 20);
    EXPECT_TRUE(insideImage(cut.pieces[0], image));
}

TEST(FrameStart, SoundtrackColumnsDoNotCount) {
    // a rise in the left fifth only (columns 0..18) is the soundtrack, not a
    // frame line; the frame line ending at row 300 shows in columns 85..99
    // only, a weaker rise than the soundtrack's over all columns
    cv::Mat image = imageWithRowBands(1000, 100, 200, {});
    image(cv::Rect(0, 100, 19, 21)).setTo(cv::Scalar(10));
    image(cv::Rect(85, 280, 15, 21)).setTo(cv::Scalar(10));
    const FrameCut cut = findFrameCut(image, {142, 300, 0}, kArea35, false, false);
    EXPECT_EQ(cut.frameStart, 300);
}

struct ClipRow {
    const char* name;
    SoundtrackType type;
    bool longStrip;
    bool cutSoundtrack;
    FrameGeometry geometry;
    bool reachesTheLastRow;
};

class RegionsInsideTheImage : public testing::TestWithParam<ClipRow> {};

TEST_P(RegionsInsideTheImage, AreNeverEmptyNorOutside) {
    const ClipRow& row = GetParam();
    // frame line ending at row 119 of 500: every geometry below runs past
    // the last row or the last column
    const cv::Mat image = imageWithRowBands(500, 80, 200, {{100, 119, 10}});
    const FrameCut cut =
        findFrameCut(image, row.geometry, row.type, row.longStrip, row.cutSoundtrack);
    ASSERT_EQ(cut.pieces.size(), row.longStrip && row.type == kArea16 ? 4u : 1u);
    for (const cv::Rect& r : cut.pieces) {
        EXPECT_TRUE(insideImage(r, image)) << r;
    }
    if (row.reachesTheLastRow) {
        EXPECT_EQ(cut.pieces.back().y + cut.pieces.back().height, image.rows);
    }
    // and the views can be taken
    const std::vector<cv::Mat> pieces =
        cutFrame(image, row.geometry, row.type, row.longStrip, row.cutSoundtrack);
    ASSERT_EQ(pieces.size(), cut.pieces.size());
    EXPECT_FALSE(pieces.back().empty());
}

INSTANTIATE_TEST_SUITE_P(
    PastTheEnd, RegionsInsideTheImage,
    testing::Values(
        ClipRow{"RowsPastTheEnd", kArea35, false, false, {142, 1346, 0}, true},
        ClipRow{"ColumnsPastTheWidth", kArea35, false, true, {142, 1077, 1488}, true},
        ClipRow{"DensityPastBoth", kDensity35, false, true, {142, 1077, 1453}, true},
        ClipRow{"LongStripPiecesPastTheLastRow", kArea16, true, true, {180, 4000, 496}, true},
        ClipRow{"LongStripAllPiecesPastTheEnd", kArea16, true, false, {180, 40000, 0}, true},
        ClipRow{"NoLength", kArea35, false, false, {0, 0, 0}, false},
        ClipRow{"NegativeWidth", kArea16, false, true, {0, 10, -50}, false}),
    [](const testing::TestParamInfo<ClipRow>& info) { return info.param.name; });

TEST(FrameCut, EmptyImageGivesNoPieces) {
    EXPECT_TRUE(findFrameCut(cv::Mat(), {142, 100, 0}, kArea35, false, true).pieces.empty());
    EXPECT_TRUE(cutFrame(cv::Mat(), {142, 100, 0}, kArea16, true, true).empty());
}

TEST(FrameCut, WithoutCutSoundtrackTakesEveryColumn) {
    const cv::Mat image = soundtrackAndPicture(15);
    const FrameCut cut = findFrameCut(image, {142, 50, 496}, kArea16, false, false);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0].x, 0);
    EXPECT_EQ(cut.pieces[0].width, image.cols);
}

// --- the 16 mm long strip ------------------------------------------------------

TEST(LongStrip, FourPiecesEachStartingOnTheLastRowOfTheOneBefore) {
    // H = 2000: window [20, 360); the frame line ends at row 49
    const cv::Mat image = imageWithRowBands(2000, 100, 200, {{0, 49, 10}});
    const FrameCut cut = findFrameCut(image, {180, 400, 496}, kArea16, true, false);
    const int x0 = 49;
    EXPECT_EQ(cut.frameStart, x0);
    ASSERT_EQ(cut.pieces.size(), 4u);
    EXPECT_EQ(cut.pieces[0], cv::Rect(0, x0, 100, 100));
    EXPECT_EQ(cut.pieces[1], cv::Rect(0, x0 + 99, 100, 100));
    EXPECT_EQ(cut.pieces[2], cv::Rect(0, x0 + 198, 100, 100));
    EXPECT_EQ(cut.pieces[3], cv::Rect(0, x0 + 297, 100, 100));
}

TEST(LongStrip, OnlyFor16mm) {
    const cv::Mat image = imageWithRowBands(2000, 100, 200, {{0, 49, 10}});
    EXPECT_EQ(findFrameCut(image, {142, 400, 0}, kArea35, true, false).pieces.size(), 1u);
    EXPECT_EQ(findFrameCut(image, {180, 400, 496}, kArea16, false, false).pieces.size(), 1u);
}

TEST(LongStrip, PiecesShareThePixelsOfTheWorkingImage) {
    const cv::Mat image = imageWithRowBands(2000, 100, 200, {{0, 49, 10}});
    const std::vector<cv::Mat> pieces = cutFrame(image, {180, 400, 496}, kArea16, true, false);
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[1].ptr(0), image.ptr(49 + 99));
    EXPECT_EQ(pieces[3].rows, 100);
}

// --- the 16 mm frame pitch -----------------------------------------------------

// H = 1000, top = 200: frame lines end at rows 319, 519, 719 and 919, one in
// each of the windows [1, 250), [250, 500), [500, 700), [700, 799) of the
// rises below the top fifth: a pitch of 200 rows.
cv::Mat sixteenMillimetreFrames(int channels) {
    const cv::Mat grey = imageWithRowBands(
        1000, 100, 200,
        {{110, 119, 10}, {310, 319, 10}, {510, 519, 10}, {710, 719, 10}, {910, 919, 10}});
    if (channels == 1) {
        return grey;
    }
    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    return colour;
}

class FramePitch16 : public testing::TestWithParam<int> {};

TEST_P(FramePitch16, IsMeasuredBetweenTheFirstAndLastWindow) {
    const FrameGeometry g =
        measureFrameGeometry(kArea16, {1800, 1800}, false, sixteenMillimetreFrames(GetParam()));
    EXPECT_EQ(g.image_length, 800);
    EXPECT_FALSE(g.nominalPitch);
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, FramePitch16, testing::Values(1, 3));

TEST(FramePitch16, PitchIsTruncatedToWholeRowsBeforeTimesFour) {
    // last rise moved one row later: (600 + 1) / 3 = 200, not 200.33 x 4
    cv::Mat image = sixteenMillimetreFrames(1);
    image.row(920).setTo(cv::Scalar(10));
    EXPECT_EQ(measureFrameGeometry(kArea16, {1800, 1800}, false, image).image_length, 800);
}

struct NoRiseRow {
    const char* name;
    cv::Mat image;
};

class FramePitch16WithoutRise : public testing::TestWithParam<NoRiseRow> {};

TEST_P(FramePitch16WithoutRise, FallsBackToTheNominalPitch) {
    const FrameGeometry g = measureFrameGeometry(kArea16, {1800, 900}, true, GetParam().image);
    // 0.762 cm at 900 dpi is 270 rows
    EXPECT_EQ(g.image_length, 4 * 270);
    EXPECT_TRUE(g.nominalPitch);
    EXPECT_EQ(g.image_width, 496);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, FramePitch16WithoutRise,
    testing::Values(NoRiseRow{"Uniform", imageWithRowBands(1000, 100, 200, {})},
                    NoRiseRow{"Black", imageWithRowBands(1000, 100, 0, {})},
                    // rises in the first three windows, none in the last
                    NoRiseRow{
                        "NoneInTheLastWindow",
                        imageWithRowBands(1000, 100, 200,
                                          {{310, 319, 10}, {510, 519, 10}, {710, 1000 - 1, 10}})},
                    // four rows: the first window [1, 1) is empty
                    NoRiseRow{"EmptyFirstWindow", imageWithRowBands(4, 10, 200, {{1, 1, 0}})}),
    [](const testing::TestParamInfo<NoRiseRow>& info) { return info.param.name; });

} // namespace
} // namespace veltrana
