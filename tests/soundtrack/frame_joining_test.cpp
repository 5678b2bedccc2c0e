#include "soundtrack/frame_joining.h"

#include <gtest/gtest.h>

#include <numeric>

namespace veltrana {
namespace {

std::vector<float> ramp(int count, float from) {
    std::vector<float> v(static_cast<std::size_t>(count));
    std::iota(v.begin(), v.end(), from);
    return v;
}

// The job's counters and the joining's state for one pair of a range from
// frame 1 to `stop`.
struct PairJoin {
    FrameRangeProgress progress;
    FrameJoinState state;
};

PairJoin pairState(int lp, int lc, int join, bool crossfade, int frame = 2, int stop = 2) {
    PairJoin s;
    s.progress.startFrame = 1;
    s.progress.stopFrame = stop;
    s.progress.frameNumber = frame;
    s.state.crossfade = crossfade ? 1 : 0;
    s.state.joinPosition = join;
    s.state.previousLength = lp;
    s.state.currentLength = lc;
    return s;
}

TEST(CrossfadeWeights, FallFromOneToZeroAlongHalfACosine) {
    const std::vector<float> w = crossfadeWeights(50);
    EXPECT_EQ(w.front(), 1.0f);
    EXPECT_NEAR(w.back(), 0.0f, 1e-6);
    EXPECT_NEAR(w[49 - 10] + w[10], 1.0f, 1e-6);
    for (std::size_t i = 1; i < w.size(); ++i) {
        EXPECT_LT(w[i], w[i - 1]);
    }
    EXPECT_EQ(crossfadeWeights(1), std::vector<float>{1.0f});
    EXPECT_TRUE(crossfadeWeights(0).empty());
}

TEST(FrameJoining, TwoFramesGiveTheCurrentLengthPlusTheJoin) {
    const auto prev = ramp(100, 0);
    const auto cur = ramp(90, 1000);
    for (bool crossfade : {true, false}) {
        std::vector<float> out;
        PairJoin s = pairState(100, 90, 70, crossfade);
        joinFrameSamples(out, cur, prev, s.progress, s.state);
        ASSERT_EQ(out.size(), 90u + 70u);
        EXPECT_EQ(out[69], 69.0f);
        EXPECT_EQ(out[70], crossfade ? 70.0f : 1000.0f); // blend starts on the previous frame
        EXPECT_EQ(out.back(), 1089.0f);
        EXPECT_EQ(s.state.overlapLength, 30);
    }
}

TEST(FrameJoining, JoinAtZeroBlendsTheWholePreviousFrame) {
    const auto prev = ramp(10, 0);
    const auto cur = ramp(10, 100);
    std::vector<float> out;
    PairJoin s = pairState(10, 10, 0, true);
    joinFrameSamples(out, cur, prev, s.progress, s.state);
    EXPECT_EQ(out.size(), 10u);
    EXPECT_EQ(out.front(), 0.0f);
    EXPECT_NEAR(out.back(), 109.0f, 1e-3);
}

TEST(FrameJoining, JoinAtTheEndMeansNoBlend) {
    const auto prev = ramp(10, 0);
    const auto cur = ramp(8, 100);
    std::vector<float> out;
    PairJoin s = pairState(10, 8, 10, true);
    joinFrameSamples(out, cur, prev, s.progress, s.state);
    EXPECT_EQ(out, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 100, 101, 102, 103, 104, 105,
                                       106, 107}));
}

TEST(FrameJoining, OneBlendedValueIsThePreviousSample) {
    const auto prev = ramp(10, 0);
    const auto cur = ramp(10, 100);
    std::vector<float> out;
    PairJoin s = pairState(10, 10, 9, true);
    joinFrameSamples(out, cur, prev, s.progress, s.state);
    EXPECT_EQ(out[9], 9.0f);
    EXPECT_EQ(out[10], 101.0f);
}

TEST(FrameJoining, MiddleFramesSkipWhatTheLastBlendTook) {
    // three frames of 100: joins 60 and 80, so K = 40 then 20
    const auto a = ramp(100, 0);
    const auto b = ramp(100, 1000);
    const auto c = ramp(100, 2000);
    std::vector<float> out;
    PairJoin s = pairState(100, 100, 60, true, 2, 3);
    joinFrameSamples(out, b, a, s.progress, s.state);
    EXPECT_EQ(out.size(), 100u); // 60 + 40 blended
    s.state.joinPosition = 80;
    s.progress.frameNumber = 3;
    joinFrameSamples(out, c, b, s.progress, s.state);
    // b contributes 80 - 40 + 20, the last frame 100 - 20
    EXPECT_EQ(out.size(), 100u + 60u + 80u);
    EXPECT_EQ(out[100], 1040.0f);
    EXPECT_EQ(s.state.savedOverlapLength, 40);
    EXPECT_EQ(s.state.overlapLength, 20);
}

TEST(FrameJoining, SavedOverlapNotBelowTheJoinAppendsNothingBeforeTheBlend) {
    const auto a = ramp(100, 0);
    const auto b = ramp(100, 1000);
    std::vector<float> out;
    PairJoin s = pairState(100, 100, 10, true, 2, 9); // K = 90
    joinFrameSamples(out, b, a, s.progress, s.state);
    const std::size_t before = out.size();
    s.state.joinPosition = 50; // Kb = 90 >= 50
    s.progress.frameNumber = 3;
    joinFrameSamples(out, b, b, s.progress, s.state);
    EXPECT_EQ(out.size(), before + 50u); // the blend only
}

TEST(FrameJoining, WithoutCrossfadeTheOverlapOfTheFirstPairIsKept) {
    const auto a = ramp(100, 0);
    std::vector<float> out;
    PairJoin s = pairState(100, 100, 70, false, 2, 9);
    joinFrameSamples(out, a, a, s.progress, s.state);
    s.state.joinPosition = 90;
    s.progress.frameNumber = 3;
    joinFrameSamples(out, a, a, s.progress, s.state);
    EXPECT_EQ(s.state.overlapLength, 30);
    EXPECT_EQ(out.size(), 160u);
}

TEST(FrameJoining, ABlendLongerThanTheCurrentFrameReadsNothingPastIt) {
    const auto prev = ramp(100, 0);
    const auto cur = ramp(50, 1000);
    std::vector<float> out;
    PairJoin s = pairState(100, 50, 10, true); // K = 90 > Lc
    joinFrameSamples(out, cur, prev, s.progress, s.state);
    EXPECT_EQ(out.size(), 100u); // 10 + 90 blended; nothing of the last frame remains
}

TEST(FrameJoining, JoinPositionsOutsideThePreviousFrameAreClamped) {
    const auto prev = ramp(10, 0);
    const auto cur = ramp(10, 100);
    for (int join : {-5, 25}) {
        for (bool crossfade : {true, false}) {
            std::vector<float> out;
            PairJoin s = pairState(10, 10, join, crossfade);
            joinFrameSamples(out, cur, prev, s.progress, s.state);
            EXPECT_EQ(out.size(), join < 0 ? 10u : 20u);
        }
    }
}

} // namespace
} // namespace veltrana
