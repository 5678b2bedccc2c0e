// The sample scans must pass as real to the measuring code: resolution
// detection reads back the rendered dpi (or the renderer says what it reads
// instead), the frame trim keeps the frames whole, and the strip cutters find
// the band.

#include "synth/synth.h"

#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace veltrana::synth {
namespace {

struct Case {
    const char* name;
    SoundtrackType film;
    ScanResolution dpi;
    bool up = true;
    bool color = false;
    bool noise = false;
    bool blur = false;
    bool longStrip = false;
    SignalKind signal = SignalKind::Mix;
    std::uint32_t variant = 1;
    int frames = 3; // planned; at most kRendered of them are rendered
};

// Scans rendered per case: the first three (debug builds render slowly).
constexpr int kRendered = 3;

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.name;
}

SynthOptions optionsFor(const Case& c) {
    SynthOptions o;
    o.film = c.film;
    o.dpi = c.dpi;
    o.rotationUp = c.up;
    o.color = c.color;
    o.noise = c.noise;
    o.blur = c.blur;
    o.longStrip = c.longStrip;
    o.signal = c.signal;
    o.variant = c.variant;
    o.frames = c.frames;
    o.jitter = std::min(kDefaultJitter * 4, 12); // more than the default, within every limit
    return o;
}

constexpr SoundtrackType VA35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType VD35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType VA16 = SoundtrackType::VariableArea16;

class SampleScans : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        SynthPlanResult planned = planSampleScans(optionsFor(GetParam()));
        ASSERT_TRUE(planned.ok()) << planned.error;
        plan = std::move(planned.plan);
        const int rendered = std::min(kRendered, static_cast<int>(plan.truth.scans.size()));
        for (int k = 0; k < rendered; ++k) {
            files.push_back(renderScan(plan, k));
        }
    }

    const SynthTruth& truth() const { return plan.truth; }
    const SynthLayout& layout() const { return plan.truth.layout; }
    const SynthOptions& options() const { return plan.truth.options; }

    // The working image the soundtrack job makes of scan k: trimmed, turned.
    cv::Mat jobWorkingImage(int k) const {
        return workingImageFromFrame(frameCorrection(files[static_cast<std::size_t>(k)],
                                                     options().film, options().longStrip));
    }

    // Columns of an UP working image as the scan at hand lays them out.
    StripRange asRendered(double first, double last) const {
        if (options().rotationUp) {
            return {static_cast<int>(std::floor(first)), static_cast<int>(std::ceil(last))};
        }
        const int w = layout().scanColumns;
        return {w - 1 - static_cast<int>(std::ceil(last)),
                w - 1 - static_cast<int>(std::floor(first))};
    }

    // The checks, each on every rendered scan of the case.
    void DetectionReadsTheRenderedResolutionOrTheRendererSaysWhatItReads();
    void TheTrimKeepsEveryFrameWhole();
    void TheProfileCutterFindsTheBand();
    void TheEdgeCutterStaysOnTheBand();
    void TheFileIsTheWorkingImageTurnedClockwise();

    SynthPlan plan;
    std::vector<cv::Mat> files;
};

void SampleScans::DetectionReadsTheRenderedResolutionOrTheRendererSaysWhatItReads() {
    const ResolutionEstimate e = estimateResolution(jobWorkingImage(0), options().film);
    EXPECT_EQ(e.snapped, truth().expected)
        << "measured " << e.measured.dpiX << " x " << e.measured.dpiY;
    if (truth().expected == options().dpi) {
        EXPECT_TRUE(truth().warnings.empty()) << truth().warnings.front();
    } else {
        ASSERT_FALSE(truth().warnings.empty());
    }
    // whatever detection reads, the job's pixel sizes either are the rendered
    // ones or the renderer has said otherwise
    const auto read = computeSoundtrackGeometry(options().film, e.snapped);
    ASSERT_TRUE(read.has_value());
    if (read->framePitch != layout().framePitch || read->trackWidth != layout().trackWidth) {
        EXPECT_FALSE(truth().warnings.empty());
    }
}

void SampleScans::TheTrimKeepsEveryFrameWhole() {
    for (int k = 0; k < static_cast<int>(files.size()); ++k) {
        const cv::Mat& file = files[static_cast<std::size_t>(k)];
        const FrameBounds b = findFrameBounds(file, options().film, options().longStrip);
        // in working rows: the trimmed image runs from `top` to `bottom`
        const int top = file.cols - 1 - b.right;
        const int bottom = file.cols - 1 - b.left;
        const auto& lines = truth().scans[static_cast<std::size_t>(k)].frameLines;
        ASSERT_EQ(static_cast<int>(lines.size()), layout().framesPerScan + 1) << "scan " << k;
        // no cut inside a frame's picture: at most into the frame lines that bound them
        EXPECT_LE(top, lines.front().second) << "scan " << k;
        EXPECT_GE(bottom, lines.back().first - 1) << "scan " << k;
        if (!options().longStrip) {
            // with the neighbouring pictures beyond the 7 % margins the scan stays whole
            EXPECT_LE(b.left, 1) << "scan " << k;
            EXPECT_EQ(b.right, file.cols - 1) << "scan " << k;
        }
    }
}

void SampleScans::TheProfileCutterFindsTheBand() {
    const SoundtrackGeometry geometry{layout().trackWidth, layout().framePitch};
    for (int k = 0; k < static_cast<int>(files.size()); ++k) {
        cv::Mat working = jobWorkingImage(k);
        const StripRange found =
            stripRangeByProfile(working, options().film, geometry, options().rotationUp);
        // never the sliver at the edge, never the picture
        const StripRange outerLimits =
            asRendered(layout().sliverColumns, layout().pictureFirstColumn - 1);
        EXPECT_GT(found.first, outerLimits.first) << "scan " << k;
        EXPECT_LT(found.last, outerLimits.last) << "scan " << k;
        if (options().film == SoundtrackType::VariableDensity35) {
            // a uniform band: any columns inside the track area read the sound
            const StripRange track =
                asRendered(layout().trackFirstColumn, layout().trackEndColumn - 1);
            EXPECT_GE(found.first, track.first) << "scan " << k;
            EXPECT_LE(found.last, track.last) << "scan " << k;
            EXPECT_GE(found.last - found.first, layout().trackWidth / 2) << "scan " << k;
        } else {
            // the whole width the clear band takes in this scan
            const int start = truth().scans[static_cast<std::size_t>(k)].start;
            float loudest = -1.0f;
            for (int r = 0; r < layout().scanRows; ++r) {
                loudest = std::max(loudest, plan.signal[static_cast<std::size_t>(start + r)]);
            }
            const double half =
                0.5 * (layout().bandHalfWidthMin + layout().bandHalfWidthMax) +
                0.5 * (layout().bandHalfWidthMax - layout().bandHalfWidthMin) * loudest;
            const StripRange band =
                asRendered(layout().bandCentre - half, layout().bandCentre + half - 1);
            EXPECT_LE(found.first, band.first) << "scan " << k;
            EXPECT_GE(found.last, band.last) << "scan " << k;
        }
    }
}

void SampleScans::TheEdgeCutterStaysOnTheBand() {
    const SoundtrackGeometry geometry{layout().trackWidth, layout().framePitch};
    const cv::Mat working = jobWorkingImage(0);
    const StripRange found =
        stripRangeFromEdge(working, options().film, geometry, options().rotationUp);
    const StripRange outerLimits =
        asRendered(layout().sliverColumns, layout().pictureFirstColumn - 1);
    EXPECT_GE(found.first, outerLimits.first);
    EXPECT_LE(found.last, outerLimits.last);
    // and it reaches the middle of the band
    const StripRange middle = asRendered(layout().bandCentre, layout().bandCentre);
    EXPECT_LE(found.first, middle.first);
    EXPECT_GE(found.last, middle.last);
}

void SampleScans::TheFileIsTheWorkingImageTurnedClockwise() {
    EXPECT_EQ(cv::norm(workingImageFromFrame(files[0]), renderWorkingImage(plan, 0), cv::NORM_INF),
              0.0);
    EXPECT_EQ(files[0].rows, layout().scanColumns);
    EXPECT_EQ(files[0].cols, layout().scanRows);
    EXPECT_EQ(files[0].channels(), options().color ? 3 : 1);
}

// One test per case, so that each case is rendered once.
TEST_P(SampleScans, PassAsRealScansToTheMeasuringCode) {
    {
        SCOPED_TRACE("resolution detection");
        DetectionReadsTheRenderedResolutionOrTheRendererSaysWhatItReads();
    }
    {
        SCOPED_TRACE("frame trim");
        TheTrimKeepsEveryFrameWhole();
    }
    {
        SCOPED_TRACE("strip cutter by profile");
        TheProfileCutterFindsTheBand();
    }
    {
        SCOPED_TRACE("strip cutter from the edge");
        TheEdgeCutterStaysOnTheBand();
    }
    {
        SCOPED_TRACE("file orientation");
        TheFileIsTheWorkingImageTurnedClockwise();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Films, SampleScans,
    testing::Values(
        Case{"va35", VA35, {1200, 1200}}, Case{"vd35", VD35, {1200, 1200}},
        Case{"va16", VA16, {1200, 1200}}, Case{"va35_down", VA35, {1200, 1200}, false},
        Case{"vd35_down_color", VD35, {1200, 1200}, false, true},
        Case{"va16_down", VA16, {1200, 1200}, false},
        Case{"va35_color_noise_blur", VA35, {1200, 1200}, true, true, true, true},
        Case{"vd35_noise_blur", VD35, {1200, 1200}, true, false, true, true},
        Case{"va16_color_noise_blur", VA16, {1200, 1200}, true, true, true, true},
        Case{"va16_long_strip", VA16, {1200, 1200}, true, false, false, false, true},
        Case{"va16_long_strip_down", VA16, {1200, 1200}, false, false, true, false, true},
        Case{"va35_2400", VA35, {2400, 2400}}, Case{"vd35_2400_down", VD35, {2400, 2400}, false},
        Case{"va16_2400", VA16, {2400, 2400}},
        Case{"va35_tone", VA35, {1200, 1200}, true, false, false, false, false, SignalKind::Tone},
        // sweeps planned over the usual 48 frames, so that they run at
        // their usual pace through the scans rendered
        Case{"va16_sweep",
             VA16,
             {1200, 1200},
             true,
             false,
             false,
             false,
             false,
             SignalKind::Sweep,
             1,
             48},
        Case{"va35_sweep",
             VA35,
             {1200, 1200},
             true,
             false,
             false,
             false,
             false,
             SignalKind::Sweep,
             1,
             48},
        Case{"vd35_sweep_variant7",
             VD35,
             {1200, 1200},
             true,
             false,
             false,
             false,
             false,
             SignalKind::Sweep,
             7,
             48},
        Case{"va35_variant9",
             VA35,
             {1200, 1200},
             true,
             false,
             false,
             false,
             false,
             SignalKind::Mix,
             9},
        Case{"va16_tone_variant3",
             VA16,
             {1200, 1200},
             true,
             true,
             false,
             false,
             false,
             SignalKind::Tone,
             3},
        Case{"va35_uneven", VA35, {1200, 2400}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrana::synth
