// One measurement of a job's speed and memory, or of the decode floor, on a
// folder of rendered scans; bench/run puts the measurements side by side.
//
//   bench_jobs floor <scans> <threads>       decode every scan, nothing else
//   bench_jobs floor-encode <scans> <threads>
//                                            decode every scan while the standard
//                                            movie's frames, cut beforehand, are
//                                            encoded in order: all the film job
//                                            does but its cut
//   bench_jobs soundtrack <scans> <threads>  the whole soundtrack job
//   bench_jobs film <scans> <threads>        the whole film job
//   bench_jobs film-sound <scans> <threads>  the film job with sound, into .avi
//   bench_jobs film-mp4 <scans> <threads>    the same into .mp4 (H.264, AAC)
//   bench_jobs film-mkv <scans> <threads>    the same into .mkv (FFV1, FLAC)
//   bench_jobs measures <scans> 1            the two jobs' measures of each scan
//                                            alone, on scans held in memory
//   ... [top|bottom|left|right]              where the band lies in the scans
//
// Each prints one line of key=value pairs: the frames per second, the time of
// each stage per frame (summed over the threads: the work, not the wall time)
// and the peak memory of the process. A separate process per measurement, so
// that each peak is its own. Build in Release for figures worth quoting.

#include "job/frame_sequence.h"
#include "job/observer.h"
#include "job/parallel.h"
#include "movie/film_frame.h"
#include "movie/film_job.h"
#include "movie/frame_geometry.h"
#include "movie/movie_container.h"
#include "movie/movie_file.h"
#include "reading/scan_reader.h"
#include "soundtrack/sound_frame.h"
#include "soundtrack/soundtrack_job.h"

#include <opencv2/videoio.hpp>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point began) {
    return std::chrono::duration<double>(Clock::now() - began).count();
}

double peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

int usage() {
    std::fprintf(stderr, "usage: bench_jobs floor|floor-encode|soundtrack|film|film-sound|film-mp4|"
                         "film-mkv|"
                         "measures <scans> "
                         "<threads (0: all)> [top|bottom|left|right]\n");
    return 2;
}

// Decoding alone: every scan loaded as the jobs load them, on the same
// number of threads.
int floor(const veltrana::FrameSequence& sequence, int threads) {
    std::atomic<bool> failed{false};
    // as the jobs read them: into each thread's kept buffers
    tbb::enumerable_thread_specific<veltrana::ScanBuffers> buffers;
    const auto began = Clock::now();
    tbb::task_arena arena(veltrana::jobThreads(threads));
    arena.execute([&] {
        tbb::parallel_for(std::size_t{0}, sequence.frames.size(), [&](std::size_t k) {
            if (!veltrana::loadScan(sequence.frames[k], {}, &buffers.local()).ok()) {
                failed = true;
            }
        });
    });
    const double seconds = secondsSince(began);
    if (failed) {
        std::fprintf(stderr, "a scan could not be read\n");
        return 1;
    }
    const double frames = static_cast<double>(sequence.frames.size());
    std::printf("frames=%zu seconds=%.3f fps=%.1f peak_mb=%.1f\n", sequence.frames.size(), seconds,
                frames / seconds, peakMegabytes());
    return 0;
}

fs::path benchMovie(const char* extension) {
    return fs::temp_directory_path() /
           ("veltrana-bench-" + std::to_string(::getpid()) + "." + extension);
}

// The standard movie's frames of these scans, as its file gives them back.
std::vector<cv::Mat> standardMovieFrames(const fs::path& scans, int count,
                                         veltrana::TrackSide side) {
    using namespace veltrana;
    NullObserver quiet;
    FilmJob job;
    job.inputPath = scans;
    job.startFrame = 1;
    job.stopFrame = count;
    job.trackSide = side;
    job.outputPath = benchMovie("avi");
    job.observer = &quiet;
    std::vector<cv::Mat> frames;
    if (makeFilm(job).succeeded()) {
        cv::VideoCapture movie(job.outputPath.string(), cv::CAP_FFMPEG);
        for (cv::Mat frame; movie.read(frame);) {
            frames.push_back(frame.clone());
        }
    }
    std::error_code ec;
    fs::remove(job.outputPath, ec);
    return frames;
}

// What no film job can go below: each scan decoded as the job decodes it, on
// the same threads, while the movie frames are encoded in order by the same
// writer. The DIVX encoder takes one frame at a time, so it runs beside the
// decoding, not across it.
int encodeFloor(const veltrana::FrameSequence& sequence, const fs::path& scans, int threads,
                veltrana::TrackSide side) {
    const int count = static_cast<int>(sequence.frames.size());
    const std::vector<cv::Mat> pictures = standardMovieFrames(scans, count, side);
    if (pictures.empty()) {
        std::fprintf(stderr, "the standard movie could not be made\n");
        return 1;
    }
    veltrana::MovieFile movie;
    if (!movie.open(benchMovie("avi")).ok()) {
        std::fprintf(stderr, "the movie could not be opened\n");
        return 1;
    }
    std::atomic<bool> failed{false};
    tbb::enumerable_thread_specific<veltrana::ScanBuffers> buffers;
    const auto began = Clock::now();
    tbb::task_arena arena(veltrana::jobThreads(threads));
    arena.execute([&] {
        std::size_t next = 0;
        tbb::parallel_pipeline(
            static_cast<std::size_t>(2 * veltrana::jobThreads(threads)),
            tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order,
                                                [&](tbb::flow_control& control) {
                                                    if (next == sequence.frames.size()) {
                                                        control.stop();
                                                    }
                                                    return next++;
                                                }) &
                tbb::make_filter<std::size_t, std::size_t>(
                    tbb::filter_mode::parallel,
                    [&](std::size_t k) {
                        if (!veltrana::loadScan(sequence.frames[k], {}, &buffers.local()).ok()) {
                            failed = true;
                        }
                        return k;
                    }) &
                tbb::make_filter<std::size_t, void>(
                    tbb::filter_mode::serial_in_order,
                    [&](std::size_t k) { movie.write(pictures[k % pictures.size()]); }));
    });
    const bool committed = movie.commit().ok();
    const double seconds = secondsSince(began);
    std::error_code ec;
    fs::remove(benchMovie("avi"), ec);
    if (failed || !committed) {
        std::fprintf(stderr, "a scan could not be read or the movie written\n");
        return 1;
    }
    std::printf("frames=%d seconds=%.3f fps=%.1f peak_mb=%.1f\n", count, seconds, count / seconds,
                peakMegabytes());
    return 0;
}

int soundtrack(const veltrana::FrameSequence& sequence, const fs::path& scans, int threads,
               veltrana::TrackSide side) {
    using namespace veltrana;
    NullObserver quiet;
    SoundtrackTimings timings;
    SoundtrackJob job;
    job.observer = &quiet;
    job.inputPath = scans;
    job.outputPath =
        fs::temp_directory_path() / ("veltrana-bench-" + std::to_string(::getpid()) + ".wav");
    job.startFrame = 1;
    job.stopFrame = static_cast<int>(sequence.frames.size());
    job.filmSpeed = 25;
    job.threads = threads;
    job.trackSide = side;
    job.timings = &timings;
    const auto began = Clock::now();
    const SoundtrackResult result = runSoundtrackJob(job);
    const double seconds = secondsSince(began);
    std::error_code ec;
    fs::remove(job.outputPath, ec);
    if (!result.succeeded()) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    const double frames = job.stopFrame;
    std::printf("frames=%d seconds=%.3f fps=%.1f peak_mb=%.1f load_ms=%.2f samples_ms=%.2f "
                "join_search_ms=%.2f joining_ms=%.3f writing_ms=%.1f\n",
                job.stopFrame, seconds, frames / seconds, peakMegabytes(),
                1e3 * timings.load / frames, 1e3 * timings.stripAndSamples / frames,
                1e3 * timings.joinSearch / frames, 1e3 * timings.joining / frames,
                1e3 * timings.writing);
    return 0;
}

// The standard movie, or the movie with its sound in the container asked for.
int film(const veltrana::FrameSequence& sequence, const fs::path& scans, int threads,
         veltrana::TrackSide side, std::optional<veltrana::MovieContainer> withSound) {
    using namespace veltrana;
    NullObserver quiet;
    FilmTimings timings;
    ScanRunSettings run;
    run.inputPath = scans;
    run.startFrame = 1;
    run.stopFrame = static_cast<int>(sequence.frames.size());
    run.threads = threads;
    run.trackSide = side;
    const std::string extension = withSound ? std::string(movieContainerName(*withSound)) : "avi";
    const fs::path movie = benchMovie(extension.c_str());
    FilmJob job =
        withSound ? soundMovieJob(run, false, SoundSettings{}, *withSound, movie) : FilmJob{};
    if (!withSound) {
        static_cast<ScanRunSettings&>(job) = run;
        job.outputPath = movie;
    }
    job.observer = &quiet;
    job.timings = &timings;
    const auto began = Clock::now();
    const FilmResult result = makeFilm(job);
    const double seconds = secondsSince(began);
    std::error_code ec;
    fs::remove(job.outputPath, ec);
    if (!result.succeeded()) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    const double frames = job.stopFrame;
    std::printf("frames=%d seconds=%.3f fps=%.1f peak_mb=%.1f load_ms=%.2f cut_scale_ms=%.2f "
                "encode_ms=%.2f sound_ms=%.2f\n",
                job.stopFrame, seconds, frames / seconds, peakMegabytes(),
                1e3 * timings.load / frames, 1e3 * timings.cutAndScale / frames,
                1e3 * timings.encode / frames, 1e3 * timings.sound / frames);
    return 0;
}

// What each job measures on a scan, without reading or writing anything:
// the soundtrack's trim, band, samples and profile, and the film's cut and
// its 640 x 480 frame, each the best of several rounds over scans decoded
// beforehand, so that what a layout costs is not lost in the decoding.
int measures(const veltrana::FrameSequence& sequence, veltrana::TrackSide side) {
    using namespace veltrana;
    constexpr std::size_t kScans = 48;
    constexpr int kRounds = 15;
    std::vector<cv::Mat> scans;
    for (std::size_t k = 0; k < sequence.frames.size() && k < kScans; ++k) {
        LoadedScan scan = loadScan(sequence.frames[k]);
        if (!scan.ok()) {
            std::fprintf(stderr, "%s\n", scan.message().c_str());
            return 1;
        }
        scans.push_back(scan.value().clone());
    }
    const ScanResolution dpi{1200, 1200};
    SoundReadSettings reading;
    reading.trackSide = side;
    reading.sampling.rotationUp = bandOnTop(side);
    reading.givenResolution = dpi;
    const SoundtrackGeometry geometry =
        computeSoundtrackGeometry(SoundtrackType::VariableArea35, dpi)
            .value_or(SoundtrackGeometry{});
    const FilmCutting cutting;
    const FrameGeometry cut = measureFrameGeometry(SoundtrackType::VariableArea35, dpi, false, {});
    double bestMeasure = 1e9;
    double bestCut = 1e9;
    double checksum = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto began = Clock::now();
        for (std::size_t k = 0; k < scans.size(); ++k) {
            checksum += measureSoundFrame(FrameScan{scans[k], {}, 1.0}, static_cast<int>(k) + 1,
                                          false, reading, geometry)
                            .measured.level;
        }
        bestMeasure = std::min(bestMeasure, secondsSince(began));
        began = Clock::now();
        for (const cv::Mat& scan : scans) {
            checksum += movieFramesOf(ScanView(scan, side), cutting, cut).frames.size();
        }
        bestCut = std::min(bestCut, secondsSince(began));
    }
    const double frames = static_cast<double>(scans.size());
    std::printf("frames=%zu measure_ms=%.3f cut_ms=%.3f checksum=%.1f\n", scans.size(),
                1e3 * bestMeasure / frames, 1e3 * bestCut / frames, checksum);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        return usage();
    }
    const auto side = veltrana::trackSideFromName(argc == 5 ? argv[4] : "top");
    if (!side) {
        return usage();
    }
    // as the programs do
    veltrana::reuseLargeImageBuffers();
    veltrana::silenceImageLibraryLog();
    const std::string what = argv[1];
    const fs::path scans = argv[2];
    const int threads = std::atoi(argv[3]);
    const veltrana::Result<veltrana::FrameSequence> listed = veltrana::listFrameSequence(scans);
    if (!listed.ok() || listed->frames.size() < 2) {
        std::fprintf(stderr, "no scans in %s\n", scans.c_str());
        return 1;
    }
    const veltrana::FrameSequence& sequence = *listed;
    if (what == "floor") {
        return floor(sequence, threads);
    }
    if (what == "floor-encode") {
        return encodeFloor(sequence, scans, threads, *side);
    }
    if (what == "soundtrack") {
        return soundtrack(sequence, scans, threads, *side);
    }
    if (what == "film") {
        return film(sequence, scans, threads, *side, std::nullopt);
    }
    if (what == "film-sound" || what == "film-mp4" || what == "film-mkv") {
        const auto container = what == "film-sound" ? veltrana::MovieContainer::Avi
                               : what == "film-mp4" ? veltrana::MovieContainer::Mp4
                                                    : veltrana::MovieContainer::Mkv;
        return film(sequence, scans, threads, *side, container);
    }
    if (what == "measures") {
        return measures(sequence, *side);
    }
    return usage();
}
