// Reading deep scans (10-bit DPX, 16-bit TIFF) as the jobs read them,
// against OpenImageIO's own decoding of the same files on the same number of
// threads; bench/reading puts them side by side.
//
//   bench_reading library <scans> <threads> [passes]   OpenImageIO alone
//   bench_reading standard <scans> <threads> [passes]  loadScan (8 bits)
//   bench_reading archival <scans> <threads> [passes]  8 bits and the stored depth
//
// Each reads every scan of the folder `passes` times (default 1) and prints
// one line of key=value pairs: frames per second, and the peak memory after
// the first pass and at the end (flat when nothing grows from scan to scan).
// Build in Release for figures worth quoting.

#include "job/frame_sequence.h"
#include "job/parallel.h"
#include "reading/scan_reader.h"

#include <OpenImageIO/imageio.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The library's decoding of one file into memory kept by the thread, at the
// samples' own type (16 bits for 10-bit DPX and 16-bit TIFF), on the calling
// thread only, as the jobs set it.
bool libraryDecode(const std::string& file, std::vector<unsigned char>& pixels) {
    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::open(file);
    if (!input) {
        (void)OIIO::geterror();
        return false;
    }
    const OIIO::ImageSpec& imageFormat = input->spec();
    pixels.resize(imageFormat.image_bytes(true));
    return input->read_image(0, 0, 0, imageFormat.nchannels, imageFormat.format, pixels.data());
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_reading library|standard|archival <scans> <threads> [passes]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return usage();
    }
    const std::string mode = argv[1];
    if (mode != "library" && mode != "standard" && mode != "archival") {
        return usage();
    }
    const veltrana::Result<veltrana::FrameSequence> sequence = veltrana::listFrameSequence(argv[2]);
    if (!sequence || sequence->frames.empty()) {
        std::fprintf(stderr, "bench_reading: no scans in %s\n", argv[2]);
        return 1;
    }
    const int threads = veltrana::jobThreads(std::atoi(argv[3]));
    const int passes = argc > 4 ? std::max(1, std::atoi(argv[4])) : 1;
    OIIO::attribute("threads", 1);
    OIIO::attribute("exr_threads", -1);
    veltrana::reuseLargeImageBuffers();

    std::atomic<bool> failed{false};
    tbb::enumerable_thread_specific<veltrana::ScanBuffers> buffers;
    tbb::enumerable_thread_specific<std::vector<unsigned char>> libraryPixels;
    const int count = static_cast<int>(sequence->frames.size());
    double firstPassPeak = 0;
    const auto began = Clock::now();
    tbb::task_arena arena(threads);
    for (int pass = 0; pass < passes; ++pass) {
        arena.execute([&] {
            tbb::parallel_for(0, count, [&](int i) {
                const auto& file = sequence->frames[static_cast<std::size_t>(i)];
                bool ok = true;
                if (mode == "library") {
                    ok = libraryDecode(file.string(), libraryPixels.local());
                } else {
                    ok = veltrana::readScanImages(file, {}, &buffers.local(), mode == "archival")
                             .ok();
                }
                if (!ok) {
                    failed = true;
                }
            });
        });
        if (pass == 0) {
            firstPassPeak = peakMegabytes();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (failed) {
        std::fprintf(stderr, "bench_reading: a scan could not be read\n");
        return 1;
    }
    std::printf("fps=%.2f frames=%d threads=%d peak_mb_first_pass=%.0f peak_mb=%.0f\n",
                count * passes / seconds, count * passes, threads, firstPassPeak, peakMegabytes());
    return 0;
}
