#pragma once
// The make-soundtrack job: a range of frame scans in, one WAV file and
// "leng.txt" out.

#include "geometry/film_standard.h"
#include "job/film_speed.h"
#include "job/job_end.h"
#include "job/observer.h"
#include "job/run_settings.h"
#include "reading/scan_reader.h"
#include "soundtrack/sound_assembly.h"
#include "soundtrack/sound_delivery.h"
#include "soundtrack/sound_frame.h"
#include "soundtrack/strip.h"

#include <cstdint>
#include <filesystem>
#include <optional>
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

// What a scan that cannot be read does to a run.
enum class UnreadableScan {
    Stop,    // the run stops there with nothing written, as always
    Silence, // its place holds silence one nominal frame pitch long; the run goes on
};

// How a run reads its soundtrack and assembles and writes its sound: the
// soundtrack job's own settings, which the film job takes too for a movie
// with sound. All the archival ones off give the standard 8-bit sound at
// the film's rate, byte for byte. The archival preset of both front ends
// sets both archival flags and kArchivalSoundFormat (sound_delivery.h).
struct SoundSettings {
    FilmSpeed filmSpeed = 25; // frames per second, 16 to 60
    ColorElement colorElement = ColorElement::R;
    bool crossfade = true;
    bool removeDc = true;
    bool cutByAnalysis = false;

    bool archivalLevels = false; // levels without steps at the joins, in floating point
    bool preciseJoins = false;   // joins registered on the scans' overlap, at fractions of a row
    int bitsPerSample = 8;       // 8, 16 or 24
    // Samples per second; 0 for the film's rate (film speed x frame pitch),
    // or 48000 where that is no whole number: the archival writer then
    // resamples it, at the bits asked for.
    int outputRate = 0;
    // The film's own rate was asked for by name: where it is no whole number
    // the run is refused (JobEnd::UsageRefused) as soon as the pitch is known.
    bool filmRateRequired = false;
};

// Every setting of one run, filled by the front end before the worker starts
// and read by the worker for the whole run. Nothing changes while the worker
// runs but the stop flag it points at (ScanRunSettings::stopRequested).
struct SoundtrackJob : ScanRunSettings, SoundSettings {
    JobObserver* observer = nullptr; // log box, progress bar, Start and Stop

    std::filesystem::path outputPath; // the WAV file
    // Where leng.txt and the diagnostics (v.txt, z.txt, r.txt) go: empty for
    // beside the scans, as always; a batch run keeps its scans untouched.
    std::filesystem::path sideFilesFolder;

    // A lost scan's place holds silence, the joins beside it not searched
    // (leng.txt holds the nominal pitch for them). The run's first scan must
    // be read whatever this says: it settles the resolution.
    UnreadableScan onUnreadable = UnreadableScan::Stop;

    // When set, the run adds the time of each stage here.
    SoundtrackTimings* timings = nullptr;
};

// How a run ended (JobEnd::Finished when the WAV and "leng.txt" were
// written), and what it wrote. JobEnd::SideFilesNotWritten: the WAV was
// written but the join report or "leng.txt" was not.
struct SoundtrackResult : JobEnding {
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
    // frames whose scans could not be read and hold silence (UnreadableScan::Silence)
    std::vector<LostFrame> lostFrames;
};

// Runs the whole job on the calling thread.
SoundtrackResult runSoundtrackJob(SoundtrackJob& job);

// How a run's sound is assembled: the one place the archival settings are
// read.
SoundPlan soundPlanOf(const SoundSettings& sound);

// What a run's frames give the sound.
SoundReadSettings readSettingsOf(const ScanRunSettings& run, const SoundSettings& sound,
                                 const SoundPlan& plan);

// What a scan read at its stored depth gives the sound's measures.
FrameScan frameScanOf(const ScanImages& images);

// The rate a run's sound is written at, once the frame pitch is known. Where
// film speed x pitch is no whole number, the film's own rate cannot be
// written: the run is refused (`refusal` says why) when it was asked for by
// name, and written at 48000 Hz otherwise (`note` says so for the log).
struct OutputRateChoice {
    int rate = 0; // as SoundSettings::outputRate
    std::string note;
    std::string refusal;
};
OutputRateChoice outputRateFor(const SoundSettings& sound, int framePitch);

// How a run's WAV is written: the format asked for, the film's rate at the
// geometry's pitch, and the Broadcast WAV's description of the run and its
// time reference, the first scan's time code when it has one.
SoundDelivery soundDeliveryOf(const ScanRunSettings& run, const SoundSettings& sound,
                              const SoundAssembly& assembly, ScanResolution resolution,
                              const SoundtrackGeometry& geometry, bool centredOnZero,
                              const std::optional<DpxTimecode>& firstTimecode);

// Whether a job writes the standard 8-bit WAV, byte for byte as always: 8
// bits at the film's rate of samples at the standard levels, whatever the
// joins (wavKindFor, sound_delivery.h).
bool writesStandardSound(const SoundtrackJob& job);

// The text of "leng.txt": every join position followed by one blank.
std::string joinPositionsText(std::span<const int> joinPositions);

// The worker thread's procedure: runSoundtrackJob, with the exit code 0, or
// -1 when a frame could not be loaded.
int SoundtrackWorker(SoundtrackJob* job);

} // namespace veltrana
