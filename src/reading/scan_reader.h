#pragma once
// Reading frame scans: the one way the jobs open a scan file.
//
// A scan is read as it lies in its file (geometry/scan.h states what that
// means for the measures). readScan keeps its samples at the depth they were
// stored with and says what it read; loadScan brings them to the 8 bits per
// channel the standard measures read, with the same pixels as always.
//
// TIFF scans of 8 or 16 bits in one or three channels are decoded by libtiff
// straight into the image; DPX (8, 10, 12 and 16 bits) and OpenEXR by
// OpenImageIO, a DPX header checked by our own code first; every other
// format goes through OpenCV. Anything that cannot be read is refused with a
// message naming the file and the cause.

#include "base/status.h"
#include "reading/scan_buffers.h"
#include "reading/scan_description.h"
#include "reading/scan_limits.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace veltrana {

// A scan with its samples at their stored depth, one channel (grey) or three
// (blue, green, red), an alpha channel dropped: 8 bits; 16 bits holding the
// stored code values (0 .. 2^bits - 1 for the description's bits, so 0 ..
// 1023 for 10-bit DPX); or floating point (OpenEXR: 1.0 the full scale).
struct ScanReading {
    cv::Mat image;
    ScanDescription description;
};

// Reads a scan file. With `buffers` the file's bytes and an 8-bit image are
// kept in them (see ScanBuffers).
Result<ScanReading> readScan(const std::filesystem::path& path, const ScanLimits& limits = {},
                             ScanBuffers* buffers = nullptr);

// The same from the bytes of a file already in memory; `name` is used in
// messages only.
Result<ScanReading> decodeScanReading(std::span<const std::uint8_t> bytes, const std::string& name,
                                      const ScanLimits& limits = {},
                                      ScanBuffers* buffers = nullptr);

// A loaded scan: 8-bit, one or three channels (blue, green, red), or the
// reason the file could not be used.
using LoadedScan = Result<cv::Mat>;

// A scan as the standard measures read it: readScan with deeper samples
// scaled to 8 bits, rounded (eightBitValue, reading/sample_depth.h: 16-bit
// v becomes round(v / 257), 10-bit v round(v x 255 / 1023)).
LoadedScan loadScan(const std::filesystem::path& path, const ScanLimits& limits = {},
                    ScanBuffers* buffers = nullptr);

// The same from the bytes of a file already in memory.
LoadedScan decodeScan(std::span<const std::uint8_t> bytes, const std::string& name,
                      const ScanLimits& limits = {}, ScanBuffers* buffers = nullptr);

// A scan read once for both kinds of measure: the 8-bit image the standard
// measures read and, when asked for and the scan holds more than 8 bits,
// its samples at their stored depth (as readScan gives them); `stored` is
// empty otherwise. With `buffers` both are kept in them.
struct ScanImages {
    cv::Mat eightBit;
    cv::Mat stored;
    ScanDescription description;
    // What the decoder delivered in memory of its own and the reading let go
    // once the 8-bit image was made: held while the scan was read.
    std::size_t decodedBytes = 0;
};
Result<ScanImages> readScanImages(const std::filesystem::path& path, const ScanLimits& limits,
                                  ScanBuffers* buffers, bool keepStoredDepth);

// Brings a decoded image into the layout the measures read (8 bits, one or
// three channels), or explains why not.
LoadedScan normaliseScan(cv::Mat image);

// Keeps the image and video libraries from printing their own warnings:
// every failure to read a scan or write a movie is reported once, by the job,
// with its cause. For a program's main(), before any image is read;
// process-wide.
void silenceImageLibraryLog();

} // namespace veltrana
