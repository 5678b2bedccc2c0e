#pragma once
// The scans of a run, read on any of its threads within the process's memory
// budget (job/memory_budget.h).
//
// A scan is read into a set of buffers kept from one scan to the next
// (ScanBuffers): a run reads thousands of scans of one size, and fresh memory
// costs more than the decoding. The run keeps as many sets as it reads scans
// at once, and no more than its budget holds scans of the size it reads.
//
// What a scan holds while it is read and measured is every buffer of its
// reading, whatever their type: the file's bytes, the image at its stored
// depth and the 8-bit image the measures read. A scan is admitted for what
// the largest scan of the run so far held; the run's first scan, whose size
// nothing tells yet, is admitted for the whole budget, so it is read alone.
// The buffers a set keeps between scans stay held against the budget.

#include "job/memory_budget.h"
#include "reading/scan_reader.h"

#include <filesystem>
#include <memory>

namespace veltrana {

class FrameScans;

// A scan being read and measured; its buffers and its share of the budget go
// back when it is let go.
class ScanInFlight {
public:
    ScanInFlight(ScanInFlight&& other) noexcept;
    ScanInFlight& operator=(ScanInFlight&&) = delete;
    ScanInFlight(const ScanInFlight&) = delete;
    ScanInFlight& operator=(const ScanInFlight&) = delete;
    ~ScanInFlight();

    // The scan as the standard measures read it (loadScan), or why it
    // could not be read.
    const LoadedScan& loaded() const { return scan; }
    // The same with what the file held and, when it was asked for, the
    // samples at their stored depth (readScanImages).
    const Result<ScanImages>& images() const { return held; }
    // Lets the scan go; loaded() is then empty.
    void release();

private:
    friend class FrameScans;
    struct BufferSet;
    ScanInFlight(const FrameScans& scans, std::unique_ptr<BufferSet> set);

    const FrameScans* scans;
    std::unique_ptr<BufferSet> set;
    MemoryLease lease;
    LoadedScan scan = Status::failure("not read");
    Result<ScanImages> held = Status::failure("not read");
};

class FrameScans {
public:
    // `budget` may be null: the scans are then read without one.
    explicit FrameScans(MemoryBudget* budget);
    ~FrameScans();
    FrameScans(const FrameScans&) = delete;
    FrameScans& operator=(const FrameScans&) = delete;

    // Reads a scan once the budget admits it; `seconds` is set to the time
    // the reading took, without the wait.
    ScanInFlight load(const std::filesystem::path& file, const ScanLimits& limits,
                      double& seconds) const;
    // The same, keeping the samples at their stored depth when asked.
    ScanInFlight read(const std::filesystem::path& file, const ScanLimits& limits,
                      bool keepStoredDepth, double& seconds) const;

private:
    friend class ScanInFlight;
    struct Pool;
    std::unique_ptr<ScanInFlight::BufferSet> takeSet() const;
    void giveBack(std::unique_ptr<ScanInFlight::BufferSet> set) const;
    void noteFootprint(std::int64_t held) const;
    std::int64_t admissionFor(std::int64_t kept) const;

    MemoryBudget* const budget;
    std::unique_ptr<Pool> pool;
};

} // namespace veltrana
