#pragma once
// What a reel's run wrote, read back for its record and the batch summary.

#include "base/status.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace veltrana::batch {

// Counts from a run's report.json; zeros where it cannot be read.
struct RunCounts {
    int frames = 0;        // frames read
    int framesLost = 0;    // unreadable frames given silence in their place
    int weakJoins = 0;     // joins flagged "weak"
    int fallbackJoins = 0; // precise joins asked for, the standard one used
};

RunCounts runCounts(const std::filesystem::path& reportJson);

// The length of a WAV file in seconds; 0 when it cannot be read.
double soundSeconds(const std::filesystem::path& wav);

// A whole file of at most `maxBytes`; fails naming the file otherwise.
Result<std::string> readSmallFile(const std::filesystem::path& file, std::uintmax_t maxBytes);

} // namespace veltrana::batch
