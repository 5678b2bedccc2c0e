// Archival sound against the standard path, measured on rendered scans with
// known truth: join errors in rows, the recovered sound's SNR in dB, and the
// time the archival reading and the precise join search add per frame.
//
//   bench_archival [frames] [dpi] [case-name-filter]
//
// Each case renders its scans into a temporary folder, then reads them frame
// by frame as the soundtrack job does (load, trim and turn, resolution from
// the first frame, the strip cut by profile, samples, frame profile, the
// standard join search, the joining with crossfade, the 8-bit bytes), and
// feeds the same scans to the archival path (archivalFrameOfScan on the
// trimmed scan as it lies and the cut range, ArchivalStream with the
// standard joins as fallback). Times are single-threaded, the best of a few
// runs each.
//
// Join errors are against the true fractional joins of the trimmed scans.
// SNR compares each recovered sound with truth.wav read at the stream's true
// strip positions (a long windowed sinc of its own, not the code's), at the
// best gain and at the best alignment within +-2 rows, over the middle 90 %.
// Build in Release for figures worth quoting.

#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "reading/scan_reader.h"
#include "soundtrack/archival_stream.h"
#include "soundtrack/frame_joining.h"
#include "soundtrack/join_search.h"
#include "soundtrack/soundtrack_job.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"
#include "synth/synth.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace veltrana;
using Clock = std::chrono::steady_clock;

// Times are the best of this many runs of the same work (BENCH_REPEATS sets
// another count: many, to profile the archival work alone).
int timingRepeats() {
    const char* repeats = std::getenv("BENCH_REPEATS");
    return repeats != nullptr ? std::max(1, std::atoi(repeats)) : 5;
}

struct Case {
    std::string name;
    SoundtrackType film = SoundtrackType::VariableArea35;
    bool up = true;
    bool color = false;
    bool longStrip = false;
    bool noise = false;
    double falloff = 0;
    int weave = 0;
    bool fractional = false;
    bool silence = false;
    bool nrBias = false;
    bool noiseSignal = false; // broadband noise instead of the tones and sweep
};

// Three seconds of noise low-passed at about 2 kHz (two one-pole passes), as
// a 16-bit WAV at 22050 Hz written by hand: a sound that never repeats, with
// a spectrum that falls like speech and music do.
void writeNoiseWav(const fs::path& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return;
    }
    const std::uint32_t rate = 22050;
    const std::uint32_t count = 3 * rate;
    auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, out); };
    auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, out); };
    std::fwrite("RIFF", 1, 4, out);
    u32(36 + 2 * count);
    std::fwrite("WAVEfmt ", 1, 8, out);
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(2 * rate);
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, out);
    u32(2 * count);
    std::mt19937 random(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    const double keep = std::exp(-2.0 * std::numbers::pi * 2000.0 / rate);
    double first = 0.0;
    double second = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        first = keep * first + (1.0 - keep) * normal(random);
        second = keep * second + (1.0 - keep) * first;
        const double v = std::clamp(1.2 * second, -0.9, 0.9);
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0))));
    }
    std::fclose(out);
}

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

// SNR (dB) of `recovered` against the truth read at start + i (+ lag), best
// gain, mean removed, over the middle 90 %.
double snrAt(const std::vector<double>& recovered, const std::vector<float>& signal, double start,
             double lag) {
    const int n = static_cast<int>(recovered.size());
    const int from = n / 20;
    const int to = n - n / 20;
    std::vector<double> y;
    std::vector<double> x;
    for (int i = from; i < to; i += 1) {
        x.push_back(recovered[static_cast<std::size_t>(i)]);
        y.push_back(truthAt(signal, start + lag + i));
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
    const double gain = sxy / syy;
    double signalPower = 0, errorPower = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double s = gain * (y[i] - my);
        const double e = (x[i] - mx) - s;
        signalPower += s * s;
        errorPower += e * e;
    }
    return 10.0 * std::log10(signalPower / std::max(errorPower, 1e-30));
}

struct Snr {
    double db = 0;
    double lag = 0;
};

Snr bestSnr(const std::vector<double>& recovered, const std::vector<float>& signal, double start) {
    Snr best{-1e9, 0};
    for (double lag = -2.0; lag <= 2.0001; lag += 0.25) {
        const double db = snrAt(recovered, signal, start, lag);
        if (db > best.db) {
            best = {db, lag};
        }
    }
    const double centre = best.lag;
    for (double lag = centre - 0.24; lag <= centre + 0.2401; lag += 0.02) {
        const double db = snrAt(recovered, signal, start, lag);
        if (db > best.db) {
            best = {db, lag};
        }
    }
    return best;
}

struct JoinErrors {
    double rms = 0;
    double worst = 0;
};

JoinErrors errorsOf(const std::vector<double>& errors) {
    JoinErrors e;
    for (double v : errors) {
        e.rms += v * v;
        e.worst = std::max(e.worst, std::abs(v));
    }
    e.rms = errors.empty() ? 0.0 : std::sqrt(e.rms / static_cast<double>(errors.size()));
    return e;
}

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

int runCase(const Case& c, int frames, int dpi, bool verbose) {
    synth::SynthOptions options;
    options.film = c.film;
    options.dpi = {dpi, dpi};
    options.frames = frames;
    options.fps = 25;
    options.color = c.color;
    options.rotationUp = c.up;
    options.longStrip = c.longStrip;
    options.noise = c.noise;
    options.falloffPercent = c.falloff;
    options.weave = c.weave;
    options.fractionalStarts = c.fractional;
    options.silence = c.silence;
    options.noiseReductionBias = c.nrBias;
    const fs::path dir = fs::temp_directory_path() /
                         ("veltrana-archival-" + std::to_string(::getpid()) + "-" + c.name);
    const fs::path noiseFile = fs::temp_directory_path() /
                               ("veltrana-archival-noise-" + std::to_string(::getpid()) + ".wav");
    if (c.noiseSignal) {
        writeNoiseWav(noiseFile);
        options.signal = synth::SignalKind::File;
        options.signalFile = noiseFile;
    }
    const synth::SynthResult rendered = synth::renderSampleScans(options, dir);
    if (!rendered.ok()) {
        std::fprintf(stderr, "%s: %s\n", c.name.c_str(), rendered.error.c_str());
        return 1;
    }
    const synth::SynthTruth& truth = rendered.truth;
    if (verbose) {
        for (const std::string& warning : truth.warnings) {
            std::printf("  render warning: %s\n", warning.c_str());
        }
    }
    const synth::TruthSignal signal = synth::readTruthSignal(dir / "truth.wav");
    const ColorElement element = ColorElement::R;
    const SoundtrackType type = c.film;

    // the standard path, in the soundtrack job's order
    FrameRangeProgress progress;
    progress.startFrame = 1;
    progress.stopFrame = frames;
    FrameJoinState state;
    state.crossfade = 1;
    SoundtrackGeometry geometry;
    std::vector<float> samples, previousSamples, profile, previousProfile, stream;
    std::vector<int> standardJoins;
    std::vector<FrameBounds> bounds;
    std::vector<ArchivalFrame> frameStore; // only to reuse for the no-overlap scores
    ArchivalSettings settings;
    settings.type = type;
    settings.longStrip = c.longStrip;
    settings.crossfade = true;
    // parts of the level chain can be left out to see what each is worth
    settings.flattenIllumination = std::getenv("BENCH_NO_FLATTEN") == nullptr;
    settings.scaleByWidth = std::getenv("BENCH_NO_WIDTH") == nullptr;
    settings.matchOffsets = std::getenv("BENCH_NO_OFFSETS") == nullptr;
    ArchivalStream archival(settings);
    double loadTime = 0, readTime = 0, searchTime = 0;
    const int kTimingRepeats = timingRepeats();
    std::vector<double> noOverlapScores;
    ArchivalFrame twoBack, oneBack;

    for (int n = 1; n <= frames; ++n) {
        const fs::path file = dir / truth.scans[static_cast<std::size_t>(n - 1)].file;
        const auto t0 = Clock::now();
        LoadedScan scan = loadScan(file);
        const auto t1 = Clock::now();
        loadTime += seconds(t0, t1);
        if (!scan.ok()) {
            std::fprintf(stderr, "%s\n", scan.message().c_str());
            return 1;
        }
        bounds.push_back(findFrameBounds(scan.value(), type, c.longStrip));
        cv::Mat working = workingImageFromFrame(frameCorrection(scan.value(), type, c.longStrip));
        if (n == 1) {
            // as the job detects it; where the log would say detection failed,
            // as the user would then enter it by hand
            ScanResolution resolution = estimateResolution(working, type).snapped;
            if (resolution != truth.expected) {
                resolution = options.dpi;
            }
            geometry = computeSoundtrackGeometry(type, resolution).value_or(geometry);
            settings.sampleRate = 25.0 * geometry.framePitch;
            archival = ArchivalStream(settings);
        }
        const StripRange range = stripRangeByProfile(working, type, geometry, c.up);
        // the trimmed scan as it lies, as the job reads it; the best of a few
        // runs, since other work on the machine only ever adds time
        const FrameBounds& trim = bounds.back();
        const cv::Mat trimmed = scan.value().colRange(trim.left, trim.right + 1);
        ArchivalFrame frame;
        double fastest = 1e9;
        for (int repeat = 0; repeat < kTimingRepeats; ++repeat) {
            const auto t2 = Clock::now();
            frame = archivalFrameOfScan(trimmed, range, element, type, c.up, c.longStrip);
            const auto t3 = Clock::now();
            fastest = std::min(fastest, seconds(t2, t3));
        }
        readTime += fastest;
        if (verbose) {
            const auto [low, high] =
                std::minmax_element(frame.illumination.begin(), frame.illumination.end());
            std::printf("  frame %2d: band width %d, light %d, fitted from %.4f to %.4f\n", n,
                        frame.bandWidth, static_cast<int>(frame.light), *low, *high);
        }

        const cv::Mat strip = cutStripByProfile(working, type, geometry, element, c.up);
        if (n > 1) {
            previousSamples = std::move(samples);
        }
        samples = stripToSamples(strip, true);
        if (n > 1) {
            previousProfile = std::move(profile);
            state.previousLength = state.currentLength;
        }
        state.currentLength = working.rows;
        profile = rowProfile(working, 0, working.rows);
        int join = 0;
        if (n > 1) {
            const FrameLengths lengths{.currentLength = state.currentLength,
                                       .previousLength = state.previousLength};
            join = findJoinPosition(lengths, samples, previousSamples, profile, previousProfile,
                                    type, c.longStrip, {})
                       .position;
            state.joinPosition = join;
            progress.frameNumber = n;
            joinFrameSamples(stream, samples, previousSamples, progress, state);
            standardJoins.push_back(join);
        }

        // frames two apart share no film: what the search scores then
        if (n > 2) {
            const PreciseJoin unrelated = findPreciseJoin(twoBack, frame, type, c.longStrip);
            noOverlapScores.push_back(unrelated.score);
            if (verbose) {
                const auto& b = unrelated.bandScores;
                std::printf("  frames %d, %d: score %.3f, found %d, bands %.2f %.2f %.2f %.2f "
                            "%.2f\n",
                            n - 2, n, unrelated.score, unrelated.found ? 1 : 0, b[0], b[1], b[2],
                            b[3], b[4]);
            }
        }
        twoBack = std::move(oneBack);
        oneBack = frame;

        if (n > 1) {
            double fastestSearch = 1e9;
            for (int repeat = 0; repeat < kTimingRepeats; ++repeat) {
                const auto t4 = Clock::now();
                const PreciseJoin timed = findPreciseJoin(twoBack, frame, type, c.longStrip);
                const auto t5 = Clock::now();
                (void)timed;
                fastestSearch = std::min(fastestSearch, seconds(t4, t5));
            }
            searchTime += fastestSearch;
        }
        archival.addFrame(std::move(frame), n, join);
    }
    const ArchivalOutput out = archival.finish();
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::remove(noiseFile, ec);

    // joins against the truth
    std::vector<double> standardErrors, archivalErrors;
    double lowestScore = 1.0;
    int fallbacks = 0;
    int nearest = 0;
    for (int k = 0; k + 1 < frames; ++k) {
        const double exact = synth::trimmedJoinExact(truth, k, bounds[static_cast<std::size_t>(k)],
                                                     bounds[static_cast<std::size_t>(k + 1)]);
        standardErrors.push_back(standardJoins[static_cast<std::size_t>(k)] - exact);
        const JoinRecord& record = out.joins[static_cast<std::size_t>(k)];
        archivalErrors.push_back(record.position - exact);
        lowestScore = std::min(lowestScore, record.precise.score);
        if (verbose) {
            const auto& b = record.precise.bandScores;
            std::printf("  pair %2d: truth %9.3f standard %5d precise %9.3f (%s, whole %d, "
                        "runner-up %d at %.2f, score %.3f, others %.3f, spread %.3f, bands %.2f "
                        "%.2f %.2f %.2f %.2f) -> %s\n",
                        k + 1, exact, standardJoins[static_cast<std::size_t>(k)],
                        record.precise.position, searchBandName(record.precise.band),
                        record.precise.wholeShift, record.precise.runnerUpShift,
                        record.precise.runnerUpShare, record.precise.score,
                        record.precise.otherBandsScore, record.precise.spread, b[0], b[1], b[2],
                        b[3], b[4], joinMethodName(record.method));
        }
        if (isFallback(record.method)) {
            ++fallbacks;
        } else if (record.method == JoinMethod::NearestBand) {
            ++nearest;
        }
    }
    const JoinErrors se = errorsOf(standardErrors);
    const JoinErrors ae = errorsOf(archivalErrors);
    double highestNoOverlap = -1.0;
    for (double s : noOverlapScores) {
        highestNoOverlap = std::max(highestNoOverlap, s);
    }

    // the sounds against the truth
    const double start = synth::trimmedStartExact(truth, 0, bounds.front());
    const std::vector<std::uint8_t> bytes = soundtrackBytes(stream, true);
    std::vector<double> standard(bytes.begin(), bytes.end());
    for (double& v : standard) {
        v -= 128.0;
    }
    const std::vector<double> archivalSound(out.stream.begin(), out.stream.end());
    const Snr ss = bestSnr(standard, signal.samples, start);
    const Snr as = bestSnr(archivalSound, signal.samples, start);

    std::printf("%-26s joins standard rms %6.3f worst %6.3f | archival rms %6.3f worst %6.3f "
                "(%d fallback, %d nearest band, lowest score %.3f, no-overlap score <= %.3f) | "
                "SNR standard "
                "%5.1f dB, archival %5.1f dB (%+5.1f) | per frame: load %.2f ms, archival read "
                "%.2f ms, precise search %.2f ms\n",
                c.name.c_str(), se.rms, se.worst, ae.rms, ae.worst, fallbacks, nearest, lowestScore,
                highestNoOverlap, ss.db, as.db, as.db - ss.db, 1e3 * loadTime / frames,
                1e3 * readTime / frames, 1e3 * searchTime / (frames - 1));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 24;
    const int dpi = argc > 2 ? std::atoi(argv[2]) : 1200;
    const std::string filter = argc > 3 ? argv[3] : "";
    if (frames < 3 || dpi <= 0) {
        std::fprintf(stderr, "usage: bench_archival [frames >= 3] [dpi] [case filter]\n");
        return 2;
    }
    reuseLargeImageBuffers();
    const SoundtrackType VA35 = SoundtrackType::VariableArea35;
    const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
    const SoundtrackType VA16 = SoundtrackType::VariableArea16;
    // name, film, up, colour, long strip, noise, fall-off %, weave, fractional, silence, bias,
    // noise signal
    const std::vector<Case> cases = {
        {"va35_plain", VA35, true, false, false, false, 0, 0, false, false, false},
        {"va35_fractional", VA35, true, false, false, false, 0, 0, true, false, false},
        {"va35_real", VA35, true, true, false, true, 40, 4, true, false, false},
        {"va35_real_silence_bias", VA35, false, false, false, true, 60, 4, true, true, true},
        {"vd35_plain", VD35, true, false, false, false, 0, 0, false, false, false},
        {"vd35_fractional", VD35, true, false, false, false, 0, 0, true, false, false},
        {"vd35_real", VD35, false, true, false, true, 40, 4, true, false, false},
        {"vd35_real_silence", VD35, true, false, false, true, 60, 4, true, true, false},
        {"va16_plain", VA16, true, false, false, false, 0, 0, false, false, false},
        {"va16_fractional", VA16, true, false, false, false, 0, 0, true, false, false},
        {"va16_real", VA16, true, true, false, true, 40, 3, true, false, false},
        {"va16_real_silence_bias", VA16, false, false, false, true, 60, 3, true, true, true},
        {"va16_long_plain", VA16, true, false, true, false, 0, 0, false, false, false},
        {"va16_long_real", VA16, true, false, true, true, 40, 3, true, false, false},
        {"va16_long_real_silence", VA16, false, false, true, true, 40, 3, true, true, true},
        // a sound that never repeats: frames two apart share nothing that matches
        {"va35_noise_real", VA35, true, false, false, true, 40, 4, true, false, false, true},
        {"vd35_noise_real", VD35, true, false, false, true, 40, 4, true, false, false, true},
        {"va16_noise_real", VA16, true, false, false, true, 40, 3, true, false, false, true},
    };
    int status = 0;
    for (const Case& c : cases) {
        if (filter.empty() || c.name.find(filter) != std::string::npos) {
            status |= runCase(c, frames, dpi, std::getenv("BENCH_VERBOSE") != nullptr);
        }
    }
    return status;
}
