#include "soundtrack/join_search.h"

#include "geometry/trace.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace veltrana {
namespace {

TEST(CrossCorrelate, OneValuePerShiftAndNothingElse) {
    const std::vector<float> p{1, 2, 3};
    const std::vector<float> q{4, 5, 6};
    // 2L - 1 = 5 shifts, from -2 to 2; the unshifted match 32 at index L - 1
    EXPECT_EQ(crossCorrelate(p, q), (std::vector<float>{12, 23, 32, 17, 6}));
    // the shorter input is padded with zeros
    EXPECT_EQ(crossCorrelate(std::vector<float>{1, 2}, std::vector<float>{1}),
              (std::vector<float>{2, 1, 0}));
    EXPECT_TRUE(crossCorrelate(std::vector<float>{}, std::vector<float>{}).empty());
}

TEST(CrossCorrelate, SumsEachShiftInOrderOfK) {
    // 1e8 + 1 is 1e8 in single precision: added in k order the 1 is lost
    const std::vector<float> p{1e8f, 1.0f, -1e8f};
    const std::vector<float> q{1.0f, 1.0f, 1.0f};
    EXPECT_EQ(crossCorrelate(p, q)[2], 0.0f);
}

TEST(CrossCorrelate, PrintsWhichInputIsLonger) {
    setTraceEnabled(true);
    testing::internal::CaptureStdout();
    crossCorrelate(std::vector<float>{1, 2}, std::vector<float>{1});
    crossCorrelate(std::vector<float>{1}, std::vector<float>{1, 2});
    crossCorrelate(std::vector<float>{1}, std::vector<float>{2});
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    setTraceEnabled(false);
    EXPECT_EQ(out, "1 \n2 \n\n3");
}

// A pair of frames cut from one random signal: the current frame starts
// `join` samples into the previous one.
struct FramePair {
    std::vector<float> previous;
    std::vector<float> current;
    FrameLengths state;
};

FramePair framesFromSignal(int previousLength, int currentLength, int join, unsigned variant = 1) {
    std::mt19937 random(variant);
    std::vector<float> signal(static_cast<std::size_t>(join + currentLength + previousLength));
    float smooth = 0.0f;
    for (float& s : signal) {
        smooth = 0.7f * smooth + static_cast<float>(random() % 1000) / 10.0f;
        s = smooth;
    }
    FramePair pair;
    pair.previous.assign(signal.begin(), signal.begin() + previousLength);
    pair.current.assign(signal.begin() + join, signal.begin() + join + currentLength);
    pair.state.previousLength = previousLength;
    pair.state.currentLength = currentLength;
    return pair;
}

class KnownShift : public testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(KnownShift, BothSearchesFindTheJoin) {
    const auto [lp, lc, join] = GetParam();
    const FramePair f = framesFromSignal(lp, lc, join);
    // profiles and samples from the same film: the coarse search hits exactly,
    // so the fine one makes no correction
    const JoinSearchResult r =
        findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                         SoundtrackType::VariableArea35, false, {});
    EXPECT_EQ(r.position, join);
    EXPECT_EQ(findJoinPositionFromSamples(f.state, f.current, f.previous,
                                          SoundtrackType::VariableArea35, false)
                  .position,
              join);
}

INSTANTIATE_TEST_SUITE_P(Shifts, KnownShift,
                         testing::Values(std::tuple{1000, 1000, 700}, std::tuple{1000, 1000, 530},
                                         std::tuple{1250, 1240, 907}, std::tuple{500, 520, 400}));

// The score says how clearly the frames share their film: two stretches of
// one signal correlate strongly at their join, stretches of two unrelated
// signals do not.
TEST(JoinSearch, TheScoreTellsAMatchFromNone) {
    const FramePair same = framesFromSignal(1000, 1000, 700);
    const JoinSearchResult matched =
        findJoinPosition(same.state, same.current, same.previous, same.current, same.previous,
                         SoundtrackType::VariableArea35, false, {});
    EXPECT_TRUE(matched.found);
    EXPECT_GT(matched.score, 0.2);
    EXPECT_LE(matched.score, 1.0);

    FramePair unrelated = framesFromSignal(1000, 1000, 700);
    unrelated.current = framesFromSignal(1000, 1000, 700, 99).current;
    const JoinSearchResult missed =
        findJoinPositionFromSamples(unrelated.state, unrelated.current, unrelated.previous,
                                    SoundtrackType::VariableArea35, false);
    EXPECT_LT(missed.score, 0.5 * matched.score);
}

TEST(JoinSearch, NoJoinBelowTheGuardLessTheFineWindow) {
    // the true join lies at 30 % of the frame, below both guards
    // Lp = 1000: guards of 520 and 480 rows, a fine window of 24 rows that
    // can move the join back by 23 at most
    const FramePair f = framesFromSignal(1000, 1000, 300);
    const JoinSearchResult r =
        findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                         SoundtrackType::VariableArea35, false, {});
    // the guard (52 % of 1000 rows) less the fine window's 23 (w = 24, 2.4 %)
    EXPECT_GE(r.position, 497);
    // on the samples, the guard of 48 %: 480 less 23
    EXPECT_GE(findJoinPositionFromSamples(f.state, f.current, f.previous,
                                          SoundtrackType::VariableArea35, false)
                  .position,
              457);
    // a 16 mm long strip guards 82 %, its fine window 1.2 %: 820 less 11
    EXPECT_GE(findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                               SoundtrackType::VariableArea16, true, {})
                  .position,
              809);
}

class OddLengths : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(OddLengths, PositionStaysInsideThePreviousFrame) {
    // windows past the previous frame, a current frame shorter than the guard,
    // a fine window of length 0: nothing is read outside, the join is clamped
    const auto [lp, lc] = GetParam();
    const FramePair f = framesFromSignal(lp, lc, lp / 2, 7);
    for (auto type : {SoundtrackType::VariableArea35, SoundtrackType::VariableArea16}) {
        for (bool strip : {false, true}) {
            const int a = findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                                           type, strip, {})
                              .position;
            const int b =
                findJoinPositionFromSamples(f.state, f.current, f.previous, type, strip).position;
            EXPECT_GE(a, 0);
            EXPECT_LE(a, lp);
            EXPECT_GE(b, 0);
            EXPECT_LE(b, lp);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OddLengths,
                         testing::Values(std::tuple{1000, 100}, std::tuple{1000, 30},
                                         std::tuple{15, 15}, std::tuple{20, 400}, std::tuple{1, 1},
                                         std::tuple{2, 900}, std::tuple{300, 1000}));

TEST(JoinSearch, FlatFramesStillGiveAPositionInRange) {
    std::vector<float> flat(600, 42.0f);
    FrameLengths state;
    state.previousLength = 600;
    state.currentLength = 600;
    const int a =
        findJoinPosition(state, flat, flat, flat, flat, SoundtrackType::VariableArea35, false, {})
            .position;
    EXPECT_GE(a, 0);
    EXPECT_LE(a, 600);
}

// Equal peaks. Every value below is a whole number, so each correlation sum
// is exact and the peaks are equal to the last bit: which one a search takes
// is its tie rule alone. std::max_element and cv::minMaxLoc return the first
// of equal maxima and ignore whether a value rises.

TEST(StrongestPeak, OfEqualPeaksTheLastOrTheFirstAsAsked) {
    const std::vector<float> r{1, 5, 2, 5, 1};
    EXPECT_EQ(strongestPeak(r, 0, 5, TiedPeak::Last), 3);
    EXPECT_EQ(strongestPeak(r, 0, 5, TiedPeak::First), 1);
}

TEST(StrongestPeak, TheLastOfAFlatTopWinsThoughOnlyItsFirstValueRose) {
    // 4 at index 2 does not rise above the 4 before it, but equals the peak
    const std::vector<float> r{0, 4, 4, 1, 0};
    EXPECT_EQ(strongestPeak(r, 0, 5, TiedPeak::Last), 2);
    EXPECT_EQ(strongestPeak(r, 0, 5, TiedPeak::First), 1);
}

TEST(StrongestPeak, AHigherValueThatDoesNotRiseIsNoPeak) {
    // 8 falls from the 9 before the range: the strongest peak is 6
    const std::vector<float> r{9, 8, 3, 6, 2};
    EXPECT_EQ(strongestPeak(r, 1, 5, TiedPeak::First), 3);
    EXPECT_EQ(strongestPeak(r, 1, 5, TiedPeak::Last), 3);
}

TEST(StrongestPeak, TheFirstValueRisesOnlyAboveTheNumberOfValues) {
    // five values: the first one is a peak when above 5
    EXPECT_EQ(strongestPeak(std::vector<float>{4, 1, 3, 0, 0}, 0, 5, TiedPeak::Last), 2);
    EXPECT_EQ(strongestPeak(std::vector<float>{5, 1, 3, 0, 0}, 0, 5, TiedPeak::Last), 2);
    EXPECT_EQ(strongestPeak(std::vector<float>{6, 1, 3, 0, 0}, 0, 5, TiedPeak::Last), 0);
}

TEST(StrongestPeak, WithoutAPeakAboveZeroAZeroOfTheRangeIsTaken) {
    const std::vector<float> r{-1, 0, -2, 0, -3};
    EXPECT_EQ(strongestPeak(r, 0, 5, TiedPeak::Last), 3);
    EXPECT_EQ(strongestPeak(r, 0, 5, TiedPeak::First), 1);
    EXPECT_EQ(strongestPeak(std::vector<float>{-1, -2, -3}, 0, 3, TiedPeak::Last), -1);
    EXPECT_EQ(strongestPeak(std::vector<float>{}, 0, 0, TiedPeak::Last), -1);
}

// Two frames of 1000 rows whose only structure is a pulse: at row 0 of the
// current frame, at rows 600 and 800 of the previous one. The rows that
// bring each mean to exactly zero (row 0 of the previous frame, row 999 of
// the current one) fall where the searches blank. Both shifts match equally
// well, and the fine step, on the same pulses, corrects neither.
FramePair twoEqualMatches() {
    FramePair f;
    f.previous.assign(1000, 0.0f);
    f.previous[0] = -20.0f;
    f.previous[600] = 10.0f;
    f.previous[800] = 10.0f;
    f.current.assign(1000, 0.0f);
    f.current[0] = 10.0f;
    f.current[999] = -10.0f;
    f.state.previousLength = 1000;
    f.state.currentLength = 1000;
    return f;
}

TEST(JoinSearch, ProfileSearchTakesTheLastOfEqualCoarsePeaks) {
    const FramePair f = twoEqualMatches();
    EXPECT_EQ(findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                               SoundtrackType::VariableArea35, false)
                  .position,
              800);
}

TEST(JoinSearch, SampleSearchTakesTheFirstOfEqualCoarsePeaks) {
    const FramePair f = twoEqualMatches();
    EXPECT_EQ(findJoinPositionFromSamples(f.state, f.current, f.previous,
                                          SoundtrackType::VariableArea35, false)
                  .position,
              600);
}

TEST(JoinSearch, FineStepTakesTheLastOfEqualValues) {
    // Flat samples: the fine correlation (w = 24, 47 values) is 0 throughout
    // and every value it reads ties. The last one read, index 45 of the 46,
    // is a shift of 22 rows from the coarse 800; the first would be -23.
    const FramePair f = twoEqualMatches();
    const std::vector<float> flat(1000, 42.0f);
    EXPECT_EQ(findJoinPosition(f.state, flat, flat, f.current, f.previous,
                               SoundtrackType::VariableArea35, false)
                  .position,
              822);
}

TEST(JoinDiagnostics, KeepTheSamplesAndTheFineCorrelationAsTheFilesHoldThem) {
    FramePair f = framesFromSignal(1000, 1000, 700);
    f.previous[0] = 1.0f / 3.0f;
    JoinDiagnostics d;
    const JoinSearchResult r =
        findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                         SoundtrackType::VariableArea35, false, &d);
    EXPECT_EQ(r.position, 700);
    const std::string v = diagnosticText(d.previousSamples);
    EXPECT_EQ(v.rfind("0.333333 ", 0), 0u) << v.substr(0, 40);
    EXPECT_EQ(v.find('\n'), std::string::npos);
    EXPECT_EQ(std::count(v.begin(), v.end(), ' '), 1000);
    const std::string z = diagnosticText(d.samples);
    EXPECT_EQ(std::count(z.begin(), z.end(), ' '), 1000);
    // w = 24: the count slot and the values up to index 2w - 2
    ASSERT_TRUE(d.hasFineCorrelation);
    const std::string rText = diagnosticText(d.fineCorrelation);
    EXPECT_EQ(rText.rfind("47 ", 0), 0u);
    EXPECT_EQ(std::count(rText.begin(), rText.end(), ' '), 47);
}

TEST(JoinDiagnostics, AskingForThemChangesNoJoin) {
    const FramePair f = framesFromSignal(1000, 1000, 700);
    JoinDiagnostics d;
    EXPECT_EQ(findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                               SoundtrackType::VariableArea35, false, &d)
                  .position,
              findJoinPosition(f.state, f.current, f.previous, f.current, f.previous,
                               SoundtrackType::VariableArea35, false)
                  .position);
}

TEST(JoinDiagnostics, TextWritesFloatsAsAStreamDoes) {
    EXPECT_EQ(diagnosticText(std::vector<float>{-128.5f, 1e-7f, 123456789.0f, 0.0f}),
              "-128.5 1e-07 1.23457e+08 0 ");
    EXPECT_EQ(diagnosticText(std::vector<float>{}), "");
}

} // namespace
} // namespace veltrana
