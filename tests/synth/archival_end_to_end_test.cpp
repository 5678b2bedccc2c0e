// Archival sound end to end: the soundtrack job run on rendered scans with
// what real scans have (fractional starts, fall-off, weave, silence), once
// standard and once archival, as a user runs it. The joins it reports
// against the true ones, both sounds against the signal that went in. A few
// small renders, for the sanitizers; the accuracy suite measures every
// standard with stricter figures in a release build.

#include "synth/measure.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>

namespace veltrana::synth {
namespace {

struct Case {
    const char* name;
    SoundtrackType film;
    bool up = true;
    bool longStrip = false;
    double falloff = 40;
    int weave = 3;
    bool silence = false;
    double minGainDb = 10;  // archival SNR above the standard sound's, at least
    double maxRms = 0.02;   // rows, of the archival joins against the truth
    double maxWorst = 0.04; // rows
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

SynthOptions renderOf(const Case& c) {
    SynthOptions options;
    options.film = c.film;
    options.rotationUp = c.up;
    options.longStrip = c.longStrip;
    options.frames = c.silence ? 16 : c.longStrip ? 4 : 8;
    options.fps = 25;
    options.falloffPercent = c.falloff;
    options.weave = c.weave;
    options.fractionalStarts = true;
    options.silence = c.silence;
    // grain and scanner noise, as every real scan has: without them a fading
    // light leaves an 8-bit staircase along the film that no film shows
    options.noise = true;
    return options;
}

JobOnRender runJob(const Case& c, const SynthTruth& truth, const test::TempDir& dir,
                   bool archival) {
    SoundtrackJob job;
    job.soundtrackType = c.film;
    job.longStrip = c.longStrip;
    job.trackSide = c.up ? TrackSide::Top : TrackSide::Bottom;
    job.filmSpeed = 25;
    job.archivalLevels = archival;
    job.preciseJoins = archival;
    job.bitsPerSample = archival ? 24 : 8;
    job.outputRate = 0; // the film's rate: the truth's own
    return runJobOnRender(truth, dir / "scans", dir / (archival ? "archival.wav" : "standard.wav"),
                          job);
}

class ArchivalEndToEnd : public testing::TestWithParam<Case> {};

TEST_P(ArchivalEndToEnd, JoinsPreciselyAndRecoversTheSoundBetter) {
    const Case& c = GetParam();
    const test::TempDir dir;
    const SynthResult rendered = renderSampleScans(renderOf(c), dir / "scans");
    ASSERT_TRUE(rendered.ok()) << rendered.error;
    const SynthTruth& truth = rendered.truth;
    const JobOnRender standard = runJob(c, truth, dir, false);
    const JobOnRender archival = runJob(c, truth, dir, true);
    ASSERT_TRUE(standard.result.succeeded()) << standard.result.message;
    ASSERT_TRUE(archival.result.succeeded()) << archival.result.message;
    ASSERT_EQ(archival.report.size(), archival.bounds.size() - 1);

    // the joins against the true fractional ones: the track settles each, or
    // where it is silent the bands beside it; never the standard join
    const std::vector<double> errors = joinErrors(truth, archival.bounds, archival.report);
    double squares = 0;
    double worst = 0;
    for (std::size_t k = 0; k < errors.size(); ++k) {
        const ReportedJoin& j = archival.report[k];
        EXPECT_FALSE(j.isFallback())
            << "frame " << j.frame << ": " << j.method << ", score " << j.score;
        squares += errors[k] * errors[k];
        worst = std::max(worst, std::abs(errors[k]));
    }
    const double rms = std::sqrt(squares / static_cast<double>(errors.size()));
    EXPECT_LE(rms, c.maxRms);
    EXPECT_LE(worst, c.maxWorst);

    // the sounds against the signal: the standard one as its 8-bit bytes
    const std::vector<float> signal = readTruthSignal(dir / "scans" / "truth.wav").samples;
    const double start = trimmedStartExact(truth, 0, archival.bounds.front());
    const double standardDb = fitToTruth(standard.sound, signal, start).db;
    const double archivalDb = fitToTruth(archival.sound, signal, start).db;
    std::printf("[ figures  ] %s: joins rms %.3f worst %.3f rows; SNR standard %.1f dB, "
                "archival %.1f dB\n",
                c.name, rms, worst, standardDb, archivalDb);
    EXPECT_GE(archivalDb, standardDb + c.minGainDb);
}

constexpr SoundtrackType VA35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType VD35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType VA16 = SoundtrackType::VariableArea16;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, ArchivalEndToEnd,
    testing::Values(
        Case{.name = "va35", .film = VA35},
        Case{.name = "vd35_down", .film = VD35, .up = false},
        Case{.name = "va16", .film = VA16},
        // scans of four frames share only about 60 rows once trimmed
        Case{.name = "va16_long_strip", .film = VA16, .longStrip = true, .maxRms = 0.04,
             .maxWorst = 0.06},
        // silent passages: the joins hold, settled by the bands beside the
        // track where it is silent; the sound, never worse
        Case{.name = "va35_silence", .film = VA35, .falloff = 20, .weave = 2, .silence = true,
             .minGainDb = 0}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
// clang-format on
#pragma GCC diagnostic pop

} // namespace
} // namespace veltrana::synth
