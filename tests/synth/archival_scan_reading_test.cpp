// The archival reading of a scan as it lies against the same reading of its
// turned working image: one implementation, so every value must be the same,
// for both orientations, grey and colour scans and every colour element.

#include "synth/synth.h"

#include "geometry/frame_correction.h"
#include "geometry/scan.h"
#include "soundtrack/archival_frame.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"

#include <gtest/gtest.h>

#include <ostream>

namespace veltrana::synth {
namespace {

struct ReadingCase {
    const char* name;
    SoundtrackType film;
    bool up;
    bool color;
    bool longStrip = false;
};

void PrintTo(const ReadingCase& c, std::ostream* out) {
    *out << c.name;
}

class ArchivalScanReading : public testing::TestWithParam<ReadingCase> {};

TEST_P(ArchivalScanReading, GivesWhatTheWorkingImageGives) {
    const ReadingCase& c = GetParam();
    SynthOptions options;
    options.film = c.film;
    options.rotationUp = c.up;
    options.color = c.color;
    options.longStrip = c.longStrip;
    options.frames = 2;
    options.noise = true;
    options.falloffPercent = 35;
    options.weave = 3;
    options.fractionalStarts = true;
    const SynthPlanResult planned = planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    const SoundtrackGeometry geometry = *computeSoundtrackGeometry(c.film, options.dpi);

    const cv::Mat scan = renderScan(planned.plan, 1);
    const FrameBounds bounds = findFrameBounds(scan, c.film, c.longStrip);
    // a view into the loaded scan, its rows not contiguous, as the job has it
    const cv::Mat trimmed = scan.colRange(bounds.left, bounds.right + 1);
    ASSERT_FALSE(trimmed.isContinuous());
    const cv::Mat working = workingImageFromFrame(frameCorrection(scan, c.film, c.longStrip));
    const StripRange track = stripRangeByProfile(working, c.film, geometry, c.up);

    const std::vector<ColorElement> elements =
        c.color ? std::vector<ColorElement>{ColorElement::B, ColorElement::G, ColorElement::R,
                                            ColorElement::Y}
                : std::vector<ColorElement>{ColorElement::R, ColorElement::Y};
    for (ColorElement element : elements) {
        const ArchivalFrame fromScan =
            archivalFrameOfScan(trimmed, track, element, c.film, c.up, c.longStrip);
        const ArchivalFrame fromWorking =
            archivalFrame(working, track, element, c.film, c.up, c.longStrip);
        ASSERT_EQ(fromScan.rows(), working.rows);
        EXPECT_EQ(fromScan.samples, fromWorking.samples);
        EXPECT_EQ(fromScan.illumination, fromWorking.illumination);
        for (int band = 0; band < kSearchBandCount; ++band) {
            EXPECT_EQ(fromScan.profiles[static_cast<std::size_t>(band)],
                      fromWorking.profiles[static_cast<std::size_t>(band)])
                << searchBandName(static_cast<SearchBand>(band));
        }
        EXPECT_EQ(fromScan.profileMargin, fromWorking.profileMargin);
        EXPECT_EQ(fromScan.bandWidth, fromWorking.bandWidth);
        EXPECT_EQ(fromScan.light, fromWorking.light);
        // the scan was lit unevenly: the light was found and followed
        EXPECT_NE(fromScan.light, LightReference::None);
        EXPECT_NE(fromScan.illumination.front(), 1.0f);
    }
}

constexpr SoundtrackType VA35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType VD35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType VA16 = SoundtrackType::VariableArea16;

INSTANTIATE_TEST_SUITE_P(
    Scans, ArchivalScanReading,
    testing::Values(ReadingCase{"area35_up_grey", VA35, true, false},
                    ReadingCase{"area35_down_colour", VA35, false, true},
                    ReadingCase{"density35_up_colour", VD35, true, true},
                    ReadingCase{"density35_down_grey", VD35, false, false},
                    ReadingCase{"area16_down_colour", VA16, false, true},
                    ReadingCase{"area16_long_strip_up_grey", VA16, true, false, true}),
    [](const testing::TestParamInfo<ReadingCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrana::synth
