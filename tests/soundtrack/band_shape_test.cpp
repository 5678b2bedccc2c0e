// The band's shape across the track on small drawn strips (rows along the
// film, columns across): a variable-area track, a variable-density one, a
// picture's gradient, a band too flat to judge.

#include "soundtrack/band_shape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace veltrana {
namespace {

constexpr int kRows = 40;
constexpr int kColumns = 20;

// A strip whose pixel (row, column) is level(row, column).
cv::Mat drawn(const std::function<int(int, int)>& level) {
    cv::Mat strip(kRows, kColumns, CV_8UC1);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            strip.at<std::uint8_t>(r, c) = static_cast<std::uint8_t>(level(r, c));
        }
    }
    return strip;
}

// dark print, a clear area columns 5..14, dark print again
int areaTrack(int, int c) {
    return c >= 5 && c < 15 ? 210 : 20;
}
// the same with its clear area's width varying along the film, as sound
// moves it: half-width 1 to 8 about column 10
int soundingAreaTrack(int r, int c) {
    const int half = 1 + r % 8;
    return c >= 10 - half && c < 10 + half ? 210 : 20;
}
// even across, varying along
int densityTrack(int r, int) {
    return 40 + (r * 7) % 100;
}
// a picture's soft shape: a gradient across, the same along
int gradient(int, int c) {
    return 30 + 8 * c;
}
// dark, clear, dark in the first 16 rows; the rest an even grey step
int partlyEnclosed(int r, int c) {
    return r < 16 ? areaTrack(r, c) : (c < 10 ? 20 : 210);
}

struct ShapeCase {
    const char* name;
    int (*level)(int, int);
    int dark;
    int clear;
    double enclosedShare;
    double acrossRms;
    std::optional<bool> variableArea; // looksLikeTrack for 35va and 16va
    std::optional<bool> variableDensity;
};

void PrintTo(const ShapeCase& c, std::ostream* out) {
    *out << c.name;
}

class BandShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(BandShapes, AreMeasuredAndJudged) {
    const ShapeCase& c = GetParam();
    const BandShape shape = bandShape(drawn(c.level));
    EXPECT_EQ(shape.dark, c.dark);
    EXPECT_EQ(shape.clear, c.clear);
    EXPECT_DOUBLE_EQ(shape.enclosedShare, c.enclosedShare);
    EXPECT_NEAR(shape.acrossRms, c.acrossRms, 0.005);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableArea35), c.variableArea);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableArea16), c.variableArea);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableDensity35), c.variableDensity);
}

INSTANTIATE_TEST_SUITE_P(
    Strips, BandShapes,
    testing::Values(
        // every row dark, clear, dark; each row's pixels 95 steps from its mean
        ShapeCase{"AreaTrack", areaTrack, 20, 210, 1.0, 95.0, true, false},
        // rows whose clear area is 2 columns wide still read dark, clear, dark
        ShapeCase{"SoundingAreaTrack", soundingAreaTrack, 20, 210, 1.0, 83.90, true, false},
        // no row leaves its mean: even across
        ShapeCase{"DensityTrack", densityTrack, 40, 138, 0.0, 0.0, false, true},
        // 8 x the columns' spread about their mean, 5.77; contrast 30 to 182
        ShapeCase{"PictureGradient", gradient, 30, 182, 0.0, 46.13, false, false},
        // 16 rows of 40 enclose a clear area: below half
        ShapeCase{"PartlyEnclosed", partlyEnclosed, 20, 210, 0.4, 95.0, false, false}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

TEST(BandShape, OfAFlatBandIsNoAreaTrackAndSaysNothingOfDensity) {
    // grain of a few steps on an even grey: a variable-area track always
    // shows its dark print beside its clear area; a silent variable-density
    // one may read so
    const BandShape shape = bandShape(drawn([](int r, int c) { return 120 + (r + 3 * c) % 5; }));
    EXPECT_EQ(shape.dark, 120);
    EXPECT_EQ(shape.clear, 124);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableArea35), false);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableArea16), false);
    EXPECT_FALSE(looksLikeTrack(shape, SoundtrackType::VariableDensity35).has_value());
}

// --- a bar along the film --------------------------------------------------

// Row means of 400 rows at 150, but for `rows` rows from `first` at `level`
// (a frame line when dark), and `after` from the bar's end on.
std::vector<double> barred(int first, int rows, double level, double after = 150) {
    std::vector<double> means(400, 150.0);
    for (int r = first; r < 400; ++r) {
        means[static_cast<std::size_t>(r)] = r < first + rows ? level : after;
    }
    return means;
}

// A pitch of 200 rows: a bar is 12 rows long at least (3.5 % of it is 7),
// its edges read 3 rows beyond its ends.
constexpr int kPitch = 200;

struct BarCase {
    const char* name;
    std::vector<double> means;
    double bar; // bandBar with the dark level 20 and the clear 150
};

void PrintTo(const BarCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<double> sine(double period) {
    std::vector<double> means;
    for (int r = 0; r < 400; ++r) {
        means.push_back(std::round(85 + 65 * std::sin(2 * 3.14159265358979 * r / period)));
    }
    return means;
}

class BarsAlongTheFilm : public testing::TestWithParam<BarCase> {};

TEST_P(BarsAlongTheFilm, AreMeasured) {
    const BarCase& c = GetParam();
    EXPECT_NEAR(bandBar(c.means, 20, 150, kPitch), c.bar, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Rows, BarsAlongTheFilm,
                         testing::Values(
                             // a frame line: 12 rows at the dark level, stepping the whole contrast
                             BarCase{"FrameLine", barred(100, 12, 20), 1.0},
                             // the lesser edge counts: 150 before, 90 after, 70 of 130 above it
                             BarCase{"UnevenEdges", barred(100, 40, 20, 90), 70.0 / 130},
                             // within a quarter of the contrast of the dark level: 40 still is
                             BarCase{"NearlyDark", barred(100, 20, 40), 110.0 / 130},
                             // a clear bar as well: 150 steps down to 60 either side
                             BarCase{"ClearBar",
                                     [] {
                                         std::vector<double> m = barred(100, 30, 150, 60);
                                         std::fill(m.begin(), m.begin() + 100, 60.0);
                                         return m;
                                     }(),
                                     90.0 / 130},
                             // 11 rows are too short to be a frame line
                             BarCase{"TooShort", barred(100, 11, 20), 0.0},
                             // a bar at the band's end has no edge there to judge
                             BarCase{"AtTheEnd", barred(390, 10, 20), 0.0},
                             // a slow tone stays near its trough long, but comes and goes slowly:
                             // 7 steps of 130 at its edges
                             BarCase{"SlowTone", sine(120), 7.0 / 130},
                             // a fast tone steps sharply, but stays near its trough 4 rows only
                             BarCase{"FastTone", sine(12), 0.0}),
                         [](const testing::TestParamInfo<BarCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(BandBar, NeedsThePitchAndAContrast) {
    EXPECT_EQ(bandBar(barred(100, 12, 20), 20, 150, 0), 0.0);
    EXPECT_EQ(bandBar(barred(100, 12, 20), 150, 150, kPitch), 0.0);
    EXPECT_EQ(bandBar({}, 20, 150, kPitch), 0.0);
}

// A variable-density band even across, whose rows 100..139 are a dark frame
// line: the picture, smooth across, read as the track.
TEST(BandShape, OfADensityBandWithAFrameLineIsNoTrack) {
    cv::Mat strip(400, 30, CV_8UC1);
    for (int r = 0; r < strip.rows; ++r) {
        const int level = r >= 100 && r < 140 ? 20 : 100 + (r * 7) % 60;
        strip.row(r).setTo(level);
    }
    const BandShape shape = bandShape(strip, kPitch);
    EXPECT_EQ(shape.dark, 20);
    EXPECT_EQ(shape.clear, 158);
    EXPECT_EQ(shape.acrossRms, 0.0);
    // the lesser edge: row 97 at 100 + 679 % 60 = 119, 99 steps above the bar
    EXPECT_NEAR(shape.alongBar, 99.0 / 138, 1e-9);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableDensity35), false);
    // without the pitch no bar is looked for
    EXPECT_EQ(bandShape(strip).alongBar, 0.0);
    EXPECT_EQ(looksLikeTrack(bandShape(strip), SoundtrackType::VariableDensity35), true);
}

TEST(BandShape, OfNoStripIsZero) {
    const BandShape shape = bandShape(cv::Mat());
    EXPECT_EQ(shape.dark, 0);
    EXPECT_EQ(shape.clear, 0);
    EXPECT_EQ(shape.alongBar, 0.0);
    EXPECT_EQ(looksLikeTrack(shape, SoundtrackType::VariableArea35), false);
    EXPECT_FALSE(looksLikeTrack(shape, SoundtrackType::VariableDensity35).has_value());
    // three channels are not a strip
    EXPECT_EQ(bandShape(cv::Mat(4, 4, CV_8UC3, cv::Scalar(200, 200, 200))).clear, 0);
}

} // namespace
} // namespace veltrana
