// Rewrites rendered 8-bit scans as 16-bit deflate TIFFs, the kind of scan a
// few hundred kilobytes of which decode to more than half a gigabyte, for
// bench/memory.
//
//   bench_deep_scans <rendered scans> <folder to write> [enlargement]
//
// Each .tif of the first folder is written under its name into the second,
// enlarged by the factor given (default 1: synth renders at most 9600 dpi,
// and a 99-megapixel 35 mm scan is 10700), its samples scaled to 16 bits
// (255 to 65535).

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

// libtiff's number for deflate, as the image library's TIFF writer takes it.
constexpr int kTiffDeflate = 8;

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr,
                     "usage: bench_deep_scans <rendered scans> <folder to write> [enlargement]\n");
        return 2;
    }
    const double enlargement = argc == 4 ? std::atof(argv[3]) : 1.0;
    if (!(enlargement >= 1.0 && enlargement <= 4.0)) {
        std::fprintf(stderr, "the enlargement must be 1 to 4\n");
        return 2;
    }
    const fs::path from = argv[1];
    const fs::path to = argv[2];
    fs::create_directories(to);
    int written = 0;
    cv::Size size;
    int channels = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
        if (entry.path().extension() != ".tif") {
            continue;
        }
        const cv::Mat scan = cv::imread(entry.path().string(), cv::IMREAD_UNCHANGED);
        if (scan.empty()) {
            std::fprintf(stderr, "cannot read %s\n", entry.path().c_str());
            return 1;
        }
        cv::Mat enlarged = scan;
        if (enlargement > 1.0) {
            cv::resize(scan, enlarged, cv::Size(), enlargement, enlargement, cv::INTER_LINEAR);
        }
        cv::Mat deep;
        enlarged.convertTo(deep, CV_16U, 257.0);
        const std::vector<int> deflate{cv::IMWRITE_TIFF_COMPRESSION, kTiffDeflate};
        if (!cv::imwrite((to / entry.path().filename()).string(), deep, deflate)) {
            std::fprintf(stderr, "cannot write %s\n", (to / entry.path().filename()).c_str());
            return 1;
        }
        ++written;
        size = deep.size();
        channels = scan.channels();
    }
    std::printf("%d scans of %d x %d pixels, %d channels, 16-bit deflate\n", written, size.width,
                size.height, channels);
    return written > 0 ? 0 : 1;
}
