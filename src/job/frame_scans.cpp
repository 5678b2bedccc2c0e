#include "job/frame_scans.h"

#include "job/stage_clock.h"

#include <tbb/enumerable_thread_specific.h>

namespace veltrana {

struct FrameScans::ThreadBuffers {
    tbb::enumerable_thread_specific<ScanBuffers> each;
};

FrameScans::FrameScans() : buffers(std::make_unique<ThreadBuffers>()) {}

FrameScans::~FrameScans() = default;

LoadedScan FrameScans::load(const std::filesystem::path& file, const ScanLimits& limits,
                            double& seconds) const {
    const StageClock::time_point began = StageClock::now();
    LoadedScan scan = loadScan(file, limits, &buffers->each.local());
    seconds = secondsSince(began);
    return scan;
}

Result<ScanImages> FrameScans::read(const std::filesystem::path& file, const ScanLimits& limits,
                                    bool keepStoredDepth, double& seconds) const {
    const StageClock::time_point began = StageClock::now();
    Result<ScanImages> scan = readScanImages(file, limits, &buffers->each.local(), keepStoredDepth);
    seconds = secondsSince(began);
    return scan;
}

} // namespace veltrana
