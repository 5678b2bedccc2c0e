#pragma once
// The make-film job: a range of frame scans in, one 640 x 480 DIVX movie at
// 24 frames per second out; or, with sound, a movie whose second stream is
// the soundtrack of the same scans, read in the same pass
// (movie/film_sound.h), in the container its name asks for.

#include "geometry/film_standard.h"
#include "job/job_end.h"
#include "job/observer.h"
#include "job/run_settings.h"
#include "movie/film_sound.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace veltrana {

// Seconds spent in each stage of a run, summed over its frames (over all
// threads: the work, not the wall time); for the benchmark.
struct FilmTimings {
    double load = 0;
    double cutAndScale = 0; // trim, measure, cut and scale to movie frames
    double encode = 0;      // writing the movie frames, and completing the movie
    double sound = 0;       // reading, joining and timing the soundtrack (with sound)
};

struct FilmJob : ScanRunSettings {
    bool cutSoundtrack = false;       // the picture only, without the soundtrack band
    JobObserver* observer = nullptr;  // log box and progress bar
    std::filesystem::path outputPath; // the movie, written whatever its extension without sound
    // The movie's sound; none for the standard silent movie.
    std::optional<FilmSound> withSound;
    // When set, the run adds the time of each stage here.
    FilmTimings* timings = nullptr;
};

// How a run ended (JobEnd::Finished when the movie was written), and what
// it wrote.
struct FilmResult : JobEnding {
    int movieFrames = 0;             // frames written to the movie
    std::filesystem::path moviePath; // the movie, when it was written
    // with sound
    std::int64_t soundSamples = 0;
    int sampleRate = 0;
    double rowsPerFrame = 0;       // the reel's measured frame advance
    std::filesystem::path wavPath; // the soundtrack's WAV, when asked for
};

// A movie with its sound of one reel, as the batch makes it: the film
// settings of `scans` and `cutSoundtrack`, the soundtrack read as `sound`
// says, in `container`, at the picture rate and sound advance the film's
// standard has by default (24 pictures per second; 20 frames on 35 mm, 26 on
// 16 mm).
FilmJob soundMovieJob(const ScanRunSettings& scans, bool cutSoundtrack, const SoundSettings& sound,
                      MovieContainer container, const std::filesystem::path& movie);

// Runs the whole job on the calling thread.
FilmResult makeFilm(const FilmJob& job);

} // namespace veltrana
