// Frames per second of the make-soundtrack job, stage by stage, and its peak
// memory, on rendered 35 mm colour scans.
//
//   bench_soundtrack <dpi> <frames>
//
// The scans are rendered by a child process into a temporary folder (not
// timed, and not counted in this process's peak memory); then one real run of
// the job over them reports the time of each stage (load, trim and turn,
// strip and samples, join search, joining, writing). Run it with twice the
// frames to see that the time doubles while the peak memory stays: the job
// holds one frame's images at a time. Build in Release for figures worth
// quoting.

#include "geometry/scan.h"
#include "job/observer.h"
#include "job/soundtrack_job.h"
#include "synth/synth.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool renderInChild(const veltrana::synth::SynthOptions& options, const fs::path& dir) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const auto result = veltrana::synth::renderSampleScans(options, dir);
        if (!result.ok()) {
            std::fprintf(stderr, "render: %s\n", result.error.c_str());
        }
        ::_exit(result.ok() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace veltrana;
    const int dpi = argc > 1 ? std::atoi(argv[1]) : 1200;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 24;
    if (dpi <= 0 || frames < 2) {
        std::fprintf(stderr, "usage: bench_soundtrack <dpi> <frames of at least 2>\n");
        return 2;
    }

    const fs::path dir =
        fs::temp_directory_path() / ("veltrana-bench-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(dpi) + "-" + std::to_string(frames));
    synth::SynthOptions options;
    options.film = SoundtrackType::VariableArea35;
    options.dpi = {dpi, dpi};
    options.frames = frames;
    options.fps = 25;
    options.color = true;
    if (!renderInChild(options, dir)) {
        return 1;
    }
    // as the programs do
    reuseLargeImageBuffers();
    const double memoryBefore = peakMegabytes();

    NullObserver quiet;
    SoundtrackTimings timings;
    SoundtrackJob job;
    job.observer = &quiet;
    job.inputPath = dir;
    job.outputPath = dir / "bench.wav";
    job.startFrame = 1;
    job.stopFrame = frames;
    job.filmSpeed = 25;
    job.timings = &timings;
    const auto start = std::chrono::steady_clock::now();
    const SoundtrackResult result = runSoundtrackJob(job);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (!result.succeeded()) {
        std::fprintf(stderr, "run: %s\n", result.message.c_str());
        return 1;
    }

    std::printf("soundtrack 35va colour %d dpi, %d frames: %.3f s, %.1f frames/s, "
                "peak memory %.1f MB (%.1f MB before the run)\n",
                dpi, frames, seconds, frames / seconds, peakMegabytes(), memoryBefore);
    std::printf("  per frame: load %.2f ms, trim and turn %.2f ms, strip and samples %.2f ms, "
                "join search %.2f ms, joining %.3f ms; writing %.2f ms in all\n",
                1e3 * timings.load / frames, 1e3 * timings.trimAndTurn / frames,
                1e3 * timings.stripAndSamples / frames, 1e3 * timings.joinSearch / frames,
                1e3 * timings.joining / frames, 1e3 * timings.writing);
    return 0;
}
