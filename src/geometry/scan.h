#pragma once
// Loading frame scans and turning them into working images.
//
// Orientation, for the whole program (other headers refer here):
// - A loaded scan shows the film running across the image: its columns
//   follow the film, its rows go across it. The trim (frame_correction.h)
//   works on it.
// - A working image is the trimmed scan turned a quarter anticlockwise
//   (workingImageFromFrame): the film runs down the image, rows along the
//   film and columns across it, and one row is one sample position. Scan
//   column c becomes working row (scan width - 1 - c); scan row r becomes
//   working column r. The soundtrack band lies near the left edge of an UP
//   working image and near the right edge of a DOWN one.

#include "base/status.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace veltrana {

// A loaded scan: 8-bit, one or three channels (blue, green, red), or the
// reason the file could not be used.
using LoadedScan = Result<cv::Mat>;

// What a scan may be, checked on its header before anything is decoded, so
// that a small crafted file cannot make the program decode gigabytes.
struct ScanLimits {
    // The largest scan, in millions of pixels: six times a 35 mm frame at
    // 4000 dpi (about 14 megapixels).
    double maxMegapixels = 100.0;
    // Fewer pixels than this on a side cannot hold a frame to measure.
    int minSide = 64;
};

inline constexpr double kDefaultMaxMegapixels = 100.0;

// Memory kept from one scan to the next on one thread: the file's bytes and
// the decoded image. A job reads thousands of scans of one size, and fresh
// memory costs a page fault per page on first touch, more than the decoding;
// these are allocated once, on large pages where the system gives them.
// An image loaded into them stays valid until the next load into them.
class ScanBuffers {
public:
    ScanBuffers() = default;
    ScanBuffers(const ScanBuffers&) = delete;
    ScanBuffers& operator=(const ScanBuffers&) = delete;

    // At least `size` bytes for the file.
    std::span<std::uint8_t> fileBytes(std::size_t size);
    // An image of this size and type over the kept memory.
    cv::Mat image(int rows, int cols, int type);

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
};

// Loads a frame scan as the measuring code expects it: 8 bits per channel,
// one channel for grey scans and three for colour. Other layouts are
// converted (16-bit samples scaled to 8 bits, an alpha channel dropped);
// anything else is refused with a message naming the file and the cause.
//
// TIFF scans of 8 or 16 bits in one or three channels are decoded by libtiff
// straight into the image; every other format goes through OpenCV, with the
// same pixels either way.
//
// With `buffers` the file and the image are kept in them (see ScanBuffers).
LoadedScan loadScan(const std::filesystem::path& path, const ScanLimits& limits = {},
                    ScanBuffers* buffers = nullptr);

// The same from the bytes of a file already in memory; `name` is used in
// messages only.
LoadedScan decodeScan(std::span<const std::uint8_t> bytes, const std::string& name,
                      const ScanLimits& limits = {}, ScanBuffers* buffers = nullptr);

// Brings a decoded image into the expected layout, or explains why not.
LoadedScan normaliseScan(cv::Mat image);

// Asks the C library's allocator to keep large freed buffers for reuse
// instead of handing them back to the system: every frame of a run allocates
// images of the same sizes, and at 2400 dpi fresh pages cost more than the
// decoding itself (measured: 6 against 18 frames per second). The peak memory
// stays that of the frames in flight. For a program's main(); process-wide.
void reuseLargeImageBuffers();

// Keeps the image and video libraries from printing their own warnings:
// every failure to read a scan or write a movie is reported once, by the job,
// with its cause. For a program's main(), before any image is read;
// process-wide.
void silenceImageLibraryLog();

// The corrected frame turned by 90 degrees anticlockwise so that the film
// runs down the image: its right-most column becomes the top row and its top
// row the left-most column. One row of the result is one sample position.
cv::Mat workingImageFromFrame(const cv::Mat& frame);

} // namespace veltrana
