#pragma once
// Memory kept from one scan to the next on one thread.

#include <opencv2/core.hpp>

#include <cstdint>
#include <span>

namespace veltrana {

// The file's bytes and the decoded images. A job reads thousands of scans of
// one size, and fresh memory costs a page fault per page on first touch, more
// than the decoding; these are allocated once, on large pages where the
// system gives them. An image loaded into them stays valid until the next
// load into them.
class ScanBuffers {
public:
    ScanBuffers() = default;
    ScanBuffers(const ScanBuffers&) = delete;
    ScanBuffers& operator=(const ScanBuffers&) = delete;

    // At least `size` bytes for the file.
    std::span<std::uint8_t> fileBytes(std::size_t size);
    // An image of this size and type over the kept memory.
    cv::Mat image(int rows, int cols, int type);
    // A second one, for what a decoder delivers before it becomes `image`
    // (samples deeper than 8 bits).
    cv::Mat decoded(int rows, int cols, int type);
    // The bytes kept, for a memory budget.
    std::size_t keptBytes() const { return file.size + pixels.size + decodedPixels.size; }

private:
    struct Region {
        Region() = default;
        Region(const Region&) = delete;
        Region& operator=(const Region&) = delete;
        ~Region();
        std::uint8_t* reserve(std::size_t size);
        std::uint8_t* data = nullptr;
        std::size_t size = 0;
    };
    Region file;
    Region pixels;
    Region decodedPixels;
};

// Asks the C library's allocator to keep large freed buffers for reuse
// instead of handing them back to the system: every frame of a run allocates
// images of the same sizes, and at 2400 dpi fresh pages cost more than the
// decoding itself (measured: 6 against 18 frames per second). The peak memory
// stays that of the frames in flight. For a program's main(); process-wide.
void reuseLargeImageBuffers();

} // namespace veltrana
