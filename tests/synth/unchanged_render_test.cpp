// Renders without any of the real-scan effects (fall-off, weave, fractional
// starts, silence, noise-reduction bias) must stay exactly what they were
// when those effects came in: the end-to-end tests and every figure measured
// on earlier renders lean on them. The fingerprints below were taken from
// the renderer before the effects were added.

#include "synth/synth.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace veltrana::synth {
namespace {

// FNV-1a over the bytes, row by row.
std::uint64_t fingerprint(const cv::Mat& image, std::uint64_t hash = 1469598103934665603ull) {
    for (int r = 0; r < image.rows; ++r) {
        const uchar* row = image.ptr<uchar>(r);
        const std::size_t bytes = static_cast<std::size_t>(image.cols) * image.elemSize();
        for (std::size_t i = 0; i < bytes; ++i) {
            hash = (hash ^ row[i]) * 1099511628211ull;
        }
    }
    return hash;
}

std::uint64_t fingerprint(const std::vector<float>& values) {
    const cv::Mat bytes(1, static_cast<int>(values.size() * sizeof(float)), CV_8UC1,
                        const_cast<float*>(values.data()));
    return fingerprint(bytes);
}

struct Case {
    const char* name;
    SoundtrackType film;
    bool up;
    bool color;
    bool noise;
    bool blur;
    bool longStrip;
    std::uint32_t variant;
    std::uint64_t scans;  // both scans, one after the other
    std::uint64_t signal; // the planned signal's float bytes
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class UnchangedRender : public testing::TestWithParam<Case> {};

TEST_P(UnchangedRender, GivesTheBytesItAlwaysGave) {
    const Case& c = GetParam();
    SynthOptions options;
    options.film = c.film;
    options.rotationUp = c.up;
    options.color = c.color;
    options.noise = c.noise;
    options.blur = c.blur;
    options.longStrip = c.longStrip;
    options.variant = c.variant;
    options.frames = 2;
    options.dpi = {600, 600}; // small scans: quick in debug builds
    const SynthPlanResult planned = planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    const std::uint64_t scans = fingerprint(renderWorkingImage(planned.plan, 1),
                                            fingerprint(renderWorkingImage(planned.plan, 0)));
    const std::uint64_t signal = fingerprint(planned.plan.signal);
    EXPECT_EQ(scans, c.scans);
    EXPECT_EQ(signal, c.signal);
}

constexpr SoundtrackType VA35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType VD35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType VA16 = SoundtrackType::VariableArea16;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, UnchangedRender,
    testing::Values(
        Case{"va35_grey_up", VA35, true, false, false, false, false, 1,
             0xeed6b94d3e95fff4ull, 0x910702208149b65dull},
        Case{"va35_colour_noise_blur", VA35, true, true, true, true, false, 2,
             0xd1044e47d0ef0ac6ull, 0xdeebdce42ca9f77bull},
        Case{"vd35_down_noise", VD35, false, false, true, false, false, 3,
             0x9c1f9b8f56fd85a4ull, 0xd02800a74f7c5b1full},
        Case{"vd35_colour_blur", VD35, true, true, false, true, false, 4,
             0x4674b1552a7a9f6full, 0x7dd9ccd2e1db8bd4ull},
        Case{"va16_down_colour_noise", VA16, false, true, true, false, false, 5,
             0xe9048c12e9a4ccb6ull, 0xe1605fdd294fbee6ull},
        Case{"va16_long_strip_blur", VA16, true, false, false, true, true, 6,
             0x74d6f34d5444acaeull, 0x3645b2d5843859fcull}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
} // namespace veltrana::synth
