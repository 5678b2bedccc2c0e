#pragma once
// The sound a run delivered, read back from its file for the run report's
// waveform: the lowest and highest sample of each stretch, in the file's own
// units, so that the plot shows what the file holds (levels matched, joins
// fractional) rather than the frames' raw readings.

#include "base/status.h"

#include <filesystem>
#include <vector>

namespace veltrana {

struct DeliveredSound {
    int sampleRate = 0;
    int bits = 0;             // 8, 16 or 24 (the file's PCM width)
    long long samples = 0;    // in the file
    std::vector<double> low;  // per stretch, in file units (8 bits: 0..255, silence at 128;
    std::vector<double> high; // 16 and 24 bits: signed, silence at 0)
    double fullScale = 0;     // the largest magnitude from silence: 128, 32768 or 8388608
};

// Reads a mono PCM WAV into `stretches` equal stretches (fewer when it has
// fewer samples).
Result<DeliveredSound> readDeliveredSound(const std::filesystem::path& wav, int stretches);

} // namespace veltrana
