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
// prints every pair, BENCH_SPECTRUM=1 where in frequency each residual lies.
// Build in Release for figures worth quoting.

#include "soundtrack/soundtrack_job.h"
#include "synth/synth.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace veltrana;

struct Case {
    std::string name;
    synth::SynthOptions render;
    bool crossfade = true;
    bool removeDc = true;
    ColorElement element = ColorElement::R;
};

// ---------------------------------------------------------------- the job

// Remembers what the job showed of each frame: its trim and its join.
class FrameRecorder : public NullObserver {
public:
    PreviewRequest previewRequest() const override {
        PreviewRequest request;
        request.frames = true;
        return request;
    }
    void framePreview(const FramePreview& preview) override {
        bounds.push_back(preview.bounds);
        joins.push_back(preview.join.value_or(0.0));
    }
    std::vector<FrameBounds> bounds;
    std::vector<double> joins; // 0 for the first frame
};

// One line of joins.csv.
struct ReportedJoin {
    int frame = 0;
    int standard = 0;
    std::string method;
    double used = 0;
    double score = 0;
    double precisionRows = -1; // -1 when the report has no such column
};

std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

std::vector<ReportedJoin> readJoinReport(const fs::path& path) {
    std::vector<ReportedJoin> joins;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = csvFields(line);
    const auto column = [&](const char* name) {
        const auto at = std::find(header.begin(), header.end(), name);
        return at == header.end() ? -1 : static_cast<int>(at - header.begin());
    };
    const int score = column("score");
    const int method = column("method");
    const int used = column("join_used");
    const int precision = column("precision_rows");
    while (std::getline(in, line)) {
        const std::vector<std::string> f = csvFields(line);
        if (f.size() < header.size()) {
            continue;
        }
        ReportedJoin j;
        j.frame = std::atoi(f[0].c_str());
        j.standard = std::atoi(f[2].c_str());
        j.score = std::atof(f[static_cast<std::size_t>(score)].c_str());
        j.method = f[static_cast<std::size_t>(method)];
        j.used = std::atof(f[static_cast<std::size_t>(used)].c_str());
        if (precision >= 0 && !f[static_cast<std::size_t>(precision)].empty()) {
            j.precisionRows = std::atof(f[static_cast<std::size_t>(precision)].c_str());
        }
        joins.push_back(j);
    }
    return joins;
}

struct JobRun {
    SoundtrackResult result;
    SoundtrackTimings timings;
    std::vector<FrameBounds> bounds;
    std::vector<double> shownJoins;
    std::vector<ReportedJoin> report; // archival only
    std::vector<float> sound;
};

JobRun runJob(const Case& c, const fs::path& scans, const fs::path& out, bool archival) {
    JobRun run;
    FrameRecorder recorder;
    SoundtrackJob job;
    job.inputPath = scans;
    job.outputPath = out / (archival ? "archival.wav" : "standard.wav");
    job.startFrame = 1;
    job.stopFrame = c.render.frames;
    job.soundtrackType = c.render.film;
    job.longStrip = c.render.longStrip;
    job.manualResolution = true;
    job.resolutionX = c.render.dpi.dpiX;
    job.resolutionY = c.render.dpi.dpiY;
    job.threads = 1; // the stage timings are the work itself
    job.filmSpeed = c.render.fps;
    job.colorElement = c.element;
    job.crossfade = c.crossfade;
    job.removeDc = c.removeDc;
    job.rotationUp = c.render.rotationUp;
    job.archivalLevels = archival;
    job.preciseJoins = archival;
    job.bitsPerSample = archival ? 24 : 8;
    job.outputRate = 0; // the film's rate: the truth's own
    job.observer = &recorder;
    job.timings = &run.timings;
    run.result = runSoundtrackJob(job);
    run.bounds = std::move(recorder.bounds);
    run.shownJoins = std::move(recorder.joins);
    if (!run.result.succeeded()) {
        return run;
    }
    if (archival) {
        run.report = readJoinReport(run.result.joinsPath);
    }
    run.sound = synth::readTruthSignal(run.result.wavPath).samples;
    return run;
}

// ------------------------------------------------------------ the measures

// Blackman-windowed sinc reaching 32 samples either way: the reference
// interpolation of the truth, longer than the code's own.
double truthAt(const std::vector<float>& signal, double position) {
    constexpr int reach = 32;
    const long long base = static_cast<long long>(std::floor(position));
    double value = 0.0;
    double weights = 0.0;
    for (long long j = base - reach + 1; j <= base + reach; ++j) {
        const double t = static_cast<double>(j) - position;
        const double u = t / reach;
        if (std::abs(u) >= 1.0) {
            continue;
        }
        const double window =
            0.42 + 0.5 * std::cos(std::numbers::pi * u) + 0.08 * std::cos(2 * std::numbers::pi * u);
        const double a = std::numbers::pi * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(a) / a;
        const double w = sinc * window;
        const float v = j >= 0 && j < static_cast<long long>(signal.size())
                            ? signal[static_cast<std::size_t>(j)]
                            : 0.0f;
        value += w * v;
        weights += w;
    }
    return value / weights;
}

// A recovered sound against the truth read at start + lag + i, over the
// middle 90 %: the truth at the best gain and offset, and what is left.
struct Fit {
    double db = -1e9;
    double lag = 0;
    int from = 0;                 // first stream index compared
    std::vector<double> signal;   // the truth at its best gain and offset
    std::vector<double> residual; // recovered less that
};

Fit fitAt(const std::vector<float>& recovered, const std::vector<float>& truth, double start,
          double lag) {
    Fit fit;
    fit.lag = lag;
    const int n = static_cast<int>(recovered.size());
    fit.from = n / 20;
    const int to = n - n / 20;
    std::vector<double> x, y;
    for (int i = fit.from; i < to; ++i) {
        x.push_back(recovered[static_cast<std::size_t>(i)]);
        y.push_back(truthAt(truth, start + lag + i));
    }
    if (x.size() < 2) {
        return fit;
    }
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= static_cast<double>(x.size());
    my /= static_cast<double>(y.size());
    double sxy = 0, syy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        syy += (y[i] - my) * (y[i] - my);
    }
    const double gain = syy > 0 ? sxy / syy : 0.0;
    double signalPower = 0, errorPower = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double s = gain * (y[i] - my);
        const double e = (x[i] - mx) - s;
        fit.signal.push_back(s);
        fit.residual.push_back(e);
        signalPower += s * s;
        errorPower += e * e;
    }
    fit.db = 10.0 * std::log10(signalPower / std::max(errorPower, 1e-30));
    return fit;
}

Fit bestFit(const std::vector<float>& recovered, const std::vector<float>& truth, double start) {
    double bestLag = 0;
    double bestDb = -1e9;
    auto tryLag = [&](double lag) {
        const double db = fitAt(recovered, truth, start, lag).db;
        if (db > bestDb) {
            bestDb = db;
            bestLag = lag;
        }
    };
    for (double lag = -2.0; lag <= 2.0001; lag += 0.25) {
        tryLag(lag);
    }
    const double centre = bestLag;
    for (double lag = centre - 0.24; lag <= centre + 0.2401; lag += 0.02) {
        tryLag(lag);
    }
    return fitAt(recovered, truth, start, bestLag);
}

// How far below the signal the residual's frame-synchronous part lies (dB):
// the residual cut into one stretch of `period` samples per frame, from
// each frame's own start in the stream, averaged over the frames; from the
// average's power goes what independent noise leaves in an average of that
// many stretches (its variance over the frames, divided by their count).
// Infinity when nothing is left.
struct SyncEstimate {
    double signal = std::nan("");
    double synchronous = 0; // power of the frame-synchronous part, noise's share taken off
    double spread = 0;      // standard deviation of that estimate
};

SyncEstimate frameSynchronous(const Fit& fit, const std::vector<double>& frameStarts, int period) {
    std::vector<const double*> stretches;
    for (double s : frameStarts) {
        const long long first = std::llround(s) - fit.from;
        if (first >= 0 && first + period <= static_cast<long long>(fit.residual.size())) {
            stretches.push_back(fit.residual.data() + first);
        }
    }
    const int count = static_cast<int>(stretches.size());
    SyncEstimate e;
    if (count < 3 || period <= 0) {
        return e;
    }
    double synchronous = 0.0;
    double noise = 0.0;
    for (int j = 0; j < period; ++j) {
        double sum = 0.0, squares = 0.0;
        for (const double* r : stretches) {
            sum += r[j];
            squares += r[j] * r[j];
        }
        const double mean = sum / count;
        const double variance = (squares - sum * mean) / (count - 1);
        synchronous += mean * mean - variance / count;
        noise += variance / count;
    }
    synchronous /= period;
    noise /= period;
    double signal = 0.0;
    for (double v : fit.signal) {
        signal += v * v;
    }
    signal /= static_cast<double>(fit.signal.size());
    e.signal = signal;
    e.synchronous = synchronous;
    // the mean of `period` squared averages of noise: spread sqrt(2 / period) of it
    e.spread = noise * std::sqrt(2.0 / period);
    return e;
}

// The frame-synchronous figure, or below what noise lets the run resolve
// (">" and the level of twice the estimate's own spread) when nothing
// stands out of the noise.
std::string synchronousText(const Fit& fit, const std::vector<double>& frameStarts, int period) {
    const SyncEstimate e = frameSynchronous(fit, frameStarts, period);
    char text[32];
    if (std::isnan(e.signal)) {
        return "  n/a";
    }
    if (e.synchronous > 2.0 * e.spread) {
        std::snprintf(text, sizeof text, "%5.1f", 10.0 * std::log10(e.signal / e.synchronous));
    } else {
        std::snprintf(text, sizeof text, ">%4.1f", 10.0 * std::log10(e.signal / (2.0 * e.spread)));
    }
    return text;
}

struct JoinErrors {
    double rms = 0;
    double worst = 0;
    double worstZ = 0; // the worst error in claimed standard deviations
};

// --------------------------------------------------------------- a case

// Where the residual's power lies: dB below the signal's whole power in
// each band of frequencies, and at the frame rate's harmonics (BENCH_SPECTRUM).
std::string residualSpectrum(const Fit& fit, double rate, int fps) {
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

JoinFigures measureJoins(const synth::SynthTruth& truth, const JobRun& standard,
                         const JobRun& archival, bool verbose) {
    JoinFigures f;
    const std::vector<FrameBounds>& bounds = archival.bounds;
    const int pairs = static_cast<int>(bounds.size()) - 1;
    for (int k = 0; k < pairs; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const double exact = synth::trimmedJoinExact(truth, k, bounds[i], bounds[i + 1]);
        const ReportedJoin& r = archival.report[i];
        const double error = r.used - exact;
        const double standardError = standard.shownJoins[i + 1] - exact;
        f.archival.rms += error * error;
        f.archival.worst = std::max(f.archival.worst, std::abs(error));
        if (r.precisionRows > 0) {
            f.archival.worstZ = std::max(f.archival.worstZ, std::abs(error) / r.precisionRows);
        }
        f.standard.rms += standardError * standardError;
        f.standard.worst = std::max(f.standard.worst, std::abs(standardError));
        f.fallbacks += r.method.rfind("standard", 0) == 0 ? 1 : 0;
        f.loose += r.method.find("loose") != std::string::npos ? 1 : 0;
        if (verbose) {
            std::printf("  pair %3d: truth %9.3f standard %5d used %9.3f (error %+7.3f, sd "
                        "%.3f, score %.3f) %s\n",
                        k + 1, exact, r.standard, r.used, error, r.precisionRows, r.score,
                        r.method.c_str());
        }
    }
    f.archival.rms = std::sqrt(f.archival.rms / std::max(pairs, 1));
    f.standard.rms = std::sqrt(f.standard.rms / std::max(pairs, 1));
    return f;
}

// The sum of leng.txt's whole rows.
int lengthsSum(const fs::path& lengths) {
    std::ifstream in(lengths);
    int sum = 0;
    for (int v = 0; in >> v;) {
        sum += v;
    }
    return sum;
}

int runCase(const Case& c, bool verbose) {
    const fs::path dir = fs::temp_directory_path() /
                         ("veltrana-archival-" + std::to_string(::getpid()) + "-" + c.name);
    const fs::path scans = dir / "scans";
    const fs::path out = dir / "out";
    const synth::SynthResult rendered = synth::renderSampleScans(c.render, scans);
    if (!rendered.ok()) {
        std::fprintf(stderr, "%s: %s\n", c.name.c_str(), rendered.error.c_str());
        return 1;
    }
    fs::create_directories(out);
    const synth::SynthTruth& truth = rendered.truth;
    const synth::TruthSignal signal = synth::readTruthSignal(scans / "truth.wav");
    const JobRun standard = runJob(c, scans, out, false);
    const JobRun archival = runJob(c, scans, out, true);
    const int lengths = lengthsSum(scans / "leng.txt"); // the archival run's
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (!standard.result.succeeded() || !archival.result.succeeded()) {
        std::fprintf(stderr, "%s: %s%s\n", c.name.c_str(), standard.result.message.c_str(),
                     archival.result.message.c_str());
        return 1;
    }
    const int frames = c.render.frames;
    const std::vector<FrameBounds>& bounds = archival.bounds;
    const JoinFigures joins = measureJoins(truth, standard, archival, verbose);

    // the sounds against the truth, and what repeats with every frame (each
    // frame's stretch from its own first row in the stream)
    const double start = synth::trimmedStartExact(truth, 0, bounds.front());
    std::vector<double> frameStarts;
    for (int k = 0; k < frames; ++k) {
        frameStarts.push_back(
            synth::trimmedStartExact(truth, k, bounds[static_cast<std::size_t>(k)]) - start);
    }
    const int period = truth.layout.scanStep;
    const Fit standardFit = bestFit(standard.sound, signal.samples, start);
    const Fit archivalFit = bestFit(archival.sound, signal.samples, start);
    const std::string standardSync = synchronousText(standardFit, frameStarts, period);
    const std::string archivalSync = synchronousText(archivalFit, frameStarts, period);

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
                archival.sound.size(), lengths + lastRows, 1e3 * load, 1e3 * search,
                search / load, 1e3 * reading);
    if (std::getenv("BENCH_SPECTRUM") != nullptr) {
        const double rate = c.render.fps * truth.layout.framePitch;
        std::printf("  residual below the signal, standard:%s\n",
                    residualSpectrum(standardFit, rate, c.render.fps).c_str());
        std::printf("  residual below the signal, archival:%s\n",
                    residualSpectrum(archivalFit, rate, c.render.fps).c_str());
    }
    std::fflush(stdout);
    return 0;
}

// --------------------------------------------------------------- the cases

synth::SynthOptions render(SoundtrackType film, int frames) {
    synth::SynthOptions o;
    o.film = film;
    o.frames = frames;
    o.fps = 25;
    o.dpi = {1200, 1200};
    o.force = true;
    return o;
}

// What every real scan has: grain and scanner noise, some fall-off and
// weave, frames that do not start on whole rows.
synth::SynthOptions realistic(SoundtrackType film, int frames, synth::SignalKind signal) {
    synth::SynthOptions o = render(film, frames);
    o.signal = signal;
    o.noise = true;
    o.falloffPercent = 20;
    o.weave = 4;
    o.fractionalStarts = true;
    return o;
}

std::vector<Case> cases(int frames) {
    using synth::SignalKind;
    const SoundtrackType VA35 = SoundtrackType::VariableArea35;
    const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
    const SoundtrackType VA16 = SoundtrackType::VariableArea16;
    std::vector<Case> list;
    auto add = [&](std::string name, synth::SynthOptions o, auto... tweaks) {
        Case c{std::move(name), o};
        (tweaks(c), ...);
        list.push_back(c);
    };
    auto colour = [](Case& c) { c.render.color = true; };
    auto down = [](Case& c) { c.render.rotationUp = false; };
    auto luma = [](Case& c) { c.element = ColorElement::Y; };

    // every standard, UP and DOWN, colour and grey, with speech, chirps and tones
    add("va35_speech", realistic(VA35, frames, SignalKind::Speech));
    add("va35_mix_colour_down", realistic(VA35, frames, SignalKind::Mix), colour, down);
    add("vd35_sweep", [&] {
        auto o = realistic(VD35, frames, SignalKind::Sweep);
        o.noise = false; // low-noise variable density
        return o;
    }());
    add("vd35_speech_colour_down", realistic(VD35, frames, SignalKind::Speech), colour, down);
    add("va16_tone", realistic(VA16, frames, SignalKind::Tone));
    add("va16_speech_colour_y", realistic(VA16, frames, SignalKind::Speech), colour, luma);
    add(
        "va16_long_mix_down",
        [&] {
            auto o = realistic(VA16, std::max(4, frames / 4), SignalKind::Mix);
            o.longStrip = true;
            return o;
        }(),
        down);
    add("va35_tone_1800", [&] {
        auto o = realistic(VA35, frames, SignalKind::Tone);
        o.dpi = {1800, 1800};
        return o;
    }());
    add("va35_speech_plain_cut", realistic(VA35, frames, SignalKind::Speech), [](Case& c) {
        c.crossfade = false;
        c.removeDc = false;
    });
    // the renderer's other realism options
    add(
        "va35_silence_bias",
        [&] {
            auto o = realistic(VA35, frames, SignalKind::Mix);
            o.silence = true;
            o.noiseReductionBias = true;
            o.falloffPercent = 40;
            return o;
        }(),
        down);
    add("vd35_silence", [&] {
        auto o = realistic(VD35, frames, SignalKind::Speech);
        o.silence = true;
        o.falloffPercent = 40;
        return o;
    }());
    add(
        "va16_silence_bias",
        [&] {
            auto o = realistic(VA16, frames, SignalKind::Speech);
            o.silence = true;
            o.noiseReductionBias = true;
            return o;
        }(),
        colour);
    // like photographs of prints: strong fall-off, a slant, a silent track, weave
    for (bool inColour : {true, false}) {
        add(
            inColour ? "photo_silent_colour" : "photo_silent_y",
            [&] {
                auto o = realistic(VA35, frames, SignalKind::Silent);
                o.falloffPercent = 45;
                o.perspectiveRows = 3;
                o.weave = 11;
                o.color = true;
                return o;
            }(),
            [&](Case& c) { c.element = inColour ? ColorElement::R : ColorElement::Y; });
    }
    add("photo_speech_colour", [&] {
        auto o = realistic(VA35, frames, SignalKind::Speech);
        o.falloffPercent = 30;
        o.perspectiveRows = 2;
        o.weave = 11;
        o.color = true;
        return o;
    }());
    // a longer run: what comes back with every frame
    add("va35_speech_96", [&] {
        auto o = realistic(VA35, std::max(frames, 96), SignalKind::Speech);
        o.falloffPercent = 5;
        o.weave = 0;
        return o;
    }());
    // the same without grain and scanner noise, which leave the
    // frame-synchronous part below what an average of 96 frames resolves
    add("va35_speech_96_clean", [&] {
        auto o = realistic(VA35, std::max(frames, 96), SignalKind::Speech);
        o.falloffPercent = 5;
        o.weave = 0;
        o.noise = false;
        return o;
    }());
    add("vd35_speech_96_clean", [&] {
        auto o = realistic(VD35, std::max(frames, 96), SignalKind::Speech);
        o.falloffPercent = 5;
        o.weave = 0;
        o.noise = false;
        return o;
    }());
    return list;
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
    for (const Case& c : cases(frames)) {
        if (filter.empty() || c.name.find(filter) != std::string::npos) {
            status |= runCase(c, std::getenv("BENCH_VERBOSE") != nullptr);
        }
    }
    return status;
}
