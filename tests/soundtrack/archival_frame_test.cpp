#include "soundtrack/archival_frame.h"

#include "soundtrack/fractional_shift.h"

#include "constructed_film.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cmath>

namespace veltrana {
namespace {

using test::ConstructedFilm;
using test::FilmOptions;

ArchivalFrame read(const FilmOptions& o, SoundtrackType type = SoundtrackType::VariableArea35,
                   ColorElement element = ColorElement::R) {
    const ConstructedFilm film;
    return archivalFrame(film.image(o), ConstructedFilm::trackCut(o), element, type, o.rotationUp,
                         false);
}

TEST(ArchivalFrame, SamplesAreTheBandMeanUnrounded) {
    FilmOptions o;
    o.silentTrack = true;
    const ArchivalFrame f = read(o);
    ASSERT_EQ(f.rows(), 600);
    EXPECT_EQ(f.bandWidth, 60);
    // 30 columns at 30 and 30 clear columns at 200
    for (float s : f.samples) {
        ASSERT_FLOAT_EQ(s, 115.0f);
    }
    // with sound: 30 + 170 x (30 + 20 sin) / 60, each pixel rounded to 8 bits first
    o.silentTrack = false;
    const ArchivalFrame g = read(o);
    const ConstructedFilm film;
    for (int r = 0; r < g.rows(); r += 37) {
        const double sound = film.soundAt(r);
        EXPECT_NEAR(g.samples[static_cast<std::size_t>(r)], 115.0 + 170.0 / 3.0 * sound, 0.02) << r;
    }
}

TEST(ArchivalFrame, DownFramesAndColourElementsReadTheSame) {
    FilmOptions up;
    const ArchivalFrame a = read(up);
    FilmOptions down = up;
    down.rotationUp = false;
    down.color = true;
    for (ColorElement element : {ColorElement::R, ColorElement::G, ColorElement::Y}) {
        const ArchivalFrame b = read(down, SoundtrackType::VariableArea35, element);
        ASSERT_EQ(b.rows(), a.rows());
        for (int r = 0; r < a.rows(); ++r) {
            ASSERT_NEAR(b.samples[static_cast<std::size_t>(r)],
                        a.samples[static_cast<std::size_t>(r)], 1e-3);
        }
        for (int band = 0; band < kSearchBandCount; ++band) {
            ASSERT_EQ(b.profiles[static_cast<std::size_t>(band)].size(), 600u) << band;
            for (int r = 0; r < a.rows(); r += 11) {
                ASSERT_NEAR(b.profiles[static_cast<std::size_t>(band)][static_cast<std::size_t>(r)],
                            a.profiles[static_cast<std::size_t>(band)][static_cast<std::size_t>(r)],
                            1e-5);
            }
        }
    }
}

// Y is each pixel's luminance, read as the standard samples read it: on a
// tinted colour frame, whose pixels' luminance is not whole, the archival
// samples are the standard strip's means before the mean level goes.
TEST(ArchivalFrame, LuminanceIsReadAsTheStandardSamplesReadIt) {
    const ConstructedFilm film;
    FilmOptions o;
    o.color = true;
    cv::Mat image = film.image(o);
    cv::multiply(image, cv::Scalar(0.45, 0.8, 1.0), image);
    const ArchivalFrame archival =
        archivalFrame(image, ConstructedFilm::trackCut(o), ColorElement::Y,
                      SoundtrackType::VariableArea35, true, false);
    cv::Mat working = image.clone();
    const std::vector<float> standard =
        stripToSamples(cutStrip(working, ConstructedFilm::trackCut(o), ColorElement::Y), false);
    ASSERT_EQ(archival.samples.size(), standard.size());
    for (std::size_t r = 0; r < standard.size(); ++r) {
        ASSERT_NEAR(archival.samples[r], standard[r], 1e-4) << "row " << r;
    }
}

TEST(ArchivalFrame, DoesNotTurnTheImageGreyForLuminance) {
    const ConstructedFilm film;
    FilmOptions o;
    o.color = true;
    cv::Mat image = film.image(o);
    image.col(100).setTo(cv::Scalar(10, 20, 30));
    const cv::Mat before = image.clone();
    archivalFrame(image, ConstructedFilm::trackCut(o), ColorElement::Y,
                  SoundtrackType::VariableArea35, true, false);
    EXPECT_EQ(cv::norm(image, before, cv::NORM_INF), 0.0);
}

struct LightCase {
    const char* name;
    SoundtrackType type;
    double falloff;
    LightReference expected;
};

class IlluminationFit : public testing::TestWithParam<LightCase> {};

// The fitted light follows the fall-off: 1 - f x^2 relative to its mean.
TEST_P(IlluminationFit, FollowsTheFallOff) {
    const LightCase c = GetParam();
    FilmOptions o;
    o.falloff = c.falloff;
    const ArchivalFrame f = read(o, c.type);
    EXPECT_EQ(f.light, c.expected);
    const double mean = 1.0 - c.falloff / 3.0;
    for (int r = 0; r < f.rows(); r += 25) {
        const double x = 2.0 * r / (f.rows() - 1) - 1.0;
        EXPECT_NEAR(f.illumination[static_cast<std::size_t>(r)], (1.0 - c.falloff * x * x) / mean,
                    0.01)
            << r;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Films, IlluminationFit,
    testing::Values(
        LightCase{"area_even", SoundtrackType::VariableArea35, 0.0, LightReference::TrackClear},
        LightCase{"area_falloff", SoundtrackType::VariableArea35, 0.5, LightReference::TrackClear},
        LightCase{"area16_falloff", SoundtrackType::VariableArea16, 0.3,
                  LightReference::TrackClear},
        LightCase{"density_even", SoundtrackType::VariableDensity35, 0.0,
                  LightReference::EdgeLight},
        LightCase{"density_falloff", SoundtrackType::VariableDensity35, 0.5,
                  LightReference::EdgeLight}),
    [](const testing::TestParamInfo<LightCase>& info) { return std::string(info.param.name); });

TEST(IlluminationFit, NeedsEnoughUsableRows) {
    const std::vector<float> level(100, 200.0f);
    std::vector<unsigned char> usable(100, 0);
    EXPECT_TRUE(fittedIllumination(level, usable).empty());
    std::fill(usable.begin(), usable.begin() + 30, 1);
    const std::vector<float> fit = fittedIllumination(level, usable);
    ASSERT_EQ(fit.size(), 100u);
    for (float v : fit) {
        EXPECT_NEAR(v, 1.0f, 1e-4);
    }
    // a clipped perforation light is no reference: nothing to flatten with
    FilmOptions o;
    const ConstructedFilm film;
    cv::Mat image = film.image(o);
    image.colRange(0, 10).setTo(255);
    const ArchivalFrame f = archivalFrame(image, test::kTrackCut, ColorElement::R,
                                          SoundtrackType::VariableDensity35, true, false);
    EXPECT_EQ(f.light, LightReference::None);
    for (float v : f.illumination) {
        ASSERT_EQ(v, 1.0f);
    }
}

TEST(ArchivalFrame, EvenLightIsLeftAsItIs) {
    // the clear part's fit on even light varies by far less than 3 %: the
    // samples are not divided by it, so the sound cannot be modulated by it
    FilmOptions o;
    const ArchivalFrame f = read(o);
    EXPECT_EQ(f.light, LightReference::TrackClear);
    EXPECT_EQ(f.illumination, std::vector<float>(600, 1.0f));
    // a fall-off of 4 % is followed
    o.falloff = 0.04;
    const ArchivalFrame g = read(o);
    EXPECT_GT(g.illumination[300] - g.illumination[0], 0.03f);
}

TEST(IlluminationFit, RowsLitInPartDoNotBendTheFit) {
    // even perforation light (240) over three stretches, rows at their edges
    // lit a little less (232, 3 % down), nothing lit in the last 80 rows: the
    // fit is even, also where it is extrapolated
    std::vector<float> level(1000, 40.0f);
    std::vector<unsigned char> usable(1000, 0);
    for (int from : {0, 300, 600}) {
        for (int r = from; r < from + 220; ++r) {
            level[static_cast<std::size_t>(r)] = 240.0f;
            usable[static_cast<std::size_t>(r)] = 1;
        }
        level[static_cast<std::size_t>(from + 219)] = 232.0f;
        level[static_cast<std::size_t>(from + 218)] = 236.0f;
    }
    const std::vector<float> fit = fittedIllumination(level, usable, true);
    ASSERT_EQ(fit.size(), 1000u);
    for (float v : fit) {
        ASSERT_NEAR(v, 1.0f, 1e-4);
    }
}

TEST(RelativeHighPass, CancelsSlowMultiplicativeRamps) {
    std::vector<float> plain(800);
    std::vector<float> lit(800);
    for (int i = 0; i < 800; ++i) {
        const double v = 100.0 + 10.0 * std::sin(0.3 * i);
        const double x = i / 799.0 * 2.0 - 1.0;
        plain[static_cast<std::size_t>(i)] = static_cast<float>(v);
        lit[static_cast<std::size_t>(i)] = static_cast<float>(v * (1.0 - 0.5 * x * x));
    }
    const std::vector<float> a = relativeHighPass(plain, 31);
    const std::vector<float> b = relativeHighPass(lit, 31);
    for (int i = 20; i < 780; ++i) {
        ASSERT_NEAR(a[static_cast<std::size_t>(i)], b[static_cast<std::size_t>(i)], 0.003) << i;
    }
    // light that grows by the same factor from row to row leaves nothing in
    // the middle
    std::vector<float> ramp(200);
    for (int i = 0; i < 200; ++i) {
        ramp[static_cast<std::size_t>(i)] = static_cast<float>(50.0 * std::pow(1.004, i));
    }
    const std::vector<float> flat = relativeHighPass(ramp, 21);
    for (int i = 10; i < 190; ++i) {
        ASSERT_NEAR(flat[static_cast<std::size_t>(i)], 0.0f, 1e-6) << i;
    }
}

TEST(RelativeHighPass, KeepsASharpEdgeWhereTheFilmPutsIt) {
    // a frame line's edge, from picture (150) to print black (18), as the
    // scanner sees it a fraction of a row further on: high-passing and then
    // moving it back gives what high-passing the edge where it lay gives
    std::vector<float> edge(120);
    for (int i = 0; i < 120; ++i) {
        edge[static_cast<std::size_t>(i)] = static_cast<float>(84.0 - 66.0 * std::tanh(i - 60.0));
    }
    for (double fraction : {0.25, 0.5, 0.8}) {
        const std::vector<float> later = shiftedSamples(edge, fraction);
        const std::vector<float> direct = relativeHighPass(edge, 31);
        const std::vector<float> back = shiftedSamples(relativeHighPass(later, 31), -fraction);
        double worst = 0.0;
        for (int i = 30; i < 90; ++i) {
            worst =
                std::max(worst, static_cast<double>(std::abs(back[static_cast<std::size_t>(i)] -
                                                             direct[static_cast<std::size_t>(i)])));
        }
        // (log v less its mean leaves about three times as much)
        EXPECT_LT(worst, 0.01) << "fraction " << fraction;
    }
}

TEST(ArchivalFrame, ReverseRowsTurnsEveryArrayAround) {
    FilmOptions o;
    o.falloff = 0.2;
    ArchivalFrame f = read(o);
    const ArchivalFrame original = f;
    reverseRows(f);
    const std::size_t last = original.samples.size() - 1;
    EXPECT_EQ(f.samples[0], original.samples[last]);
    EXPECT_EQ(f.illumination[3], original.illumination[last - 3]);
    for (int band = 0; band < kSearchBandCount; ++band) {
        EXPECT_EQ(f.profiles[static_cast<std::size_t>(band)][5],
                  original.profiles[static_cast<std::size_t>(band)][last - 5]);
    }
}

TEST(ArchivalFrame, EmptyImageGivesAnEmptyFrame) {
    const ArchivalFrame f = archivalFrame(cv::Mat(), {1, 5}, ColorElement::R,
                                          SoundtrackType::VariableArea35, true, false);
    EXPECT_EQ(f.rows(), 0);
}

} // namespace
} // namespace veltrana
