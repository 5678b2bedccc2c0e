#pragma once
// Sound files for delivery: mono PCM of 8, 16 or 24 bits in a Broadcast WAV
// (RIFF/WAVE with a "bext" chunk), written through libsndfile, with the MD5
// of its audio data in an "MD5 " chunk after the data (wave_md5.h).
//
// The samples come in the standard 8-bit scale, centred on 0: one 8-bit step
// is 1.0, so 256 units at 16 bits and 65536 at 24 bits. They are rounded to
// the nearest whole unit and clipped at full scale.

#include "base/status.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace veltrana {

struct BroadcastInfo {
    std::string description; // what the sound is (film, resolution, frames, speed)
    std::string originator = "Veltrana";
    std::string codingHistory;       // the "A=PCM,F=...,W=...,M=mono,T=..." lines
    std::string date;                // origination date, yyyy-mm-dd; today when empty
    std::string time;                // origination time, hh:mm:ss; now when empty
    std::uint64_t timeReference = 0; // the first sample's count of samples since midnight
};

// The coding history line of a file written at `rate` and `bits`.
std::string codingHistoryLine(int rate, int bits, const std::string& software);

// One sample as a signed whole number at `bits` (the file stores 8 bits
// unsigned, centred on 128), and whether it had to be clipped.
std::int32_t pcmValue(float sample, int bits, bool* clipped);

struct WaveWritten {
    std::size_t samples = 0;
    std::size_t clipped = 0; // samples beyond full scale, set to it
};

// Writes the whole file to `descriptor` (an empty file open for writing and
// seeking; it stays open). `name` is for messages.
Result<WaveWritten> writeBroadcastWave(int descriptor, const std::string& name,
                                       std::span<const float> samples, int rate, int bits,
                                       const BroadcastInfo& info);

} // namespace veltrana
