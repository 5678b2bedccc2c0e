// Archival sound against the standard sound on renders of every film
// standard: the soundtrack job run on the scans as a user runs it, once each
// way, its joins.csv, WAVs and leng.txt read back and set against the truth.
// Heavy for the sanitizers: a release build runs it (the accuracy preset).

#include "synth/measure.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

namespace veltrana::synth {
namespace {

namespace fs = std::filesystem;
using Kind = MeasuredRender::Kind;

// Scans per render (a long run has 96, a long strip a quarter).
constexpr int kFrames = 12;

// A render's scans and both runs of the job on them, in a folder of its own.
class RenderRuns {
public:
    explicit RenderRuns(const MeasuredRender& render)
        : dir(fs::temp_directory_path() /
              ("veltrana-accuracy-" + std::to_string(::getpid()) + "-" + render.name)) {
        const SynthResult rendered = renderSampleScans(render.options, dir / "scans");
        error = rendered.error;
        if (!rendered.ok()) {
            return;
        }
        truth = rendered.truth;
        signal = readTruthSignal(dir / "scans" / "truth.wav").samples;
        standard = run(render, false);
        archival = run(render, true);
    }
    ~RenderRuns() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    RenderRuns(const RenderRuns&) = delete;
    RenderRuns& operator=(const RenderRuns&) = delete;

    fs::path dir;
    std::string error;
    SynthTruth truth;
    std::vector<float> signal;
    JobOnRender standard;
    JobOnRender archival;

private:
    JobOnRender run(const MeasuredRender& render, bool archivalSound) {
        SoundtrackJob job;
        job.soundtrackType = render.options.film;
        job.longStrip = render.options.longStrip;
        job.filmSpeed = render.options.fps;
        job.trackSide = synth::trackSideOf(render.options);
        job.colorElement = render.element;
        job.crossfade = render.crossfade;
        job.removeDc = render.removeDc;
        job.archivalLevels = archivalSound;
        job.preciseJoins = archivalSound;
        job.bitsPerSample = archivalSound ? 24 : 8;
        job.outputRate = 0; // the film's rate, the truth's own
        return runJobOnRender(truth, dir / "scans",
                              dir / (archivalSound ? "archival.wav" : "standard.wav"), job);
    }
};

double rmsOf(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) {
        sum += x * x;
    }
    return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(v.size(), 1)));
}

double worstOf(const std::vector<double>& v) {
    double worst = 0;
    for (double x : v) {
        worst = std::max(worst, std::abs(x));
    }
    return worst;
}

std::vector<MeasuredRender> measuredRenders() {
    std::vector<MeasuredRender> list;
    for (const MeasuredRender& r : archivalRenders(kFrames)) {
        if (r.kind != Kind::Diagnostic) {
            list.push_back(r);
        }
    }
    return list;
}

} // namespace

void PrintTo(const MeasuredRender& render, std::ostream* out) {
    *out << render.name;
}

namespace {

class ArchivalAccuracy : public testing::TestWithParam<MeasuredRender> {};

TEST_P(ArchivalAccuracy, JoinsPreciselyWithoutFallingBackAndSoundsBetter) {
    const MeasuredRender& render = GetParam();
    const RenderRuns runs(render);
    ASSERT_TRUE(runs.error.empty()) << runs.error;
    ASSERT_TRUE(runs.standard.result.succeeded()) << runs.standard.result.message;
    ASSERT_TRUE(runs.archival.result.succeeded()) << runs.archival.result.message;
    const JobOnRender& archival = runs.archival;
    ASSERT_EQ(archival.report.size(), archival.bounds.size() - 1);

    // the joins: never the standard one, and within hundredths of a row
    // (a long strip shares a few dozen rows, a slanted photograph's track
    // is read from the picture's line across the film)
    const std::vector<double> errors = joinErrors(runs.truth, archival.bounds, archival.report);
    for (std::size_t k = 0; k < errors.size(); ++k) {
        const ReportedJoin& j = archival.report[k];
        EXPECT_FALSE(j.isFallback()) << "frame " << j.frame << ": " << j.method;
        EXPECT_GT(j.precision, 0.0) << "frame " << j.frame;
    }
    const bool scan = render.kind == Kind::Scan || render.kind == Kind::LongRun;
    const double maxRms = scan ? 0.01 : render.kind == Kind::LongStrip ? 0.03 : 0.5;
    const double maxWorst = scan ? 0.03 : render.kind == Kind::LongStrip ? 0.06 : 2.0;
    EXPECT_LE(rmsOf(errors), maxRms);
    EXPECT_LE(worstOf(errors), maxWorst);

    // as long as the whole rows of leng.txt and the last frame
    const FrameBounds& last = archival.bounds.back();
    EXPECT_EQ(static_cast<int>(archival.sound.size()),
              archival.lengthsSum + last.right - last.left + 1);

    // the sound, where there is any: better than the standard sound's, by a
    // decibel at least (a noise-reduction bias is no sound, and the standard
    // sound loses it with each frame's mean)
    const double start = trimmedStartExact(runs.truth, 0, archival.bounds.front());
    const double standardDb = fitToTruth(runs.standard.sound, runs.signal, start).db;
    const double archivalDb = fitToTruth(archival.sound, runs.signal, start).db;
    std::printf("[ figures  ] %s: joins rms %.4f worst %.4f rows", render.name.c_str(),
                rmsOf(errors), worstOf(errors));
    if (render.options.signal != SignalKind::Silent) {
        std::printf("; SNR standard %.1f dB, archival %.1f dB", standardDb, archivalDb);
    }
    std::printf("\n");
    if (render.options.signal != SignalKind::Silent && !render.options.noiseReductionBias) {
        EXPECT_GE(archivalDb, standardDb + 1.0);
    }
    if (render.kind == Kind::LongRun) {
        // 96 frames of speech with 5 % fall-off: the sound, and what of its
        // error comes back with every frame (the buzz at the frame rate)
        const SoundFit fit = fitToTruth(archival.sound, runs.signal, start);
        const FrameSynchronous sync = frameSynchronousError(
            fit, frameStarts(runs.truth, archival.bounds), runs.truth.layout.scanStep);
        std::printf("[ figures  ] %s: frame-synchronous error %s%.1f dB below the sound\n",
                    render.name.c_str(), sync.resolved() ? "" : "more than ", sync.db());
        EXPECT_GE(fit.db, 25.5);
        EXPECT_GE(sync.db(), 45.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Renders, ArchivalAccuracy, testing::ValuesIn(measuredRenders()),
                         [](const testing::TestParamInfo<MeasuredRender>& info) {
                             return info.param.name;
                         });

} // namespace
} // namespace veltrana::synth
