#pragma once
// What a scan file held, as its header says: for the log, the run report and
// the depth the samples are read at.

#include "reading/dpx_header.h"

#include <optional>
#include <string>

namespace veltrana {

struct ScanDescription {
    std::string format;         // "TIFF", "DPX", "OpenEXR", "PNG", "JPEG", "BMP", "WebP" or "image"
    int bitsPerSample = 8;      // as stored: 8, 10, 12 or 16; 16 or 32 for floating point
    bool floatingPoint = false; // OpenEXR: half or single-precision samples
    int channels = 1;           // as stored, an alpha channel included
    // The transfer the header states ("printing density", "linear", ...):
    // the samples are used as stored, whatever it says. Empty when the
    // format states none.
    std::string transfer;
    std::optional<DpxTimecode> timecode; // DPX: the time code of the scan
    std::optional<double> frameRate;     // DPX: the frame rate the header gives
};

// "10-bit DPX, RGB, printing density" and the like, for the log.
std::string describeScan(const ScanDescription& description);

} // namespace veltrana
