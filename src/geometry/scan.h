#pragma once
// Loading frame scans and turning them into working images.

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

namespace veltrana {

struct LoadedScan {
    cv::Mat image;     // 8-bit, one or three channels (blue, green, red); empty on failure
    std::string error; // why the file could not be used; empty on success
    bool ok() const { return error.empty(); }
};

// Loads a frame scan as the measuring code expects it: 8 bits per channel,
// one channel for grey scans and three for colour. Other layouts are
// converted (16-bit samples scaled to 8 bits, an alpha channel dropped);
// anything else is refused with a message.
LoadedScan loadScan(const std::filesystem::path& path);

// Brings a decoded image into the expected layout, or explains why not.
LoadedScan normaliseScan(cv::Mat image);

// Asks the C library's allocator to keep large freed buffers for reuse
// instead of handing them back to the system: every frame of a run allocates
// images of the same sizes, and at 2400 dpi fresh pages cost more than the
// decoding itself (measured: 6 against 18 frames per second). The peak memory
// stays that of one frame. For a program's main(); process-wide.
void reuseLargeImageBuffers();

// The corrected frame turned by 90 degrees anticlockwise so that the film
// runs down the image: its right-most column becomes the top row and its top
// row the left-most column. One row of the result is one sample position.
cv::Mat workingImageFromFrame(const cv::Mat& frame);

} // namespace veltrana
