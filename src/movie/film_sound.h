#pragma once
// The soundtrack of a film run with sound: read from the same scans in the
// same pass as the pictures (soundtrack/sound_frame.h), assembled as the
// soundtrack job assembles it, and timed against the pictures
// (movie/movie_sound.h).
//
// Alignment: the film job finds each picture's frame line and the
// soundtrack job the first row it reads, both on the same scan; the first
// picture's frame line is placed on the stream from the two. The reel's
// frame advance comes from its joins, so the sound keeps its pictures'
// pace over a whole reel of shrunk film without a frame-by-frame stretch.

#include "base/status.h"
#include "movie/film_frame.h"
#include "movie/movie_container.h"
#include "movie/movie_sound.h"
#include "soundtrack/sound_assembly.h"
#include "soundtrack/sound_delivery.h"
#include "soundtrack/sound_frame.h"
#include "soundtrack/soundtrack_job.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrana {

// Film frames the sound is printed ahead of its picture.
inline constexpr int kSoundAdvance35 = 20;
inline constexpr int kSoundAdvance16 = 26;
int defaultSoundAdvance(SoundtrackType type);

// Joins this far from the film's nominal pitch, as a share of it, show that
// the frames did not join on a soundtrack.
inline constexpr double kAdvanceTolerance = 0.1;

// A movie with its sound.
struct FilmSound {
    SoundSettings sound; // how the soundtrack is read and assembled (filmSpeed: the WAV's)
    MovieContainer container = MovieContainer::Avi;
    FrameRate pictureRate; // the movie's pictures per second
    int advance = kSoundAdvance35;
    std::filesystem::path wavPath; // the soundtrack's WAV too, when given
};

// The sound of a finished run.
struct FilmSoundResult {
    std::vector<float> movieSamples; // in [-1, 1] at format.sampleRate
    MovieSoundFormat format;
    FrameAdvance advance;
    double firstFrameLine = 0;
    AssembledSound assembled; // the stream as the soundtrack job would write it
    SoundDelivery delivery;   // how that WAV is written
};

class FilmSoundtrack {
public:
    FilmSoundtrack(const ScanRunSettings& run, const FilmSound& settings);

    // Whether the scans are to be read at their stored depth too (archival
    // levels read the track there).
    bool readsStoredDepth() const;
    // Reads a loaded scan's soundtrack (on any thread, no observer call).
    SoundFrame read(const ScanImages& scan, int number, bool first) const;
    PairSearch meet(const SoundFrame& previous, const SoundFrame& current) const;

    // The run's first frame, with its pictures' cut: settles the resolution,
    // the rate the sound is written at and the first frame line. Fails when
    // its soundtrack cannot be read; the message says why, without the
    // frame's file. The first scan's time code, when it has one, dates the
    // WAV as the soundtrack job's.
    Status start(const SoundFrame& first, const FilmFrames& pictures,
                 const std::optional<DpxTimecode>& timecode);
    // The rate settled by start(): its refusal ends the run as a usage error,
    // its note goes to the log.
    const OutputRateChoice& outputRate() const { return rate; }
    // A later frame joined to the one before.
    Status add(const SoundFrame& frame, const SoundFrame& previous, const PairSearch& search);

    // The sound timed against the pictures; fails when the joins show that
    // the frames did not join on a soundtrack.
    Result<FilmSoundResult> finish();

    // The log line of the resolution the sound was read at.
    ScanResolution resolution() const { return settled; }

private:
    const ScanRunSettings& run;
    const FilmSound& settings;
    const SoundPlan plan;
    const SoundReadSettings reading;
    std::unique_ptr<SoundAssembly> assembly;
    SoundtrackGeometry geometry;
    ScanResolution settled;
    OutputRateChoice rate;
    double firstFrameLine = 0;
    std::optional<DpxTimecode> firstTimecode;
    std::vector<double> joins;
};

// How a film job refers to its reel's frames per scan: four on a 16 mm
// long strip, one otherwise.
int framesPerScan(const ScanRunSettings& run);

} // namespace veltrana
