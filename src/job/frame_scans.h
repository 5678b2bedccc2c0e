#pragma once
// The scans of a run, read on any of its threads: each thread reads into
// memory of its own that it keeps from one scan to the next (ScanBuffers).

#include "reading/scan_reader.h"

#include <filesystem>
#include <memory>

namespace veltrana {

class FrameScans {
public:
    FrameScans();
    ~FrameScans();
    FrameScans(const FrameScans&) = delete;
    FrameScans& operator=(const FrameScans&) = delete;

    // A scan as the standard measures read it (loadScan), valid until the
    // calling thread loads its next; `seconds` is set to the time it took.
    LoadedScan load(const std::filesystem::path& file, const ScanLimits& limits,
                    double& seconds) const;

    // The same with what the file held and, when asked for, the samples at
    // their stored depth (readScanImages).
    Result<ScanImages> read(const std::filesystem::path& file, const ScanLimits& limits,
                            bool keepStoredDepth, double& seconds) const;

private:
    struct ThreadBuffers;
    std::unique_ptr<ThreadBuffers> buffers;
};

} // namespace veltrana
