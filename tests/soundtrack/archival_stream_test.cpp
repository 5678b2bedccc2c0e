#include "soundtrack/archival_stream.h"

#include "constructed_film.h"
#include "soundtrack/fractional_shift.h"
#include "soundtrack/frame_joining.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace veltrana {
namespace {

using test::ConstructedFilm;
using test::FilmOptions;

constexpr double kCycles = 0.013; // cycles per row
constexpr double kAmplitude = 50.0;

double toneAt(double position) {
    return kAmplitude * std::sin(2 * std::numbers::pi * kCycles * position);
}

// `count` samples of the tone from a fractional strip position, plus `offset`.
std::vector<float> toneFrom(double start, int count, double offset = 0) {
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        v[static_cast<std::size_t>(i)] = static_cast<float>(toneAt(start + i) + offset);
    }
    return v;
}

struct JoinCase {
    bool crossfade;
    bool matchOffset;
    double offsetStep; // the current frame's level differs by this much
};

class JoinAtFraction : public testing::TestWithParam<JoinCase> {};

// Frames of one tone starting between rows, joined at their true fractional
// positions: the stream is the tone itself, with no jump anywhere larger
// than the tone's own step from one row to the next.
TEST_P(JoinAtFraction, KeepsASineContinuous) {
    const JoinCase c = GetParam();
    const double starts[] = {0.0, 300.37, 612.81, 905.5, 1211.02};
    std::vector<float> committed;
    std::vector<float> tail = toneFrom(starts[0], 420);
    for (int k = 1; k < 5; ++k) {
        joinAtFraction(committed, tail, toneFrom(starts[k], 420, k * c.offsetStep), starts[k],
                       c.crossfade, c.matchOffset);
    }
    committed.insert(committed.end(), tail.begin(), tail.end());
    ASSERT_GE(committed.size(), 1600u);

    const double ownStep = 2 * std::numbers::pi * kCycles * kAmplitude;
    double largestStep = 0;
    double worst = 0;
    // (the last rows of the last frame are read partly beyond its end)
    for (std::size_t i = 0; i + kShiftKernelReach < committed.size(); ++i) {
        if (i > 0) {
            largestStep = std::max(largestStep,
                                   static_cast<double>(std::abs(committed[i] - committed[i - 1])));
        }
        worst = std::max(worst, std::abs(committed[i] - toneAt(static_cast<double>(i))));
    }
    EXPECT_LE(largestStep, ownStep * 1.001);
    EXPECT_LT(worst, 0.005); // 8-bit steps, on an amplitude of 50
}

INSTANTIATE_TEST_SUITE_P(Modes, JoinAtFraction,
                         testing::Values(JoinCase{true, false, 0.0}, JoinCase{false, false, 0.0},
                                         JoinCase{true, true, 12.0}, JoinCase{false, true, -7.5}));

TEST(JoinAtFraction, AJoinOnAWholeRowIsACutOrTheStandardBlend) {
    std::vector<float> committed;
    std::vector<float> tail(10, 1.0f);
    // a cut half way through the 4 shared rows
    joinAtFraction(committed, tail, std::vector<float>(10, 3.0f), 6.0, false, false);
    EXPECT_EQ(committed, std::vector<float>(8, 1.0f));
    EXPECT_EQ(tail, std::vector<float>(8, 3.0f));

    committed.clear();
    tail.assign(10, 1.0f);
    joinAtFraction(committed, tail, std::vector<float>(10, 3.0f), 6.0, true, false);
    ASSERT_EQ(committed.size(), 10u);
    // the blend's weights are the standard raised cosine over the 4 shared rows
    const std::vector<float> w = crossfadeWeights(4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(committed[static_cast<std::size_t>(6 + i)],
                    w[static_cast<std::size_t>(i)] * 1.0 +
                        (1 - w[static_cast<std::size_t>(i)]) * 3.0,
                    1e-6);
    }
    EXPECT_EQ(tail.size(), 6u);
}

TEST(RemoveDrift, TakesTheDriftAndKeepsTheSound) {
    const double rate = 22675.0;
    std::vector<float> stream(static_cast<std::size_t>(3 * rate));
    for (std::size_t i = 0; i < stream.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        stream[i] =
            static_cast<float>(30.0 + 8.0 * t + 10.0 * std::sin(2 * std::numbers::pi * 0.2 * t) +
                               20.0 * std::sin(2 * std::numbers::pi * 100.0 * t));
    }
    removeDrift(stream, rate, 0.5);
    // what is left is the 100 Hz tone: compare over the middle second
    double worst = 0;
    for (std::size_t i = stream.size() / 3; i < 2 * stream.size() / 3; ++i) {
        const double t = static_cast<double>(i) / rate;
        worst = std::max(worst,
                         std::abs(stream[i] - 20.0 * std::sin(2 * std::numbers::pi * 100.0 * t)));
    }
    EXPECT_LT(worst, 1.0); // 8-bit steps, of a drift of 54
}

TEST(RemoveDrift, WithoutACutoffOnlyTheMeanGoes) {
    std::vector<float> stream{1, 2, 3, 4, 5};
    removeDrift(stream, 1000, 0);
    EXPECT_EQ(stream, (std::vector<float>{-2, -1, 0, 1, 2}));
}

// Four scans of the constructed film with fractional starts, a sideways
// weave and uneven light, through the whole archival chain.
TEST(ArchivalStream, JoinsScansAtTheirTrueFractionsAndLevelsThem) {
    const ConstructedFilm film;
    const double starts[] = {1000.0, 1410.37, 1833.62, 2240.05};
    const int weaves[] = {0, 3, 1, 4};
    ArchivalSettings settings;
    settings.sampleRate = 22675;
    ArchivalStream stream(settings);
    for (int k = 0; k < 4; ++k) {
        FilmOptions o;
        o.start = starts[k];
        o.weave = weaves[k];
        o.falloff = 0.4;
        ArchivalFrame frame =
            archivalFrame(film.image(o), ConstructedFilm::trackCut(o), ColorElement::R,
                          SoundtrackType::VariableArea35, true, false);
        const auto record = stream.addFrame(std::move(frame), k + 1, 400 /* standard: poor */);
        if (k == 0) {
            EXPECT_FALSE(record.has_value());
            continue;
        }
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->method, JoinMethod::Precise);
        EXPECT_EQ(record->standardPosition, 400);
        // rows; 40 % fall-off over frames of 600 rows bends the sound a little
        EXPECT_NEAR(record->position, starts[k] - starts[k - 1], 0.08);
    }
    const ArchivalOutput out = stream.finish();
    ASSERT_EQ(out.joins.size(), 3u);
    // whole rows from the rounded cumulative positions 410.37, 833.62 and 1240.05
    EXPECT_EQ(out.joinLengths, (std::vector<int>{0, 410, 424, 406}));
    // the sound: 170 / 3 x sound on the first scan's rows, at the mean light
    // of a frame (1 - 0.4 / 3 of the light in its middle)
    const int n = static_cast<int>(out.stream.size());
    EXPECT_EQ(n, 1240 + 600); // the rows of leng.txt, then the last scan's
    double sxy = 0;
    double syy = 0;
    for (int i = 100; i < n - 100; ++i) {
        const double y = film.soundAt(1000.0 + i);
        sxy += out.stream[static_cast<std::size_t>(i)] * y;
        syy += y * y;
    }
    const double gain = sxy / syy;
    EXPECT_NEAR(gain, 170.0 / 3.0 * (1.0 - 0.4 / 3.0), 0.5);
    double error = 0;
    double power = 0;
    for (int i = 100; i < n - 100; ++i) {
        const double expected = gain * film.soundAt(1000.0 + i);
        const double e = out.stream[static_cast<std::size_t>(i)] - expected;
        error += e * e;
        power += expected * expected;
    }
    EXPECT_GT(10 * std::log10(power / error), 25.0); // dB
}

TEST(ArchivalStream, FallsBackToTheStandardJoinAndSaysSo) {
    const ConstructedFilm film;
    ArchivalSettings settings;
    settings.sampleRate = 22675;
    ArchivalStream stream(settings);
    FilmOptions o;
    o.start = 1000.0;
    stream.addFrame(archivalFrame(film.image(o), ConstructedFilm::trackCut(o), ColorElement::R,
                                  SoundtrackType::VariableArea35, true, false),
                    7, 0);
    o.start = 5000.5; // nothing in common with the first
    const auto record =
        stream.addFrame(archivalFrame(film.image(o), ConstructedFilm::trackCut(o), ColorElement::R,
                                      SoundtrackType::VariableArea35, true, false),
                        8, 431);
    ASSERT_TRUE(record.has_value());
    EXPECT_NE(record->method, JoinMethod::Precise) << "score " << record->precise.score;
    EXPECT_EQ(record->frameNumber, 8);
    EXPECT_EQ(record->position, 431.0);
    const ArchivalOutput out = stream.finish();
    EXPECT_EQ(out.joinLengths, (std::vector<int>{0, 431}));
    EXPECT_EQ(out.stream.size(), 431u + 600u);
}

} // namespace
} // namespace veltrana

namespace veltrana {
namespace {

// A search result as findPreciseJoin gives it for a clear join at 905.37,
// settled by the track.
PreciseJoin clearJoin() {
    PreciseJoin join;
    join.found = true;
    join.position = 905.37;
    join.wholeShift = 905;
    join.band = SearchBand::Track;
    join.score = 0.98;
    join.trackSounds = true;
    join.otherBandsScore = 0.95;
    join.runnerUpShift = 700;
    join.runnerUpShare = 0.3;
    return join;
}

constexpr int kPreviousRows = 1000; // the standard fine step reaches 24 rows, plus 3
constexpr SoundtrackType kArea35 = SoundtrackType::VariableArea35;

TEST(ChooseJoin, TheTrackSettlesAClearJoin) {
    // the standard position 30 rows off (a ramp it locked onto) does not matter
    const JoinChoice choice = chooseJoin(clearJoin(), 935, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::Precise);
    EXPECT_EQ(choice.position, 905.37);
}

TEST(ChooseJoin, ASilentTrackLeavesTheFractionToTheNearestBand) {
    PreciseJoin join = clearJoin();
    join.trackSounds = false;
    join.band = SearchBand::Edge;
    join.score = 0.93; // the shaped bands' agreement
    // standard 140 rows off, as on silent renders: the whole shift stands out
    const JoinChoice choice = chooseJoin(join, 1045, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::NearestBand);
    EXPECT_EQ(choice.position, 905.37);
}

TEST(ChooseJoin, ATrackThatSoundsButDoesNotMatchNeedsTheStandardCoarseStep) {
    // the cut missed the band: the track's sound does not match, the other
    // bands agree on a whole shift
    PreciseJoin join = clearJoin();
    join.band = SearchBand::Edge;
    join.score = 0.05;
    // within the fine step's reach of the standard position (24 + 3 rows)
    JoinChoice choice = chooseJoin(join, 905 + 27, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::NearestBand);
    EXPECT_EQ(choice.position, 905.37);
    // beyond it: the frames may share no film at all
    choice = chooseJoin(join, 905 - 28, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::StandardWeak);
    EXPECT_EQ(choice.position, 877.0);
    // the other bands must agree too
    join.otherBandsScore = kWeakJoinScore - 0.01;
    choice = chooseJoin(join, 905, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::StandardWeak);
}

TEST(ChooseJoin, AShiftThatDoesNotStandOutNeedsTheStandardCoarseStep) {
    PreciseJoin join = clearJoin();
    join.runnerUpShare = kMaxRunnerUpShare + 0.05; // perforations and a steady tone repeat
    EXPECT_EQ(chooseJoin(join, 920, kPreviousRows, kArea35, false).method, JoinMethod::Precise);
    EXPECT_EQ(chooseJoin(join, 700, kPreviousRows, kArea35, false).method,
              JoinMethod::StandardWeak);
    join.runnerUpShare = kMaxRunnerUpShare;
    EXPECT_EQ(chooseJoin(join, 700, kPreviousRows, kArea35, false).method, JoinMethod::Precise);
    // a 16 mm long strip's fine step reaches half as far (of a frame four
    // times longer): 12 + 3 rows here
    join.runnerUpShare = 0.95;
    const SoundtrackType area16 = SoundtrackType::VariableArea16;
    EXPECT_EQ(chooseJoin(join, 920, kPreviousRows, area16, true).method, JoinMethod::Precise);
    EXPECT_EQ(chooseJoin(join, 921, kPreviousRows, area16, true).method, JoinMethod::StandardWeak);
    EXPECT_EQ(chooseJoin(join, 921, kPreviousRows, area16, false).method, JoinMethod::Precise);
}

TEST(ChooseJoin, AnUnsureFractionAtAClearShiftIsLooseNotAFallback) {
    PreciseJoin join = clearJoin();
    join.loose = true;
    join.precision = 0.4;
    const JoinChoice choice = chooseJoin(join, 935, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::PreciseLoose);
    EXPECT_EQ(choice.position, 905.37);
    EXPECT_FALSE(isFallback(JoinMethod::PreciseLoose));
    EXPECT_STREQ(joinMethodName(JoinMethod::PreciseLoose), "precise (loose)");
}

TEST(ChooseJoin, WeakOrMissingJoinsFallBackToTheStandardPosition) {
    PreciseJoin join = clearJoin();
    join.score = kWeakJoinScore - 0.01;
    join.band = SearchBand::Edge;
    join.otherBandsScore = 0.2;
    JoinChoice choice = chooseJoin(join, 905, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::StandardWeak);
    EXPECT_EQ(choice.position, 905.0);
    join.found = false;
    choice = chooseJoin(join, 1200, kPreviousRows, kArea35, false);
    EXPECT_EQ(choice.method, JoinMethod::StandardNotFound);
    EXPECT_EQ(choice.position, 1000.0); // clamped into the previous frame
    EXPECT_TRUE(isFallback(JoinMethod::StandardWeak));
    EXPECT_TRUE(isFallback(JoinMethod::StandardNotFound));
    EXPECT_FALSE(isFallback(JoinMethod::Precise));
    EXPECT_FALSE(isFallback(JoinMethod::NearestBand));
}

struct LengthCase {
    double join;      // of the second frame, rows
    std::size_t rows; // of the stream: the rounded join, then the last frame
};

class ArchivalStreamLength : public testing::TestWithParam<LengthCase> {};

// The archival stream is as long as the standard one would be with the
// whole rows of leng.txt: at the film's rate both WAVs have the same length.
TEST_P(ArchivalStreamLength, IsTheRoundedJoinsAndTheLastFrame) {
    const LengthCase c = GetParam();
    ArchivalSettings settings;
    settings.sampleRate = 22675;
    for (bool crossfade : {true, false}) {
        settings.crossfade = crossfade;
        ArchivalStream stream(settings);
        ArchivalFrame frame;
        frame.samples.assign(600, 100.0f);
        frame.illumination.assign(600, 1.0f);
        stream.addFrame(frame, 1, 0);
        PreciseJoin searched = clearJoin();
        searched.position = c.join;
        stream.addFrame(frame, 2, 410, searched);
        const ArchivalOutput out = stream.finish();
        EXPECT_EQ(out.stream.size(), c.rows) << "crossfade " << crossfade;
        EXPECT_EQ(out.joinLengths[0] + out.joinLengths[1] + 600, static_cast<int>(c.rows));
    }
}

INSTANTIATE_TEST_SUITE_P(Fractions, ArchivalStreamLength,
                         testing::Values(LengthCase{410.0, 1010}, LengthCase{410.4, 1010},
                                         LengthCase{410.5, 1011}, LengthCase{410.6, 1011}));

// The job runs the searches of a run in parallel and hands each result in:
// the stream is the same as when it searches itself.
TEST(ArchivalStream, TakesSearchesRunElsewhere) {
    const ConstructedFilm film;
    const double starts[] = {1000.0, 1410.37, 1833.62};
    std::vector<ArchivalFrame> frames;
    for (double start : starts) {
        FilmOptions o;
        o.start = start;
        o.falloff = 0.3;
        frames.push_back(archivalFrame(film.image(o), ConstructedFilm::trackCut(o), ColorElement::R,
                                       SoundtrackType::VariableArea35, true, false));
    }
    ArchivalSettings settings;
    settings.sampleRate = 22675;
    ArchivalStream searching(settings);
    ArchivalStream given(settings);
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const PreciseJoin searched =
            k == 0 ? PreciseJoin{}
                   : findPreciseJoin(frames[k - 1], frames[k], settings.type, settings.longStrip);
        const auto a = searching.addFrame(frames[k], static_cast<int>(k + 1), 400);
        const auto b = given.addFrame(frames[k], static_cast<int>(k + 1), 400, searched);
        ASSERT_EQ(a.has_value(), b.has_value());
        if (a) {
            EXPECT_EQ(a->position, b->position);
            EXPECT_EQ(a->method, b->method);
            EXPECT_EQ(a->method, JoinMethod::Precise);
        }
    }
    const ArchivalOutput x = searching.finish();
    const ArchivalOutput y = given.finish();
    EXPECT_EQ(x.stream, y.stream);
    EXPECT_EQ(x.joinLengths, y.joinLengths);
}

} // namespace
} // namespace veltrana
