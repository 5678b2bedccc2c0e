// Reading a scan as it lies gives exactly what the turned working image
// gives: the same trim, band, samples and frame profile, float for float.

#include "soundtrack/frame_samples.h"

#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <random>

namespace veltrana {
namespace {

struct Case {
    const char* name;
    SoundtrackType film = SoundtrackType::VariableArea35;
    bool up = true;
    bool color = true;
    bool noise = false;
    bool longStrip = false;
    ColorElement element = ColorElement::R;
    bool removeDc = true;
    bool cutByAnalysis = false;
    int dpi = 1200;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class FrameSamplesOnRenders : public testing::TestWithParam<Case> {};

void expectSame(const FrameSamples& fast, const FrameSamples& turned, int k) {
    EXPECT_EQ(fast.bounds.left, turned.bounds.left) << "scan " << k;
    EXPECT_EQ(fast.bounds.right, turned.bounds.right) << "scan " << k;
    EXPECT_EQ(fast.band, turned.band) << "scan " << k;
    EXPECT_EQ(fast.rows, turned.rows) << "scan " << k;
    // exact equality, bit for bit: the joins are found by exact comparisons
    EXPECT_EQ(fast.samples, turned.samples) << "scan " << k;
    EXPECT_EQ(fast.profile, turned.profile) << "scan " << k;
    // the band's shape from the same pixels
    EXPECT_EQ(fast.shape.dark, turned.shape.dark) << "scan " << k;
    EXPECT_EQ(fast.shape.clear, turned.shape.clear) << "scan " << k;
    EXPECT_EQ(fast.shape.enclosedShare, turned.shape.enclosedShare) << "scan " << k;
    EXPECT_DOUBLE_EQ(fast.shape.acrossRms, turned.shape.acrossRms) << "scan " << k;
}

TEST_P(FrameSamplesOnRenders, AreTheTurnedImagesValuesExactly) {
    const Case& c = GetParam();
    synth::SynthOptions options;
    options.film = c.film;
    options.dpi = {c.dpi, c.dpi};
    options.frames = 3;
    options.color = c.color;
    options.rotationUp = c.up;
    options.noise = c.noise;
    options.longStrip = c.longStrip;
    const synth::SynthPlanResult planned = synth::planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;

    FrameSampling s;
    s.type = c.film;
    s.longStrip = c.longStrip;
    s.element = c.element;
    s.rotationUp = c.up;
    s.removeDc = c.removeDc;
    s.cutByAnalysis = c.cutByAnalysis;
    const cv::Mat first = synth::renderScan(planned.plan, 0);
    const ScanResolution dpi = detectResolution(
        workingImageFromFrame(frameCorrection(first, c.film, c.longStrip)), c.film);
    const SoundtrackGeometry geometry = *computeSoundtrackGeometry(c.film, dpi);
    for (int k = 0; k < 3; ++k) {
        const cv::Mat scan = synth::renderScan(planned.plan, k);
        expectSame(sampleFrame(scan, s, geometry), sampleTurnedFrame(scan, s, geometry), k);
        const cv::Mat trimmed = frameCorrection(scan, c.film, c.longStrip);
        const ResolutionEstimate lying = estimateScanResolution(trimmed, c.film);
        const ResolutionEstimate turned =
            estimateResolution(workingImageFromFrame(trimmed), c.film);
        EXPECT_EQ(lying.measured, turned.measured) << "scan " << k;
        EXPECT_EQ(lying.snapped, turned.snapped) << "scan " << k;
    }
}

const SoundtrackType VA35 = SoundtrackType::VariableArea35;
const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
const SoundtrackType VA16 = SoundtrackType::VariableArea16;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, FrameSamplesOnRenders,
    testing::Values(
        Case{.name = "va35_up_colour_R"},
        Case{.name = "va35_up_grey", .color = false},
        Case{.name = "va35_down_colour_B", .up = false, .element = ColorElement::B},
        Case{.name = "va35_down_colour_G_noise", .up = false, .noise = true, .element = ColorElement::G},
        Case{.name = "va35_luminance_noise", .noise = true, .element = ColorElement::Y},
        Case{.name = "va35_luminance_down", .up = false, .element = ColorElement::Y},
        Case{.name = "va35_no_dc", .removeDc = false},
        Case{.name = "va35_by_analysis", .noise = true, .cutByAnalysis = true},
        Case{.name = "va35_by_analysis_down_Y", .up = false, .element = ColorElement::Y, .cutByAnalysis = true},
        Case{.name = "vd35_up_grey", .film = VD35, .color = false},
        Case{.name = "vd35_down_colour", .film = VD35, .up = false},
        Case{.name = "vd35_by_analysis", .film = VD35, .cutByAnalysis = true},
        Case{.name = "va16_up", .film = VA16},
        Case{.name = "va16_down_grey_noise", .film = VA16, .up = false, .color = false, .noise = true},
        Case{.name = "va16_long_strip", .film = VA16, .longStrip = true},
        Case{.name = "va16_long_strip_by_analysis", .film = VA16, .longStrip = true, .cutByAnalysis = true},
        Case{.name = "va35_2400dpi", .noise = true, .dpi = 2400}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on
#pragma GCC diagnostic pop

// Scans no renderer would make: random pixels, narrow, short, bright, dark.
TEST(FrameSamplesOnOddScans, AreTheTurnedImagesValuesExactly) {
    std::mt19937 random(11);
    const SoundtrackGeometry geometry{29, 907};
    const std::vector<cv::Size> sizes{{64, 64}, {300, 64}, {64, 300}, {257, 91}, {1000, 240}};
    for (const cv::Size size : sizes) {
        for (int channels : {1, 3}) {
            cv::Mat scan(size, CV_8UC(channels));
            cv::randu(scan, 0, 256);
            for (int element = 0; element < 4; ++element) {
                for (bool up : {true, false}) {
                    for (bool byEdge : {false, true}) {
                        FrameSampling s;
                        s.element = static_cast<ColorElement>(element);
                        s.rotationUp = up;
                        s.cutByAnalysis = byEdge;
                        s.type = static_cast<SoundtrackType>(1 + random() % 3);
                        s.longStrip = random() % 2 == 0;
                        SCOPED_TRACE(testing::Message()
                                     << size << " x" << channels << " element " << element
                                     << (up ? " up" : " down") << (byEdge ? " edge" : ""));
                        expectSame(sampleFrame(scan, s, geometry),
                                   sampleTurnedFrame(scan, s, geometry), 0);
                        EXPECT_EQ(estimateScanResolution(scan, s.type).measured,
                                  estimateResolution(workingImageFromFrame(scan), s.type).measured);
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace veltrana
