#pragma once
// Pieces of the renderer shared between its source files; not for callers.

#include "synth/synth.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrana::synth::detail {

// Film and scanner brightness, 8-bit.
inline constexpr int kOpaque = 18;    // print black: outside the picture and band, frame lines
inline constexpr int kClear = 215;    // the clear part of a variable-area band
inline constexpr int kLight = 240;    // scanner light through a perforation or past the film edge
inline constexpr int kTrackArea = 30; // a variable-area track area prints a little lighter
inline constexpr int kGate = 4;       // the scanner's gate beyond a full-aperture scan's film
// Variable density: transmittance = mean + swing x signal, of the clear-to-opaque range.
inline constexpr double kDensityMean = 0.35;
inline constexpr double kDensitySwing = 0.3;

// The built-in signals, one value per strip row within -1..1: sinusoids of
// steady amplitude (at most 0.9, less where neighbouring rows would differ by
// more than maxStep), tones and sweeps alike. A steady amplitude gives the
// band sharp outer edges in the column profile, which the profile cutter
// needs to find them.
std::vector<float> builtInSignal(SignalKind kind, int samples, int sampleRate, double maxStep);

// A quiet track with a kSyncBurstHz burst of `length` rows from each of
// `starts`, each starting at phase 0, as loud as maxStep allows.
std::vector<float> syncSignal(int samples, int sampleRate, double maxStep,
                              const std::vector<std::int64_t>& starts, int length);

struct SoundRead {
    std::vector<float> samples;
    int sourceRate = 0;
    double sourceSeconds = 0; // length of the whole file
    std::string error;        // empty on success
};

// The first `samples` samples of a sound file at `sampleRate` (resampled,
// channels averaged, clipped to -1..1); fewer when the file is shorter.
SoundRead readSoundAtRate(const std::filesystem::path& path, int sampleRate, int samples);

// A mono 32-bit float WAV, written so that the same samples give the same bytes.
std::string writeSignalWav(const std::filesystem::path& path, const std::vector<float>& samples,
                           int sampleRate);

nlohmann::ordered_json truthToJson(const SynthTruth& truth);

// 64-bit mixing function: a different, well-spread value for every input.
inline std::uint64_t mix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Floor division and the matching non-negative remainder.
inline std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

} // namespace veltrana::synth::detail
