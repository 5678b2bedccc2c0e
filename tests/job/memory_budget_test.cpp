#include "job/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace veltrana {
namespace {

// A scan asking the budget on a thread of its own, holding what it got until
// the test lets it go.
class Asking {
public:
    Asking(MemoryBudget& budget, std::int64_t bytes)
        : thread([this, &budget, bytes] {
              lease = budget.admit(bytes);
              admitted = true;
          }) {}
    ~Asking() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    Asking(const Asking&) = delete;
    Asking& operator=(const Asking&) = delete;

    // Whether it was let in; a correct budget never lets it in early, so a
    // short wait cannot make this fail, only miss a fault.
    bool admittedSoon() {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return admitted.load();
    }
    void waitAdmitted() {
        thread.join();
        ASSERT_TRUE(admitted.load());
    }
    MemoryLease lease;

private:
    std::atomic<bool> admitted{false};
    std::thread thread;
};

TEST(MemoryBudget, AdmitsWhileTheBudgetAllowsAndHoldsUntilLetGo) {
    MemoryBudget budget(1000);
    MemoryLease a = budget.admit(400);
    MemoryLease b = budget.admit(600);
    EXPECT_EQ(budget.held(), 1000);
    Asking c(budget, 1);
    EXPECT_FALSE(c.admittedSoon());
    a.release();
    c.waitAdmitted();
    EXPECT_EQ(budget.held(), 601);
    b.release();
    c.lease.release();
    EXPECT_EQ(budget.held(), 0);
}

TEST(MemoryBudget, AlwaysAdmitsOneScanHoweverLarge) {
    MemoryBudget budget(100);
    MemoryLease kept = budget.keep(100); // buffers kept between scans are no scan
    MemoryLease large = budget.admit(5000);
    EXPECT_EQ(budget.held(), 5100);
    Asking next(budget, 1);
    EXPECT_FALSE(next.admittedSoon());
    large.release();
    next.waitAdmitted();
}

TEST(MemoryBudget, LetsNoScanPassOneThatWaits) {
    MemoryBudget budget(1000);
    MemoryLease first = budget.admit(800);
    Asking large(budget, 500);
    ASSERT_FALSE(large.admittedSoon());
    // it would fit beside the first, but the larger one asked before it
    Asking small(budget, 100);
    EXPECT_FALSE(small.admittedSoon());
    first.release();
    large.waitAdmitted();
    small.waitAdmitted();
    EXPECT_EQ(budget.held(), 600);
}

TEST(MemoryBudget, ALeaseResizedSmallerLetsTheNextIn) {
    MemoryBudget budget(1000);
    MemoryLease scan = budget.admit(900);
    Asking next(budget, 500);
    ASSERT_FALSE(next.admittedSoon());
    // the scan turned out smaller than it was admitted for
    scan.resize(300);
    next.waitAdmitted();
    EXPECT_EQ(budget.held(), 800);
}

TEST(MemoryBudget, ALeaseMovedIsGivenBackOnce) {
    MemoryBudget budget(1000);
    MemoryLease moved;
    {
        MemoryLease lease = budget.admit(700);
        moved = std::move(lease);
    }
    EXPECT_EQ(budget.held(), 700);
    moved = MemoryLease();
    EXPECT_EQ(budget.held(), 0);
}

struct MeminfoRow {
    const char* name;
    std::string text;
    std::optional<std::int64_t> bytes;
};

class AvailableMemory : public testing::TestWithParam<MeminfoRow> {};

TEST_P(AvailableMemory, IsReadFromItsLine) {
    EXPECT_EQ(availableMemoryOf(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Meminfo, AvailableMemory,
    testing::Values(MeminfoRow{"Usual",
                               "MemTotal:       24576000 kB\nMemFree:         1000000 kB\n"
                               "MemAvailable:   20000000 kB\nBuffers:          100 kB\n",
                               std::int64_t{20000000} * 1024},
                    MeminfoRow{"LastLine", "MemTotal: 10 kB\nMemAvailable: 4 kB", 4096},
                    MeminfoRow{"Missing", "MemTotal: 10 kB\nMemFree: 4 kB\n", std::nullopt},
                    MeminfoRow{"OnlyInsideAnotherKey", "XMemAvailable: 4 kB\n", std::nullopt},
                    MeminfoRow{"NoUnit", "MemAvailable: 4\n", std::nullopt},
                    MeminfoRow{"NotANumber", "MemAvailable: four kB\n", std::nullopt},
                    MeminfoRow{"Negative", "MemAvailable: -4 kB\n", std::nullopt},
                    MeminfoRow{"Overflowing", "MemAvailable: 99999999999999999999 kB\n",
                               std::nullopt},
                    MeminfoRow{"Empty", "", std::nullopt}),
    [](const testing::TestParamInfo<MeminfoRow>& info) { return info.param.name; });

struct GroupLimitRow {
    const char* name;
    std::string text;
    std::optional<std::int64_t> bytes;
};

class GroupLimit : public testing::TestWithParam<GroupLimitRow> {};

TEST_P(GroupLimit, IsReadOrNone) {
    EXPECT_EQ(groupLimitOf(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, GroupLimit,
    testing::Values(GroupLimitRow{"Bytes", "2147483648\n", std::int64_t{2147483648}},
                    GroupLimitRow{"NoLimitVersion2", "max\n", std::nullopt},
                    GroupLimitRow{"NoLimitVersion1", "9223372036854771712\n", std::nullopt},
                    GroupLimitRow{"Empty", "", std::nullopt},
                    GroupLimitRow{"Negative", "-1\n", std::nullopt},
                    GroupLimitRow{"TrailingWords", "1024 bytes\n", std::nullopt}),
    [](const testing::TestParamInfo<GroupLimitRow>& info) { return info.param.name; });

TEST(MemoryBudget, TheDefaultIsHalfOfWhatTheSystemHasAtMost) {
    const std::int64_t budget = defaultMemoryBudgetBytes();
    EXPECT_GT(budget, 0);
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    EXPECT_LE(budget, static_cast<std::int64_t>(pages) * pageSize / 2);
}

} // namespace
} // namespace veltrana
