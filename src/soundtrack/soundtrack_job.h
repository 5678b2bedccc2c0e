#pragma once
// The make-soundtrack job: a range of frame scans in, one WAV file and
// "leng.txt" out.

#include "geometry/film_standard.h"
#include "job/observer.h"
#include "job/run_settings.h"
#include "soundtrack/strip.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace veltrana {

// Seconds spent in each stage of a run, summed over its frames (over all
// threads: the work, not the wall time); for the benchmark.
struct SoundtrackTimings {
    double load = 0;
    double stripAndSamples = 0; // trim, band, samples and profile
    double joinSearch = 0;
    double joining = 0;
    double writing = 0;
};

// Every setting of one run, filled by the front end before the worker starts
// and read by the worker for the whole run. Only stopRequested changes while
// the worker runs; the run stops at the next frame when it or the shared
// cancel flag is set.
struct SoundtrackJob : ScanRunSettings {
    JobObserver* observer = nullptr; // log box, progress bar, Start and Stop

    std::filesystem::path outputPath; // the WAV file

    int filmSpeed = 25; // frames per second, 24 or 25
    ColorElement colorElement = ColorElement::R;
    bool crossfade = true;
    bool removeDc = true;
    bool cutByAnalysis = false;
    bool rotationUp = true;

    // Archival sound; all off gives the standard 8-bit sound at the film's
    // rate, byte for byte.
    bool archivalLevels = false; // levels without steps at the joins, in floating point
    bool preciseJoins = false;   // joins registered on the scans' overlap, at fractions of a row
    int bitsPerSample = 8;       // 8, 16 or 24
    int outputRate = 0;          // samples per second; 0 for the film's rate

    std::atomic<bool> stopRequested{false};

    // When set, the run adds the time of each stage here.
    SoundtrackTimings* timings = nullptr;
};

// How a run ended.
enum class SoundtrackEnd {
    Finished,          // WAV and "leng.txt" written
    Stopped,           // stop requested: nothing written
    UnreadableFrame,   // a scan could not be loaded: nothing written
    Refused,           // the settings cannot give a sound (range, resolution): nothing written
    LengthsNotWritten, // the WAV was written but "leng.txt" could not be
    WavNotWritten,     // the WAV cannot or could not be written (old file left as it was)
    Error,             // broke off on an unexpected error (out of memory, ...): nothing written
};

struct SoundtrackResult {
    SoundtrackEnd end = SoundtrackEnd::Finished;
    std::string message; // for every end but Finished: what went wrong
    // what went wrong without failing the run (diagnostics not written, ...)
    std::vector<std::string> warnings;
    // what was written, when it was
    std::filesystem::path wavPath;
    std::filesystem::path lengthsPath;
    std::filesystem::path joinsPath; // the join report (archival sound)
    std::uint32_t sampleRate = 0;
    int bitsPerSample = 8;
    bool broadcastWave = false; // written as Broadcast WAV through libsndfile
    std::size_t sampleCount = 0;
    std::size_t clippedSamples = 0;
    bool succeeded() const { return end == SoundtrackEnd::Finished; }
};

// Runs the whole job on the calling thread.
SoundtrackResult runSoundtrackJob(SoundtrackJob& job);

// One sample as a WAV byte: truncated toward zero, the low eight bits kept
// (127.9 -> 127, -0.5 -> 0, -1 -> 255, 300 -> 44).
std::uint8_t sampleToByte(float sample);

// The output stream as WAV bytes. Each value is first saturated to the range
// that maps onto the bytes without wrapping: -256..-1 for samples centred on
// -128 (removeDc), 0..255 otherwise. A sample far above its frame's mean thus
// stays at full scale instead of wrapping round into a click.
std::vector<std::uint8_t> soundtrackBytes(std::span<const float> stream, bool removeDc);

// Whether a job writes the standard sound, byte for byte as always: standard
// joins and levels, 8 bits at the film's rate.
bool writesStandardSound(const SoundtrackJob& job);

// The text of "leng.txt": every join position followed by one blank.
std::string joinPositionsText(std::span<const int> joinPositions);

// The worker thread's procedure: runSoundtrackJob, with the exit code 0, or
// -1 when a frame could not be loaded.
int SoundtrackWorker(SoundtrackJob* job);

} // namespace veltrana
