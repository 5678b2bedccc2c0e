#pragma once
// The sound written as the user asked to receive it: the standard 8-bit WAV
// (Plik), byte for byte as always, or a PCM Broadcast WAV through libsndfile
// (sound_file.h), resampled to the rate asked for.

#include "base/status.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veltrana {

// The archival preset of both front ends: 24 bits at 48 kHz.
struct SoundFormat {
    int bitsPerSample = 8;
    int outputRate = 0; // samples per second; 0 for the film's rate
};
inline constexpr SoundFormat kArchivalSoundFormat{24, 48000};

// How the sound is written.
enum class WavKind {
    Standard,  // the standard 8-bit WAV at the film's rate
    Broadcast, // a Broadcast WAV through libsndfile
};

// The one decision on it, by the format asked for: 8 bits at the film's
// rate is the standard WAV, whatever the joins. Samples centred on 0
// (archival levels) keep their fractions of a step, which the standard
// conversion would truncate: they go to a Broadcast WAV at any format, as
// does every other format.
WavKind wavKindFor(const SoundFormat& format, bool centredOnZero);

// One sample as a WAV byte: truncated toward zero, the low eight bits kept
// (127.9 -> 127, -0.5 -> 0, -1 -> 255, 300 -> 44).
std::uint8_t sampleToByte(float sample);

// The output stream as WAV bytes. Each value is first saturated to the range
// that maps onto the bytes without wrapping: -256..-1 for samples centred on
// -128 (removeDc), 0..255 otherwise. A sample far above its frame's mean thus
// stays at full scale instead of wrapping round into a click.
std::vector<std::uint8_t> soundtrackBytes(std::span<const float> stream, bool removeDc);

// What a run's sound is and how it is written.
struct SoundDelivery {
    SoundFormat format;
    double filmRate = 0;        // the stream's samples per second: film speed x frame pitch
    bool centredOnZero = false; // archival levels; otherwise centred as soundtrackBytes expects
    bool removeDc = true;       // standard samples centred on -128 rather than 128
    std::string description;    // the Broadcast WAV's
    // The Broadcast WAV's time reference: seconds since midnight of its
    // first sample (the first scan's time code), written as samples at the
    // output rate; 0 when there is none.
    double secondsSinceMidnight = 0;
};

struct SoundWritten {
    std::uint32_t sampleRate = 0;
    int bitsPerSample = 8;
    bool broadcastWave = false;
    std::size_t samples = 0;
    std::size_t clipped = 0; // samples beyond full scale, set to it
};

// Writes the sound to `descriptor` (an empty file open for writing and
// seeking; it stays open). `name` is for messages: a failure says "Cannot
// write the sound to NAME: ..." or names the file itself.
Result<SoundWritten> writeSound(int descriptor, const std::string& name, std::vector<float> stream,
                                const SoundDelivery& delivery);

} // namespace veltrana
