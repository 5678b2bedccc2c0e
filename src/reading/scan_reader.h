#pragma once
// Reading frame scans: the one way the jobs open a scan file.
//
// A scan is read as it lies in its file (geometry/scan.h states what that
// means for the measures). readScan keeps its samples at the depth they were
// stored with and says what it read; loadScan brings them to the 8 bits per
// channel the standard measures read, with the same pixels as always.
//
// TIFF scans of 8 or 16 bits in one or three channels are decoded by libtiff
// straight into the image; every other format goes through OpenCV, with the
// same pixels either way. Anything that cannot be read is refused with a
// message naming the file and the cause.

#include "base/status.h"
#include "reading/scan_buffers.h"
#include "reading/scan_limits.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace veltrana {

// What a scan file held.
struct ScanDescription {
    std::string format;    // "TIFF", "PNG", "JPEG", "BMP", "WebP" or "image"
    int bitsPerSample = 8; // as stored: 8 or 16
    int channels = 1;      // as stored, an alpha channel included
};

// A scan with its samples at their stored depth: 8 or 16 bits, one channel
// (grey) or three (blue, green, red); an alpha channel is dropped.
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

// A scan as the standard measures read it: readScan with 16-bit samples
// scaled to 8 bits (65535 to 255, rounded).
LoadedScan loadScan(const std::filesystem::path& path, const ScanLimits& limits = {},
                    ScanBuffers* buffers = nullptr);

// The same from the bytes of a file already in memory.
LoadedScan decodeScan(std::span<const std::uint8_t> bytes, const std::string& name,
                      const ScanLimits& limits = {}, ScanBuffers* buffers = nullptr);

// Brings a decoded image into the layout the measures read (8 bits, one or
// three channels), or explains why not.
LoadedScan normaliseScan(cv::Mat image);

// Keeps the image and video libraries from printing their own warnings:
// every failure to read a scan or write a movie is reported once, by the job,
// with its cause. For a program's main(), before any image is read;
// process-wide.
void silenceImageLibraryLog();

} // namespace veltrana
