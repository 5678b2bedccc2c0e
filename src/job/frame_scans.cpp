#include "job/frame_scans.h"

#include "job/stage_clock.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace veltrana {

namespace {

// The bytes an image allocated for itself; none for one over kept buffers.
std::int64_t ownBytes(const cv::Mat& image) {
    return image.u != nullptr ? static_cast<std::int64_t>(image.total() * image.elemSize()) : 0;
}

} // namespace

struct ScanInFlight::BufferSet {
    ScanBuffers buffers;
    MemoryLease kept; // what the buffers keep between scans, held against the budget
};

struct FrameScans::Pool {
    std::mutex mutex;
    std::condition_variable setReturned;
    std::vector<std::unique_ptr<ScanInFlight::BufferSet>> idle;
    int sets = 0;             // sets made and not dropped
    int mostSets = INT_MAX;   // as many as the budget holds scans of the largest size so far
    std::int64_t largest = 0; // the most any scan of the run held; 0 before the first
};

ScanInFlight::ScanInFlight(const FrameScans& scans, std::unique_ptr<BufferSet> set)
    : scans(&scans), set(std::move(set)) {}

ScanInFlight::ScanInFlight(ScanInFlight&& other) noexcept
    : scans(other.scans), set(std::move(other.set)), lease(std::move(other.lease)),
      scan(std::move(other.scan)), held(std::move(other.held)) {}

ScanInFlight::~ScanInFlight() {
    release();
}

void ScanInFlight::release() {
    scan = Status::failure("the scan was let go");
    held = Status::failure("the scan was let go");
    lease.release();
    if (set) {
        scans->giveBack(std::move(set));
    }
}

FrameScans::FrameScans(MemoryBudget* budget) : budget(budget), pool(std::make_unique<Pool>()) {
    if (budget != nullptr) {
        // the first scan's size is not known yet: it is read alone
        pool->mostSets = 1;
    }
}

FrameScans::~FrameScans() = default;

std::unique_ptr<ScanInFlight::BufferSet> FrameScans::takeSet() const {
    std::unique_lock lock(pool->mutex);
    pool->setReturned.wait(lock,
                           [this] { return !pool->idle.empty() || pool->sets < pool->mostSets; });
    if (!pool->idle.empty()) {
        std::unique_ptr<ScanInFlight::BufferSet> set = std::move(pool->idle.back());
        pool->idle.pop_back();
        return set;
    }
    ++pool->sets;
    auto set = std::make_unique<ScanInFlight::BufferSet>();
    if (budget != nullptr) {
        set->kept = budget->keep(0);
    }
    return set;
}

void FrameScans::giveBack(std::unique_ptr<ScanInFlight::BufferSet> set) const {
    {
        const std::lock_guard lock(pool->mutex);
        if (pool->sets > pool->mostSets) {
            // a larger scan came: fewer sets fit the budget now
            --pool->sets;
        } else {
            pool->idle.push_back(std::move(set));
        }
    }
    pool->setReturned.notify_all();
}

void FrameScans::noteFootprint(std::int64_t held) const {
    const std::lock_guard lock(pool->mutex);
    if (held <= pool->largest) {
        return;
    }
    pool->largest = held;
    if (budget != nullptr) {
        pool->mostSets =
            static_cast<int>(std::clamp<std::int64_t>(budget->limit() / held, 1, INT_MAX));
    }
}

std::int64_t FrameScans::admissionFor(std::int64_t kept) const {
    const std::lock_guard lock(pool->mutex);
    const std::int64_t expected = pool->largest > 0 ? pool->largest : budget->limit();
    return std::max<std::int64_t>(expected - kept, 0);
}

ScanInFlight FrameScans::load(const std::filesystem::path& file, const ScanLimits& limits,
                              double& seconds) const {
    return read(file, limits, false, seconds);
}

ScanInFlight FrameScans::read(const std::filesystem::path& file, const ScanLimits& limits,
                              bool keepStoredDepth, double& seconds) const {
    ScanInFlight scan(*this, takeSet());
    ScanInFlight::BufferSet& set = *scan.set;
    if (budget != nullptr) {
        scan.lease = budget->admit(admissionFor(set.kept.bytes()));
    }
    const StageClock::time_point began = StageClock::now();
    scan.held = readScanImages(file, limits, &set.buffers, keepStoredDepth);
    // every buffer the reading held at once: the kept ones, the image at its
    // stored depth and the 8-bit image made from it
    std::int64_t held = static_cast<std::int64_t>(set.buffers.keptBytes());
    if (scan.held) {
        const cv::Mat& stored = scan.held->stored;
        const cv::Mat& eightBit = scan.held->eightBit;
        held += ownBytes(stored) + static_cast<std::int64_t>(scan.held->decodedBytes);
        if (eightBit.data != stored.data) {
            held += ownBytes(eightBit);
        }
        scan.scan = eightBit;
    } else {
        scan.scan = scan.held.status();
    }
    seconds = secondsSince(began);
    // what the scan held from now on, and what its buffers keep after it
    set.kept.resize(static_cast<std::int64_t>(set.buffers.keptBytes()));
    scan.lease.resize(held - set.kept.bytes());
    noteFootprint(held);
    return scan;
}

} // namespace veltrana
