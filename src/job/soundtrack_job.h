#pragma once
// The make-soundtrack job: a range of frame scans in, one WAV file and
// "leng.txt" out.

#include "geometry/film_standard.h"
#include "job/observer.h"
#include "sound/strip.h"

#include <atomic>
#include <filesystem>
#include <string>

namespace veltrana {

// Every setting of one run, filled by the front end before the worker starts
// and read by the worker for the whole run. Only stopRequested changes while
// the worker runs.
struct SoundtrackJob {
    JobObserver* observer = nullptr; // log box, progress bar, Start and Stop

    std::filesystem::path inputPath;  // the frame directory, or any .tif in it
    std::filesystem::path outputPath; // the WAV file

    int startFrame = 1;
    int stopFrame = 2;
    SoundtrackType soundtrackType = SoundtrackType::VariableArea35;
    int resolutionX = 0; // manual dpi across the film
    int resolutionY = 0; // manual dpi along the film
    int filmSpeed = 25;  // frames per second, 24 or 25
    ColorElement colorElement = ColorElement::R;
    bool longStrip = false;
    bool crossfade = true;
    bool removeDc = true;
    bool inverse = false;
    bool manualResolution = false;
    bool cutByAnalysis = false;
    bool rotationUp = true;

    std::atomic<bool> stopRequested{false};
};

// How a run ended.
enum class SoundtrackEnd {
    Finished,          // WAV and "leng.txt" written
    Stopped,           // stop requested: nothing written
    UnreadableFrame,   // a scan could not be loaded: nothing written
    Refused,           // the settings cannot give a sound (range, resolution): nothing written
    LengthsNotWritten, // the WAV was written but "leng.txt" could not be
    WavNotWritten,     // the WAV could not be written (old file, if any, left as it was)
};

struct SoundtrackResult {
    SoundtrackEnd end = SoundtrackEnd::Finished;
    std::string message; // for every end but Finished: what the log box says
    bool succeeded() const { return end == SoundtrackEnd::Finished; }
};

// Runs the whole job on the calling thread.
SoundtrackResult runSoundtrackJob(SoundtrackJob& job);

// The worker thread's procedure: runSoundtrackJob, with the exit code 0, or
// -1 when a frame could not be loaded.
int SoundtrackWorker(SoundtrackJob* job);

} // namespace veltrana
