// A full-aperture render holds the standard window's film unchanged, noise
// included, moved by the weave, with the film's edges, the light beside them
// and the dark gate around it.

#include "synth/synth.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

namespace veltrana::synth {
namespace {

SynthOptions optionsOf(SoundtrackType film, bool fullAperture, int weave) {
    SynthOptions options;
    options.film = film;
    options.dpi = {600, 600};
    options.frames = 3;
    options.color = true;
    options.noise = true;
    options.fullAperture = fullAperture;
    options.weave = weave;
    return options;
}

class FullApertureRender : public testing::TestWithParam<SoundtrackType> {};

TEST_P(FullApertureRender, HoldsTheStandardWindowWhereTheFilmWeaves) {
    const SynthPlanResult narrow = planSampleScans(optionsOf(GetParam(), false, 0));
    const SynthPlanResult full = planSampleScans(optionsOf(GetParam(), true, 9));
    ASSERT_TRUE(narrow.ok() && full.ok()) << narrow.error << full.error;
    const SynthLayout& l = full.plan.truth.layout;
    ASSERT_GT(l.apertureColumns, l.scanColumns);
    for (int k = 0; k < 3; ++k) {
        const int weave = full.plan.truth.scans[static_cast<std::size_t>(k)].weave;
        const cv::Mat image = renderWorkingImage(full.plan, k);
        ASSERT_EQ(image.cols, l.apertureColumns);
        const int first = l.windowFirstColumn + weave;
        const cv::Mat window = image.colRange(first, first + l.scanColumns);
        EXPECT_EQ(cv::norm(window, renderWorkingImage(narrow.plan, k), cv::NORM_INF), 0) << k;
        // the gate at both sides, then the scanner's light up to the film's
        // edges (in 8-bit steps, with the scanner's noise)
        const int gate = l.aperture.gateColumns;
        EXPECT_NEAR(cv::mean(image.colRange(0, gate))[0], 4, 0.5);
        EXPECT_NEAR(cv::mean(image.colRange(l.apertureColumns - gate, l.apertureColumns))[0], 4,
                    0.5);
        const int edge = first + l.aperture.edgeColumn;
        EXPECT_NEAR(cv::mean(image.colRange(gate, edge))[0], 240, 0.5);
        EXPECT_LT(cv::mean(image.col(edge))[0], 200);
    }
}

INSTANTIATE_TEST_SUITE_P(Films, FullApertureRender,
                         testing::Values(SoundtrackType::VariableArea35,
                                         SoundtrackType::VariableDensity35,
                                         SoundtrackType::VariableArea16));

TEST(FullApertureRender, WeavesNoFurtherThanTheGateAllows) {
    // 0.04 cm at 600 dpi
    EXPECT_TRUE(checkSynthOptions(optionsOf(SoundtrackType::VariableArea35, true, 9)).empty());
    const std::vector<std::string> problems =
        checkSynthOptions(optionsOf(SoundtrackType::VariableArea35, true, 10));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("at most 9"), std::string::npos) << problems[0];
}

TEST(UprightRender, IsTheWorkingImageItselfMirroredForTheBaseSide) {
    SynthOptions options = optionsOf(SoundtrackType::VariableArea16, false, 0);
    options.upright = true;
    const SynthPlanResult left = planSampleScans(options);
    ASSERT_TRUE(left.ok());
    const cv::Mat working = renderWorkingImage(left.plan, 1);
    EXPECT_EQ(cv::norm(renderScan(left.plan, 1), working, cv::NORM_INF), 0);
    EXPECT_EQ(trackSideOf(options), TrackSide::Left);
    options.rotationUp = false;
    const SynthPlanResult right = planSampleScans(options);
    ASSERT_TRUE(right.ok());
    cv::Mat mirrored;
    cv::flip(working, mirrored, 1);
    EXPECT_EQ(cv::norm(renderScan(right.plan, 1), mirrored, cv::NORM_INF), 0);
    EXPECT_EQ(trackSideOf(options), TrackSide::Right);
}

} // namespace
} // namespace veltrana::synth
