// Archival sound against the standard sound, measured on rendered scans with
// known truth by running the soundtrack job itself, once each way:
// - the join used for every pair (joins.csv, or the standard join the job
//   shows) against the true fractional join of the trimmed scans, in rows,
//   beside the precision joins.csv claims for it;
// - each WAV against the signal that went in (SNR, dB);
// - the frame-synchronous error: the residual (recovered less the truth at
//   its best gain and offset) averaged frame by frame over the run, less what
//   noise leaves in such an average, as dB below the signal. Errors that come
//   back with every frame (fall-off left in, steps at the joins) sound as a
//   buzz at the frame rate. Where it does not stand out of the noise, the
//   figure is a bound: ">" twice the estimate's own spread;
// - the length of both WAVs, and the whole rows of the archival leng.txt
//   plus the last frame's, which the archival length should equal;
// - the precise search's cost against the scans' loading (the job's own
//   stage timings, one thread, the archival run's join search less the
//   standard run's).
//
//   bench_archival [case-name-filter] [frames]
//
// Each case renders its scans into a temporary folder (`veltrana synth` with
// the case's options), runs the job on them with the resolution given by
// hand (detection is not what is measured), reads both WAVs at the film's
// rate (the archival one as 24-bit PCM) and the join report back. The trim
// bounds of every frame come from the job's frame previews. BENCH_VERBOSE=1
// prints every pair, BENCH_SPECTRUM=1 where in frequency each residual lies,
// BENCH_REPEATS=N times each run N times for the stage timings.
// Build in Release for figures worth quoting.

#include "reading/scan_buffers.h"
#include "synth/measure.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace veltrana;

using Case = synth::MeasuredRender;

// The run of one case, standard or archival, on its rendered scans.
synth::JobOnRender runJob(const Case& c, const synth::SynthTruth& truth, const fs::path& scans,
                          const fs::path& out, bool archival) {
    SoundtrackJob job;
    job.soundtrackType = c.options.film;
    job.longStrip = c.options.longStrip;
    job.threads = 1; // the stage timings are the work itself
    job.filmSpeed = c.options.fps;
    job.colorElement = c.element;
    job.crossfade = c.crossfade;
    job.removeDc = c.removeDc;
    job.trackSide = veltrana::synth::trackSideOf(c.options);
    job.archivalLevels = archival;
    job.preciseJoins = archival;
    job.bitsPerSample = archival ? 24 : 8;
    job.outputRate = 0; // the film's rate: the truth's own
    return synth::runJobOnRender(truth, scans, out / (archival ? "archival.wav" : "standard.wav"),
                                 job);
}

// The run, repeated BENCH_REPEATS times (default 1) with each stage's time
// the least of them: other work on the machine only ever adds time.
synth::JobOnRender fastestRun(const Case& c, const synth::SynthTruth& truth, const fs::path& scans,
                              const fs::path& out, bool archival) {
    const char* repeats = std::getenv("BENCH_REPEATS");
    synth::JobOnRender run = runJob(c, truth, scans, out, archival);
    for (int k = 1; repeats != nullptr && k < std::atoi(repeats); ++k) {
        const SoundtrackTimings t = runJob(c, truth, scans, out, archival).timings;
        run.timings.load = std::min(run.timings.load, t.load);
        run.timings.stripAndSamples = std::min(run.timings.stripAndSamples, t.stripAndSamples);
        run.timings.joinSearch = std::min(run.timings.joinSearch, t.joinSearch);
    }
    return run;
}

// The frame-synchronous figure: "n/a" when too few frames, ">" and the bound
// when nothing stands out of the noise.
std::string synchronousText(const synth::SoundFit& fit, std::span<const double> starts,
                            int period) {
    const synth::FrameSynchronous e = synth::frameSynchronousError(fit, starts, period);
    if (e.frames < 3 || !(e.signal > 0)) {
        return "  n/a";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%s%4.1f", e.resolved() ? " " : ">", e.db());
    return text;
}

struct JoinErrors {
    double rms = 0;
    double worst = 0;
    double worstZ = 0; // the worst error in claimed standard deviations
};

// Where the residual's power lies: dB below the signal's whole power in
// each band of frequencies, and at the frame rate's harmonics (BENCH_SPECTRUM).
std::string residualSpectrum(const synth::SoundFit& fit, double rate, int fps) {
    const int n = static_cast<int>(fit.residual.size());
    cv::Mat spectrum;
    cv::dft(cv::Mat(1, n, CV_64F, const_cast<double*>(fit.residual.data())), spectrum,
            cv::DFT_COMPLEX_OUTPUT);
    double signal = 0.0;
    for (double v : fit.signal) {
        signal += v * v;
    }
    signal *= n / 2.0; // Parseval, over the positive frequencies
    const auto powerAt = [&](int k) {
        const cv::Vec2d v = spectrum.at<cv::Vec2d>(k);
        return v[0] * v[0] + v[1] * v[1];
    };
    std::string text;
    const double edges[] = {0, 30, 100, 300, 1000, 3000, 1e9};
    char part[64];
    for (int b = 0; b + 1 < 7; ++b) {
        double power = 0.0;
        for (int k = 1; k < n / 2; ++k) {
            const double hz = k * rate / n;
            power += hz >= edges[b] && hz < edges[b + 1] ? powerAt(k) : 0.0;
        }
        std::snprintf(part, sizeof part, " %g-%g Hz %.1f", edges[b], edges[b + 1],
                      10 * std::log10(signal / power));
        text += part;
    }
    double harmonics = 0.0;
    for (int h = 1; h * fps < rate / 2; ++h) {
        const int k = static_cast<int>(std::lround(h * fps * n / rate));
        harmonics += powerAt(k - 1) + powerAt(k) + powerAt(k + 1);
    }
    std::snprintf(part, sizeof part, "; frame-rate harmonics %.1f dB",
                  10 * std::log10(signal / harmonics));
    return text + part;
}

// The joins used against the true ones, and the standard joins.
struct JoinFigures {
    JoinErrors archival;
    JoinErrors standard;
    int fallbacks = 0;
    int loose = 0;
};

JoinFigures measureJoins(const synth::SynthTruth& truth, const synth::JobOnRender& standard,
                         const synth::JobOnRender& archival, bool verbose) {
    JoinFigures f;
    const std::vector<double> errors = synth::joinErrors(truth, archival.bounds, archival.report);
    const int pairs = static_cast<int>(errors.size());
    for (int k = 0; k < pairs; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const synth::ReportedJoin& r = archival.report[i];
        const double error = errors[i];
        const double standardError = standard.shownJoins[i + 1] - (r.used - error);
        f.archival.rms += error * error;
        f.archival.worst = std::max(f.archival.worst, std::abs(error));
        if (r.precision > 0) {
            f.archival.worstZ = std::max(f.archival.worstZ, std::abs(error) / r.precision);
        }
        f.standard.rms += standardError * standardError;
        f.standard.worst = std::max(f.standard.worst, std::abs(standardError));
        f.fallbacks += r.isFallback() ? 1 : 0;
        f.loose += r.method.find("loose") != std::string::npos ? 1 : 0;
        if (verbose) {
            std::printf("  pair %3d: truth %9.3f standard %5d used %9.3f (error %+7.3f, sd "
                        "%.3f, score %.3f) %s\n",
                        k + 1, r.used - error, r.standard, r.used, error, r.precision, r.score,
                        r.method.c_str());
        }
    }
    f.archival.rms = std::sqrt(f.archival.rms / std::max(pairs, 1));
    f.standard.rms = std::sqrt(f.standard.rms / std::max(pairs, 1));
    return f;
}

int runCase(const Case& c, bool verbose) {
    const fs::path dir = fs::temp_directory_path() /
                         ("veltrana-archival-" + std::to_string(::getpid()) + "-" + c.name);
    const fs::path scans = dir / "scans";
    const fs::path out = dir / "out";
    const synth::SynthResult rendered = synth::renderSampleScans(c.options, scans);
    if (!rendered.ok()) {
        std::fprintf(stderr, "%s: %s\n", c.name.c_str(), rendered.error.c_str());
        return 1;
    }
    fs::create_directories(out);
    const synth::SynthTruth& truth = rendered.truth;
    const synth::TruthSignal signal = synth::readTruthSignal(scans / "truth.wav");
    const synth::JobOnRender standard = fastestRun(c, truth, scans, out, false);
    const synth::JobOnRender archival = fastestRun(c, truth, scans, out, true);
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (!standard.result.succeeded() || !archival.result.succeeded()) {
        std::fprintf(stderr, "%s: %s%s\n", c.name.c_str(), standard.result.message.c_str(),
                     archival.result.message.c_str());
        return 1;
    }
    const int frames = c.options.frames;
    const std::vector<FrameBounds>& bounds = archival.bounds;
    const JoinFigures joins = measureJoins(truth, standard, archival, verbose);

    // the sounds against the truth, and what repeats with every frame
    const double start = synth::trimmedStartExact(truth, 0, bounds.front());
    const std::vector<double> starts = synth::frameStarts(truth, bounds);
    const int period = truth.layout.scanStep;
    const synth::SoundFit standardFit = synth::fitToTruth(standard.sound, signal.samples, start);
    const synth::SoundFit archivalFit = synth::fitToTruth(archival.sound, signal.samples, start);
    const std::string standardSync = synchronousText(standardFit, starts, period);
    const std::string archivalSync = synchronousText(archivalFit, starts, period);

    // the precise search's work against the loading's, per frame
    const double load = archival.timings.load / frames;
    const double search =
        (archival.timings.joinSearch - standard.timings.joinSearch) / std::max(frames - 1, 1);
    const double reading =
        (archival.timings.stripAndSamples - standard.timings.stripAndSamples) / frames;
    const int lastRows = bounds.back().right - bounds.back().left + 1;

    std::printf("%-24s joins rms %6.3f worst %6.3f (worst %4.1f sd; %d fallback, %d loose; "
                "standard rms %7.3f) | SNR standard %5.1f archival %5.1f dB | frame-sync "
                "standard %s archival %s dB | samples standard %zu archival %zu (leng.txt and "
                "last frame %d) | ms per frame: load %.1f, search %.2f (%.3f of load), "
                "archival read %.2f\n",
                c.name.c_str(), joins.archival.rms, joins.archival.worst, joins.archival.worstZ,
                joins.fallbacks, joins.loose, joins.standard.rms, standardFit.db, archivalFit.db,
                standardSync.c_str(), archivalSync.c_str(), standard.sound.size(),
                archival.sound.size(), archival.lengthsSum + lastRows, 1e3 * load, 1e3 * search,
                search / load, 1e3 * reading);
    if (std::getenv("BENCH_SPECTRUM") != nullptr) {
        const double rate = c.options.fps * truth.layout.framePitch;
        std::printf("  residual below the signal, standard:%s\n",
                    residualSpectrum(standardFit, rate, c.options.fps).c_str());
        std::printf("  residual below the signal, archival:%s\n",
                    residualSpectrum(archivalFit, rate, c.options.fps).c_str());
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string filter = argc > 1 ? argv[1] : "";
    const int frames = argc > 2 ? std::atoi(argv[2]) : 12;
    if (frames < 4) {
        std::fprintf(stderr, "usage: bench_archival [case filter] [frames >= 4]\n");
        return 2;
    }
    reuseLargeImageBuffers();
    int status = 0;
    for (const Case& c : synth::archivalRenders(frames)) {
        if (filter.empty() || c.name.find(filter) != std::string::npos) {
            status |= runCase(c, std::getenv("BENCH_VERBOSE") != nullptr);
        }
    }
    return status;
}
