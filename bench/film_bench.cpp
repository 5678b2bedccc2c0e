// Frames per second of the make-film job, stage by stage, on rendered 35 mm
// colour scans.
//
//   bench_film [frames]      (default 24 scans per resolution)
//
// For each resolution the scans are rendered to a temporary folder first
// (not timed), then walked the way the job walks them, timing each stage:
// load, trim and turn, measure and cut, scale, encode. A whole makeFilm run on
// the same scans gives the end-to-end rate. Build in Release for figures worth
// quoting.

#include "film/film_job.h"
#include "film/frame_geometry.h"
#include "film/movie_file.h"
#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "job/frame_sequence.h"
#include "synth/synth.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct StageTimes {
    double load = 0;
    double trimAndTurn = 0;
    double measureAndCut = 0;
    double scale = 0;
    double encode = 0;
    double total() const { return load + trimAndTurn + measureAndCut + scale + encode; }
};

// One walk over the scans, stage by stage, as makeFilm does it.
bool timeStages(const std::vector<fs::path>& scans, const fs::path& movie, bool cutSoundtrack,
                StageTimes& t, int& movieFrames) {
    using namespace veltrana;
    constexpr SoundtrackType type = SoundtrackType::VariableArea35;
    MovieFile file;
    if (const Status opened = file.open(movie); !opened) {
        std::fprintf(stderr, "%s\n", opened.message().c_str());
        return false;
    }
    FrameGeometry geometry;
    for (std::size_t k = 0; k < scans.size(); ++k) {
        auto start = Clock::now();
        const LoadedScan scan = loadScan(scans[k]);
        t.load += secondsSince(start);
        if (!scan.ok()) {
            std::fprintf(stderr, "%s\n", scan.error.c_str());
            return false;
        }

        start = Clock::now();
        const cv::Mat working =
            filmWorkingImage(frameCorrection(scan.image, type, false), type, false);
        t.trimAndTurn += secondsSince(start);

        start = Clock::now();
        if (k == 0) {
            geometry =
                measureFrameGeometry(type, detectResolution(working, type), cutSoundtrack, working);
        }
        const std::vector<cv::Mat> pieces = cutFrame(working, geometry, type, false, cutSoundtrack);
        t.measureAndCut += secondsSince(start);

        for (const cv::Mat& piece : pieces) {
            start = Clock::now();
            const cv::Mat frame = movieFrame(piece);
            t.scale += secondsSince(start);

            start = Clock::now();
            file.write(frame);
            t.encode += secondsSince(start);
        }
    }
    const auto start = Clock::now();
    const Status committed = file.commit();
    t.encode += secondsSince(start);
    movieFrames = file.framesWritten();
    if (!committed) {
        std::fprintf(stderr, "%s\n", committed.message().c_str());
        return false;
    }
    return true;
}

void printStage(const char* name, double seconds, int frames) {
    std::printf("  %-16s %8.2f ms/frame\n", name, 1000.0 * seconds / frames);
}

bool benchResolution(int dpi, int frames, const fs::path& scratch) {
    using namespace veltrana;
    const fs::path scansDir = scratch / ("scans-" + std::to_string(dpi));
    synth::SynthOptions options;
    options.film = SoundtrackType::VariableArea35;
    options.dpi = {dpi, dpi};
    options.frames = frames;
    options.color = true;
    const synth::SynthResult rendered = synth::renderSampleScans(options, scansDir);
    if (!rendered.ok()) {
        std::fprintf(stderr, "cannot render the scans: %s\n", rendered.error.c_str());
        return false;
    }
    const FrameSequence sequence = listFrameSequence(scansDir);
    const cv::Mat first = loadScan(sequence.frames.front()).image;
    std::printf("35 mm variable area, colour, %d dpi: %zu scans of %d x %d\n", dpi,
                sequence.frames.size(), first.cols, first.rows);

    for (const bool cutSoundtrack : {false, true}) {
        StageTimes t;
        int movieFrames = 0;
        if (!timeStages(sequence.frames, scratch / "stages.avi", cutSoundtrack, t, movieFrames)) {
            return false;
        }
        std::printf(" stages%s: %d movie frames, %.1f frames/s\n",
                    cutSoundtrack ? " (cut soundtrack)" : "", movieFrames, movieFrames / t.total());
        printStage("load", t.load, movieFrames);
        printStage("trim and turn", t.trimAndTurn, movieFrames);
        printStage("measure and cut", t.measureAndCut, movieFrames);
        printStage("scale", t.scale, movieFrames);
        printStage("encode", t.encode, movieFrames);
    }

    FilmJob job;
    job.soundtrackType = SoundtrackType::VariableArea35;
    job.startFrame = 1;
    job.stopFrame = static_cast<int>(sequence.frames.size());
    job.inputPath = scansDir;
    job.outputPath = scratch / "job.avi";
    const auto start = Clock::now();
    const FilmResult result = makeFilm(job);
    const double seconds = secondsSince(start);
    if (!result.succeeded()) {
        std::fprintf(stderr, "makeFilm: %s\n", result.message.c_str());
        return false;
    }
    std::printf(" makeFilm: %d movie frames in %.2f s, %.1f frames/s\n\n", result.movieFrames,
                seconds, result.movieFrames / seconds);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    veltrana::reuseLargeImageBuffers(); // as the programs do
    const int frames = argc > 1 ? std::atoi(argv[1]) : 24;
    if (frames < 2) {
        std::fprintf(stderr, "usage: bench_film [frames (2 or more)]\n");
        return 2;
    }
    const fs::path scratch =
        fs::temp_directory_path() / ("veltrana-bench-film-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    bool ok = true;
    for (const int dpi : {1200, 2400}) {
        ok = ok && benchResolution(dpi, frames, scratch);
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return ok ? 0 : 1;
}
