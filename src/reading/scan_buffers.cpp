#include "reading/scan_buffers.h"

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <sys/mman.h>

namespace veltrana {

ScanBuffers::Region::~Region() {
    std::free(data);
}

std::uint8_t* ScanBuffers::Region::reserve(std::size_t wanted) {
    if (wanted <= size && data != nullptr) {
        return data;
    }
    std::free(data);
    data = nullptr;
    size = 0;
    // whole large pages, so that the system can back them with large pages
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    const std::size_t rounded =
        (std::max<std::size_t>(wanted, 1) + kLargePage - 1) / kLargePage * kLargePage;
    void* memory = std::aligned_alloc(kLargePage, rounded);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    ::madvise(memory, rounded, MADV_HUGEPAGE);
    data = static_cast<std::uint8_t*>(memory);
    size = rounded;
    return data;
}

std::span<std::uint8_t> ScanBuffers::fileBytes(std::size_t wanted) {
    return {file.reserve(wanted), std::max<std::size_t>(wanted, 1)};
}

namespace {

std::size_t imageBytes(int rows, int cols, int type) {
    return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * CV_ELEM_SIZE(type);
}

} // namespace

cv::Mat ScanBuffers::image(int rows, int cols, int type) {
    return cv::Mat(rows, cols, type, pixels.reserve(imageBytes(rows, cols, type)));
}

cv::Mat ScanBuffers::decoded(int rows, int cols, int type) {
    return cv::Mat(rows, cols, type, decodedPixels.reserve(imageBytes(rows, cols, type)));
}

void reuseLargeImageBuffers() {
    constexpr int kMegabyte = 1 << 20;
    mallopt(M_MMAP_THRESHOLD, 256 * kMegabyte);
    mallopt(M_TRIM_THRESHOLD, 512 * kMegabyte);
    mallopt(M_TOP_PAD, 64 * kMegabyte);
}

} // namespace veltrana
