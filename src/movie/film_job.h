#pragma once
// The make-film job: a range of frame scans in, one 640 x 480 DIVX movie at
// 24 frames per second out.

#include "geometry/film_standard.h"
#include "job/job_end.h"
#include "job/observer.h"
#include "job/run_settings.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

namespace veltrana {

// Seconds spent in each stage of a run, summed over its frames (over all
// threads: the work, not the wall time); for the benchmark.
struct FilmTimings {
    double load = 0;
    double cutAndScale = 0; // trim, measure, cut and scale to movie frames
    double encode = 0;      // writing the movie frames, and completing the movie
};

struct FilmJob : ScanRunSettings {
    bool cutSoundtrack = false;       // the picture only, without the soundtrack band
    JobObserver* observer = nullptr;  // log box and progress bar
    std::filesystem::path outputPath; // the movie, written whatever its extension
    // When set, the run adds the time of each stage here.
    FilmTimings* timings = nullptr;
};

// How a run ended (JobEnd::Finished when the movie was written), and what
// it wrote.
struct FilmResult : JobEnding {
    int movieFrames = 0;             // frames written to the movie
    std::filesystem::path moviePath; // the movie, when it was written
};

// Runs the whole job on the calling thread.
FilmResult makeFilm(const FilmJob& job);

} // namespace veltrana
