#include "synth/measure.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

namespace veltrana::synth {

namespace {

namespace fs = std::filesystem;

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
    std::vector<double> joins;
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

// joins.csv as the job writes it (file names without commas, as rendered).
std::vector<ReportedJoin> readJoinReport(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = csvFields(line);
    const auto column = [&](const char* name) {
        const auto at = std::find(header.begin(), header.end(), name);
        return static_cast<std::size_t>(at - header.begin());
    };
    std::vector<ReportedJoin> joins;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = csvFields(line);
        if (f.size() != header.size()) {
            continue;
        }
        ReportedJoin j;
        j.frame = std::stoi(f[column("frame")]);
        j.standard = std::stoi(f[column("standard_join")]);
        j.score = std::stod(f[column("score")]);
        j.method = f[column("method")];
        j.used = std::stod(f[column("join_used")]);
        const std::string& precision = f[column("precision_rows")];
        j.precision = precision.empty() ? -1.0 : std::stod(precision);
        joins.push_back(j);
    }
    return joins;
}

int lengthsSum(const fs::path& lengths) {
    std::ifstream in(lengths);
    int sum = 0;
    for (int v = 0; in >> v;) {
        sum += v;
    }
    return sum;
}

// fitToTruth at one lag, over every `stride`-th sample.
SoundFit fitAt(std::span<const float> recovered, std::span<const float> signal, double start,
               double lag, int stride = 1) {
    SoundFit fit;
    fit.lag = lag;
    const int n = static_cast<int>(recovered.size());
    fit.from = n / 20;
    const int to = n - n / 20;
    std::vector<double> x, y;
    for (int i = fit.from; i < to; i += stride) {
        x.push_back(recovered[static_cast<std::size_t>(i)]);
        y.push_back(truthAt(signal, start + lag + i));
    }
    const double count = static_cast<double>(x.size());
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= std::max(count, 1.0);
    my /= std::max(count, 1.0);
    double sxy = 0, syy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        syy += (y[i] - my) * (y[i] - my);
    }
    const double gain = syy > 0 ? sxy / syy : 0.0;
    double signalPower = 0, errorPower = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        fit.signal.push_back(gain * (y[i] - my));
        fit.residual.push_back(x[i] - mx - fit.signal.back());
        signalPower += fit.signal.back() * fit.signal.back();
        errorPower += fit.residual.back() * fit.residual.back();
    }
    fit.db = 10.0 * std::log10(std::max(signalPower, 1e-300) / std::max(errorPower, 1e-300));
    return fit;
}

// What every real scan has: grain and scanner noise, some fall-off and
// weave, frames that do not start on whole rows.
SynthOptions realistic(SoundtrackType film, int frames, SignalKind signal) {
    SynthOptions o;
    o.film = film;
    o.frames = frames;
    o.fps = 25;
    o.dpi = {1200, 1200};
    o.force = true;
    o.signal = signal;
    o.noise = true;
    o.falloffPercent = 20;
    o.weave = 4;
    o.fractionalStarts = true;
    return o;
}

using Kind = MeasuredRender::Kind;

// Scans of every standard, UP and DOWN, colour and grey.
void addScans(std::vector<MeasuredRender>& list, int frames) {
    const auto add = [&](const char* name, SynthOptions o, bool colour, bool up) {
        o.color = colour;
        o.rotationUp = up;
        list.push_back({name, o, Kind::Scan});
    };
    const SoundtrackType va35 = SoundtrackType::VariableArea35;
    const SoundtrackType vd35 = SoundtrackType::VariableDensity35;
    const SoundtrackType va16 = SoundtrackType::VariableArea16;
    add("va35_speech", realistic(va35, frames, SignalKind::Speech), false, true);
    add("va35_mix_colour_down", realistic(va35, frames, SignalKind::Mix), true, false);
    SynthOptions quiet = realistic(vd35, frames, SignalKind::Sweep);
    quiet.noise = false; // low-noise variable density
    add("vd35_sweep_clean", quiet, false, true);
    add("vd35_speech_colour_down", realistic(vd35, frames, SignalKind::Speech), true, false);
    add("va16_tone", realistic(va16, frames, SignalKind::Tone), false, true);
    add("va16_speech_colour_y", realistic(va16, frames, SignalKind::Speech), true, true);
    list.back().element = ColorElement::Y;
    SynthOptions fine = realistic(va35, frames, SignalKind::Tone);
    fine.dpi = {1800, 1800};
    add("va35_tone_1800", fine, false, true);
    add("va35_speech_plain_cut", realistic(va35, frames, SignalKind::Speech), false, true);
    list.back().crossfade = false;
    list.back().removeDc = false;
    SynthOptions bias = realistic(va35, frames, SignalKind::Mix);
    bias.silence = true;
    bias.noiseReductionBias = true;
    bias.falloffPercent = 40;
    add("va35_silence_bias_down", bias, false, false);
    SynthOptions silence = realistic(vd35, frames, SignalKind::Speech);
    silence.silence = true;
    silence.falloffPercent = 40;
    add("vd35_silence", silence, false, true);
    bias.film = va16;
    bias.falloffPercent = 20;
    add("va16_silence_bias_colour", bias, true, true);
    SynthOptions strip = realistic(va16, std::max(4, frames / 4), SignalKind::Mix);
    strip.longStrip = true;
    strip.rotationUp = false;
    list.push_back({"va16_long_strip_down", strip, Kind::LongStrip});
}

// Like photographs of prints: strong fall-off, a slant, weave; a silent
// track read in red and as luminance, and one that sounds.
void addPhotos(std::vector<MeasuredRender>& list, int frames) {
    SynthOptions silent = realistic(SoundtrackType::VariableArea35, frames, SignalKind::Silent);
    silent.color = true;
    silent.falloffPercent = 45;
    silent.perspectiveRows = 3;
    silent.weave = 11;
    list.push_back({"photo_silent_colour", silent, Kind::Photo});
    list.push_back({"photo_silent_y", silent, Kind::Photo, ColorElement::Y});
    SynthOptions speech = silent;
    speech.signal = SignalKind::Speech;
    speech.falloffPercent = 30;
    speech.perspectiveRows = 2;
    list.push_back({"photo_speech_colour", speech, Kind::Photo});
}

// 96 frames of speech with 5 % fall-off, and the same without noise.
void addLongRuns(std::vector<MeasuredRender>& list, int frames) {
    SynthOptions run =
        realistic(SoundtrackType::VariableArea35, std::max(frames, 96), SignalKind::Speech);
    run.falloffPercent = 5;
    run.weave = 0;
    list.push_back({"va35_speech_96", run, Kind::LongRun});
    run.noise = false;
    list.push_back({"va35_speech_96_clean", run, Kind::Diagnostic});
    run.film = SoundtrackType::VariableDensity35;
    list.push_back({"vd35_speech_96_clean", run, Kind::Diagnostic});
}

} // namespace

std::vector<MeasuredRender> archivalRenders(int frames) {
    std::vector<MeasuredRender> list;
    addScans(list, frames);
    addPhotos(list, frames);
    addLongRuns(list, frames);
    return list;
}

JobOnRender runJobOnRender(const SynthTruth& truth, const fs::path& scans, const fs::path& wav,
                           SoundtrackJob& job) {
    JobOnRender run;
    FrameRecorder recorder;
    job.inputPath = scans;
    job.outputPath = wav;
    job.startFrame = 1;
    job.stopFrame = truth.options.frames;
    job.manualResolution = true;
    job.resolutionX = truth.options.dpi.dpiX;
    job.resolutionY = truth.options.dpi.dpiY;
    job.observer = &recorder;
    job.timings = &run.timings;
    run.result = runSoundtrackJob(job);
    job.observer = nullptr;
    job.timings = nullptr;
    run.bounds = std::move(recorder.bounds);
    run.shownJoins = std::move(recorder.joins);
    if (!run.result.succeeded()) {
        return run;
    }
    if (!run.result.joinsPath.empty()) {
        run.report = readJoinReport(run.result.joinsPath);
    }
    run.sound = readTruthSignal(run.result.wavPath).samples;
    run.lengthsSum = lengthsSum(run.result.lengthsPath);
    return run;
}

double truthAt(std::span<const float> signal, double position) {
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
        const double w = (t == 0.0 ? 1.0 : std::sin(a) / a) * window;
        const bool inside = j >= 0 && j < static_cast<long long>(signal.size());
        value += w * (inside ? signal[static_cast<std::size_t>(j)] : 0.0f);
        weights += w;
    }
    return value / weights;
}

SoundFit fitToTruth(std::span<const float> recovered, std::span<const float> signal, double start) {
    // the lag in three steps: a quarter of a row on every fourth sample, a
    // twentieth on every second, then the vertex of the parabola through the
    // residual's power a twentieth either side, on every sample
    const auto bestOf = [&](double from, double to, double step, int stride) {
        double best = from;
        double bestDb = -1e300;
        for (double lag = from; lag <= to + 1e-9; lag += step) {
            const double db = fitAt(recovered, signal, start, lag, stride).db;
            if (db > bestDb) {
                bestDb = db;
                best = lag;
            }
        }
        return best;
    };
    const double coarse = bestOf(-2.0, 2.0, 0.25, 4);
    const double middle = bestOf(coarse - 0.25, coarse + 0.25, 0.05, 2);
    constexpr double kStep = 0.05;
    const auto residualPower = [&](double lag) {
        return std::pow(10.0, -fitAt(recovered, signal, start, lag).db / 10.0);
    };
    const double below = residualPower(middle - kStep);
    const double at = residualPower(middle);
    const double above = residualPower(middle + kStep);
    const double curvature = below - 2.0 * at + above;
    const double vertex = curvature > 0.0 ? 0.5 * (below - above) / curvature * kStep : 0.0;
    return fitAt(recovered, signal, start, middle + std::clamp(vertex, -kStep, kStep));
}

double FrameSynchronous::db() const {
    const double part = resolved() ? synchronous : 2.0 * spread;
    return 10.0 * std::log10(signal / std::max(part, 1e-300));
}

FrameSynchronous frameSynchronousError(const SoundFit& fit, std::span<const double> frameStarts,
                                       int period) {
    FrameSynchronous e;
    std::vector<const double*> stretches;
    for (double s : frameStarts) {
        const long long first = std::llround(s) - fit.from;
        if (first >= 0 && first + period <= static_cast<long long>(fit.residual.size())) {
            stretches.push_back(fit.residual.data() + first);
        }
    }
    e.frames = static_cast<int>(stretches.size());
    if (e.frames < 3 || period <= 0) {
        return e;
    }
    double noise = 0.0;
    for (int j = 0; j < period; ++j) {
        double sum = 0.0, squares = 0.0;
        for (const double* r : stretches) {
            sum += r[j];
            squares += r[j] * r[j];
        }
        const double mean = sum / e.frames;
        const double variance = (squares - sum * mean) / (e.frames - 1);
        e.synchronous += mean * mean - variance / e.frames;
        noise += variance / e.frames;
    }
    e.synchronous /= period;
    noise /= period;
    // the mean of `period` squared averages of noise spreads by sqrt(2 / period) of it
    e.spread = noise * std::sqrt(2.0 / period);
    for (double v : fit.signal) {
        e.signal += v * v;
    }
    e.signal /= static_cast<double>(std::max<std::size_t>(fit.signal.size(), 1));
    return e;
}

std::vector<double> frameStarts(const SynthTruth& truth, std::span<const FrameBounds> bounds) {
    std::vector<double> starts;
    if (bounds.empty()) {
        return starts;
    }
    const double first = trimmedStartExact(truth, 0, bounds.front());
    for (std::size_t k = 0; k < bounds.size(); ++k) {
        starts.push_back(trimmedStartExact(truth, static_cast<int>(k), bounds[k]) - first);
    }
    return starts;
}

std::vector<double> joinErrors(const SynthTruth& truth, std::span<const FrameBounds> bounds,
                               std::span<const ReportedJoin> report) {
    std::vector<double> errors;
    for (std::size_t k = 0; k + 1 < bounds.size() && k < report.size(); ++k) {
        errors.push_back(report[k].used -
                         trimmedJoinExact(truth, static_cast<int>(k), bounds[k], bounds[k + 1]));
    }
    return errors;
}

} // namespace veltrana::synth
