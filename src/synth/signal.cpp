// The sound that goes onto the strip: built-in test signals, sound files
// resampled to the film's rate, and the truth WAV written and read back.

#include "synth/internal.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <numbers>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrana::synth {

namespace detail {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// An open file descriptor, closed with the object.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};
constexpr double kPeak = 0.9;

// A sinusoid of steady amplitude whose frequency follows `frequencyAt`
// (phase carried over, so changes of frequency make no jumps). Its amplitude
// is the peak, or less where the step from one row to the next would exceed
// maxStep at the given top frequency.
template <typename FrequencyAt, typename AmplitudeAt>
std::vector<float> sinusoid(int samples, int sampleRate, FrequencyAt frequencyAt,
                            AmplitudeAt amplitudeAt) {
    std::vector<float> out(static_cast<std::size_t>(samples), 0.0f);
    double phase = 0.0;
    for (int n = 0; n < samples; ++n) {
        const double t = static_cast<double>(n) / sampleRate;
        const double frequency = frequencyAt(t);
        out[static_cast<std::size_t>(n)] =
            static_cast<float>(amplitudeAt(frequency) * std::sin(phase));
        phase = std::fmod(phase + kTwoPi * frequency / sampleRate, kTwoPi);
    }
    return out;
}

// A value of about normal spread (mean 0, deviation 1) for index n: the
// same everywhere, unlike the standard library's distributions.
double normalAt(std::uint64_t key, std::uint64_t n) {
    const std::uint64_t bits = mix64(key + n);
    const std::uint64_t sum =
        (bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) + ((bits >> 32) & 0xFFFF) + (bits >> 48);
    return (static_cast<double>(sum) - 131070.0) / 37837.0;
}

// The share of a one-pole filter's output kept from one sample to the next
// for a corner at `hz`.
double onePoleKeep(double hz, int sampleRate) {
    return std::exp(-kTwoPi * hz / sampleRate);
}

// Noise shaped like speech: high-passed at 100 Hz, low-passed twice at 1 kHz
// (its spectrum falls by 12 dB an octave above, as speech does), in
// syllables of 0.1 to 0.3 s at levels from -14 dB to full, a pause now and
// then. Scaled to the peak, or less where a step from one row to the next
// would exceed maxStep. It never repeats, so frames that share no film
// match nowhere.
std::vector<float> speechLike(int samples, int sampleRate, double maxStep) {
    constexpr std::uint64_t kKey = 0x5BEEC4ull;
    const double highKeep = onePoleKeep(100.0, sampleRate);
    const double lowKeep = onePoleKeep(1000.0, sampleRate);
    std::vector<double> out(static_cast<std::size_t>(samples), 0.0);
    double high = 0.0, low1 = 0.0, low2 = 0.0, previousIn = 0.0;
    int syllable = 0;
    int syllableStart = 0;
    int syllableLength = 0;
    double syllableLevel = 0.0;
    for (int n = 0; n < samples; ++n) {
        if (n >= syllableStart + syllableLength) {
            const std::uint64_t draw =
                mix64(kKey ^ (0xABCDull + static_cast<std::uint64_t>(syllable)));
            ++syllable;
            syllableStart = n;
            syllableLength = std::max(
                1, static_cast<int>((0.1 + 0.2 * static_cast<double>(draw & 0xFFFF) / 65535.0) *
                                    sampleRate));
            const bool pause = ((draw >> 16) & 0xFF) < 40;
            syllableLevel =
                pause ? 0.02 : 0.2 + 0.8 * static_cast<double>((draw >> 24) & 0xFFFF) / 65535.0;
        }
        const double in = normalAt(kKey, static_cast<std::uint64_t>(n));
        high = highKeep * (high + in - previousIn);
        previousIn = in;
        low1 = lowKeep * low1 + (1.0 - lowKeep) * high;
        low2 = lowKeep * low2 + (1.0 - lowKeep) * low1;
        const double phase = static_cast<double>(n - syllableStart) / syllableLength;
        const double envelope = 0.5 - 0.5 * std::cos(kTwoPi * phase);
        out[static_cast<std::size_t>(n)] = low2 * syllableLevel * envelope;
    }
    double peak = 0.0;
    double step = 0.0;
    for (std::size_t n = 0; n < out.size(); ++n) {
        peak = std::max(peak, std::abs(out[n]));
        if (n > 0) {
            step = std::max(step, std::abs(out[n] - out[n - 1]));
        }
    }
    const double scale =
        peak > 0.0 ? std::min(kPeak / peak, step > 0.0 ? maxStep / step : kPeak / peak) : 0.0;
    std::vector<float> result(out.size());
    for (std::size_t n = 0; n < out.size(); ++n) {
        result[n] = static_cast<float>(out[n] * scale);
    }
    return result;
}

} // namespace

std::vector<float> builtInSignal(SignalKind kind, int samples, int sampleRate, double maxStep) {
    samples = std::max(samples, 0);
    // the loudest a sinusoid of frequency f may be: a step of a x 2 pi f / rate at most
    auto limited = [&](double frequency) {
        return std::min(kPeak, maxStep * sampleRate / (kTwoPi * frequency));
    };
    switch (kind) {
    case SignalKind::Tone:
        return sinusoid(
            samples, sampleRate, [](double) { return 440.0; },
            [&](double) { return limited(440.0); });
    case SignalKind::Sweep: {
        // logarithmic, 50 Hz to the top of the band, over the whole strip
        const double top = std::min(10000.0, 0.45 * sampleRate);
        const double seconds = std::max(1.0, static_cast<double>(samples)) / sampleRate;
        return sinusoid(
            samples, sampleRate, [&](double t) { return 50.0 * std::pow(top / 50.0, t / seconds); },
            limited);
    }
    case SignalKind::Speech:
        return speechLike(samples, sampleRate, maxStep);
    case SignalKind::Silent:
        return std::vector<float>(static_cast<std::size_t>(samples), 0.0f);
    case SignalKind::Mix:
    case SignalKind::File:
        break;
    }
    // tones and a sweep in turn, each second: 220 Hz, 440 Hz, then 110 Hz
    // rising to 880 Hz, all at one amplitude
    const double amplitude = limited(880.0);
    return sinusoid(
        samples, sampleRate,
        [](double t) {
            const double within = t - std::floor(t);
            if (within < 0.25) {
                return 220.0;
            }
            if (within < 0.5) {
                return 440.0;
            }
            return 110.0 * std::pow(8.0, (within - 0.5) / 0.5);
        },
        [&](double) { return amplitude; });
}

SoundRead readSoundAtRate(const std::filesystem::path& path, int sampleRate, int samples) {
    SoundRead result;
    // opened without waiting: a FIFO would block the open until a writer came;
    // closed when the function returns, after the sound file
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string why = fd.get() < 0 ? std::strerror(errno) : "it is not a regular file";
        result.error = "cannot read the sound file " + path.string() + ": " + why;
        return result;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd.get(), SFM_READ, &info, SF_FALSE);
    if (file == nullptr) {
        result.error = "cannot read the sound file " + path.string() + ": " + sf_strerror(nullptr);
        return result;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        result.error = "the sound file " + path.string() + " has no usable sound";
        return result;
    }
    result.sourceRate = info.samplerate;
    result.sourceSeconds = static_cast<double>(info.frames) / info.samplerate;

    const double ratio = static_cast<double>(sampleRate) / info.samplerate;
    if (src_is_valid_ratio(ratio) == 0) {
        sf_close(file);
        result.error = "the sound file " + path.string() + " is at " +
                       std::to_string(info.samplerate) + " Hz, too far from the film's " +
                       std::to_string(sampleRate) + " Hz to resample";
        return result;
    }

    // only as much of the file as the strip can hold, and a little more for
    // the resampler's filter
    const sf_count_t wanted =
        std::min<sf_count_t>(info.frames, static_cast<sf_count_t>(samples / ratio) + 1024);
    std::vector<float> interleaved(static_cast<std::size_t>(wanted) *
                                   static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), wanted);
    const int readError = sf_error(file);
    sf_close(file);
    if (readError != SF_ERR_NO_ERROR || (got <= 0 && info.frames > 0)) {
        result.error = "cannot read the sound in " + path.string();
        return result;
    }

    // channels averaged
    std::vector<float> mono(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)), 0.0f);
    for (std::size_t n = 0; n < mono.size(); ++n) {
        float sum = 0.0f;
        for (int c = 0; c < info.channels; ++c) {
            sum += interleaved[n * static_cast<std::size_t>(info.channels) +
                               static_cast<std::size_t>(c)];
        }
        mono[n] = sum / static_cast<float>(info.channels);
    }

    std::vector<float> atRate;
    if (info.samplerate == sampleRate || mono.empty()) {
        atRate = std::move(mono);
    } else {
        atRate.resize(static_cast<std::size_t>(static_cast<double>(mono.size()) * ratio) + 64);
        SRC_DATA data{};
        data.data_in = mono.data();
        data.input_frames = static_cast<long>(mono.size());
        data.data_out = atRate.data();
        data.output_frames = static_cast<long>(atRate.size());
        data.src_ratio = ratio;
        data.end_of_input = 1;
        const int problem = src_simple(&data, SRC_SINC_BEST_QUALITY, 1);
        if (problem != 0) {
            result.error = "cannot resample " + path.string() + ": " + src_strerror(problem);
            return result;
        }
        atRate.resize(static_cast<std::size_t>(data.output_frames_gen));
    }

    if (static_cast<int>(atRate.size()) > samples) {
        atRate.resize(static_cast<std::size_t>(samples));
    }
    for (float& v : atRate) {
        v = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    }
    result.samples = std::move(atRate);
    return result;
}

std::string writeSignalWav(const std::filesystem::path& path, const std::vector<float>& samples,
                           int sampleRate) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return "cannot create " + path.string() + ": " + sf_strerror(nullptr);
    }
    // the peak chunk carries the time of writing, which would make two
    // renders of the same options differ
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const sf_count_t written =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    const int closeError = sf_close(file);
    if (written != static_cast<sf_count_t>(samples.size()) || closeError != 0) {
        return "cannot write " + path.string();
    }
    return {};
}

std::vector<float> syncSignal(int samples, int sampleRate, double maxStep,
                              const std::vector<std::int64_t>& starts, int length) {
    // the quiet track: the mix at -20 dB, on which the frames still join
    std::vector<float> signal = builtInSignal(SignalKind::Mix, samples, sampleRate, maxStep);
    for (float& s : signal) {
        s *= static_cast<float>(kSyncQuietLevel);
    }
    const double amplitude = std::min(kPeak, maxStep * sampleRate / (kTwoPi * kSyncBurstHz));
    for (const std::int64_t start : starts) {
        for (int i = 0; i < length; ++i) {
            const std::int64_t t = start + i;
            if (t >= 0 && t < samples) {
                signal[static_cast<std::size_t>(t)] = static_cast<float>(
                    amplitude * std::sin(kTwoPi * kSyncBurstHz * i / sampleRate));
            }
        }
    }
    return signal;
}

} // namespace detail

TruthSignal readTruthSignal(const std::filesystem::path& wav) {
    TruthSignal result;
    SF_INFO info{};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        result.error = "cannot read " + wav.string() + ": " + sf_strerror(nullptr);
        return result;
    }
    if (info.channels <= 0) {
        sf_close(file);
        result.error = wav.string() + " has no channels";
        return result;
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) *
                                   static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (got != info.frames) {
        result.error = "cannot read the samples of " + wav.string();
        return result;
    }
    result.samples.resize(static_cast<std::size_t>(got));
    for (std::size_t n = 0; n < result.samples.size(); ++n) {
        float sum = 0.0f;
        for (int c = 0; c < info.channels; ++c) {
            sum += interleaved[n * static_cast<std::size_t>(info.channels) +
                               static_cast<std::size_t>(c)];
        }
        result.samples[n] = sum / static_cast<float>(info.channels);
    }
    result.sampleRate = info.samplerate;
    return result;
}

} // namespace veltrana::synth
