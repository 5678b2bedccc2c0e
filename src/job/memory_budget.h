#pragma once
// The memory the decoded scans of a process may take at once.
//
// A scan compressed to a few hundred kilobytes can decode to more than half a
// gigabyte (99 megapixels of 16-bit RGB), and every thread reads one: without
// a bound, the threads asked for decide the memory a run takes. So each scan
// is admitted before it is decoded, for what it will hold, and holds its
// share until it is let go. One budget serves every run of a process: the
// front end owns it and points each run at it (ScanRunSettings).
//
// Rules:
// - Scans are admitted in the order they ask, while the budget allows; a
//   scan that waits keeps the ones behind it waiting, so none is passed over.
// - When no scan is admitted at all, the next one is, however large: a run
//   always goes on, one scan at a time if need be.
// - Memory a run keeps between its scans (buffers reused from one scan to
//   the next) is held too, but is no admitted scan: it counts against the
//   budget and never stops the one scan that is always let in.
// Sizes are in bytes.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace veltrana {

class MemoryBudget;

// A share of a budget, given back when the lease ends.
class MemoryLease {
public:
    MemoryLease() = default;
    ~MemoryLease();
    MemoryLease(MemoryLease&& other) noexcept;
    MemoryLease& operator=(MemoryLease&& other) noexcept;
    MemoryLease(const MemoryLease&) = delete;
    MemoryLease& operator=(const MemoryLease&) = delete;

    std::int64_t bytes() const { return held; }
    // Holds `bytes` from now on, without waiting: for memory that is already
    // taken (a scan turned out larger or smaller than it was admitted for).
    void resize(std::int64_t bytes);
    // Gives the share back now.
    void release();

private:
    friend class MemoryBudget;
    MemoryLease(MemoryBudget* budget, std::int64_t bytes, bool admitted)
        : budget(budget), held(bytes), admitted(admitted) {}

    MemoryBudget* budget = nullptr;
    std::int64_t held = 0;
    bool admitted = false; // an admitted scan, rather than kept memory
};

class MemoryBudget {
public:
    explicit MemoryBudget(std::int64_t limitBytes);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    std::int64_t limit() const { return limitBytes; }
    // Bytes held now, by admitted scans and kept memory.
    std::int64_t held() const;

    // Waits for the turn of a scan that will hold `bytes`, then holds them.
    MemoryLease admit(std::int64_t bytes);
    // Holds memory a run keeps between its scans, without waiting.
    MemoryLease keep(std::int64_t bytes);

private:
    friend class MemoryLease;
    void change(std::int64_t delta);
    void end(std::int64_t bytes, bool admitted);

    const std::int64_t limitBytes;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::int64_t heldBytes = 0;
    int scansAdmitted = 0;
    std::uint64_t nextTicket = 0; // the turn given to the next scan that asks
    std::uint64_t serving = 0;    // the turn of the scan admitted next
};

// Half the memory this process may use: the smaller of its control group's
// limit (when it has one) and the memory the system has available.
std::int64_t defaultMemoryBudgetBytes();

// The pieces of that, from the text of the system's files.
// "MemAvailable:" of /proc/meminfo, in bytes.
std::optional<std::int64_t> availableMemoryOf(std::string_view meminfo);
// A control group's memory.max (version 2) or memory.limit_in_bytes
// (version 1); none for "max" or a value no machine has.
std::optional<std::int64_t> groupLimitOf(std::string_view limitFile);

} // namespace veltrana
