#include "job/frame_scans.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <chrono>
#include <thread>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// Kept buffers are whole large pages of 2 MiB.
constexpr std::int64_t kLargePage = std::int64_t{2} << 20;

struct FootprintRow {
    const char* name;
    const char* file;
    int type;
    std::int64_t inFlight; // held while the scan is read and measured
    std::int64_t kept;     // held by the run's kept buffers afterwards
};

class ScanFootprint : public testing::TestWithParam<FootprintRow> {};

// A 100 x 80 scan: the file's bytes stay in a kept buffer; libtiff decodes
// an 8-bit scan into a kept buffer too, while a 16-bit one and the 8-bit
// image made from it, and any image the image library decodes, are memory
// of their own, held only while the scan is in flight.
TEST_P(ScanFootprint, CountsEveryBufferOfTheScan) {
    const FootprintRow& row = GetParam();
    test::TempDir dir;
    const fs::path file = dir / row.file;
    ASSERT_TRUE(cv::imwrite(file.string(), cv::Mat(80, 100, row.type, cv::Scalar::all(1000))));
    MemoryBudget budget(std::int64_t{1} << 30);
    const FrameScans scans(&budget);
    double seconds = -1;
    {
        const ScanInFlight scan = scans.load(file, {}, seconds);
        ASSERT_TRUE(scan.loaded().ok()) << scan.loaded().message();
        EXPECT_EQ(scan.loaded()->type(), CV_MAKETYPE(CV_8U, CV_MAT_CN(row.type)));
        EXPECT_EQ(budget.held(), row.inFlight);
    }
    EXPECT_GE(seconds, 0.0);
    EXPECT_EQ(budget.held(), row.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, ScanFootprint,
    testing::Values(
        FootprintRow{"Tiff16BitColour", "s.tif", CV_16UC3, kLargePage + 48000 + 24000, kLargePage},
        FootprintRow{"Tiff8BitGrey", "s.tif", CV_8UC1, 2 * kLargePage, 2 * kLargePage},
        FootprintRow{"Png8BitColour", "s.png", CV_8UC3, kLargePage + 24000, kLargePage}),
    [](const testing::TestParamInfo<FootprintRow>& info) { return info.param.name; });

// A budget smaller than one scan: the scans of a run are read one at a time,
// each on whichever thread asks, and a scan that cannot be read holds nothing.
TEST(FrameScans, ReadOneAtATimeWhenTheBudgetHoldsOne) {
    test::TempDir dir;
    const fs::path file = dir / "s.tif";
    ASSERT_TRUE(cv::imwrite(file.string(), cv::Mat(80, 100, CV_16UC1, cv::Scalar(7))));
    MemoryBudget budget(1);
    const FrameScans scans(&budget);
    double seconds = 0;
    ScanInFlight first = scans.load(file, {}, seconds);
    ASSERT_TRUE(first.loaded().ok());
    std::atomic<bool> secondRead{false};
    std::thread other([&] {
        const ScanInFlight second = scans.load(file, {}, seconds);
        secondRead = second.loaded().ok();
    });
    // a correct budget never lets the second in early: the wait cannot fail
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(secondRead.load());
    first.release();
    EXPECT_FALSE(first.loaded().ok());
    other.join();
    EXPECT_TRUE(secondRead.load());

    const ScanInFlight missing = scans.load(dir / "none.tif", {}, seconds);
    EXPECT_FALSE(missing.loaded().ok());
    EXPECT_EQ(budget.held(), kLargePage);
}

TEST(FrameScans, WithoutABudgetReadAsManyAsAsked) {
    test::TempDir dir;
    const fs::path file = dir / "s.tif";
    ASSERT_TRUE(cv::imwrite(file.string(), cv::Mat(80, 100, CV_8UC1, cv::Scalar(7))));
    const FrameScans scans(nullptr);
    double seconds = 0;
    const ScanInFlight a = scans.load(file, {}, seconds);
    const ScanInFlight b = scans.load(file, {}, seconds);
    ASSERT_TRUE(a.loaded().ok());
    ASSERT_TRUE(b.loaded().ok());
    // each in its own buffers
    EXPECT_NE(a.loaded()->data, b.loaded()->data);
}

} // namespace
} // namespace veltrana
