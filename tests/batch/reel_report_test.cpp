#include "batch/reel_report.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrana::batch {
namespace {

// A report.json as an archival run with a lost frame writes it, cut down to
// what the counts read.
constexpr const char* kReport = R"({
  "settings": {"joins": "precise"},
  "frames": [
    {"frame": 1, "join": null, "flags": []},
    {"frame": 2, "join": {"used": 400.5, "standard": 400, "precise": 400.5},
     "flags": [{"flag": "weak", "reason": "correlation 0.21 at the join"}]},
    {"frame": 4, "join": {"used": 401, "standard": 401, "precise": null},
     "flags": [{"flag": "off-pitch", "reason": "x"}, {"flag": "weak", "reason": "y"}]},
    {"frame": 5, "join": {"used": 399, "standard": 399, "precise": null}, "flags": []}
  ],
  "lost_frames": [{"frame": 3, "file": "frame_0003.tif", "cause": "truncated", "joins_not_searched": [3, 4]}]
})";

TEST(RunCounts, CountFramesLostWeakAndFallbackJoins) {
    const test::TempDir dir;
    std::ofstream(dir / "report.json") << kReport;
    const RunCounts counts = runCounts(dir / "report.json");
    EXPECT_EQ(counts.frames, 4);
    EXPECT_EQ(counts.framesLost, 1);
    EXPECT_EQ(counts.weakJoins, 2);
    EXPECT_EQ(counts.fallbackJoins, 2);
}

TEST(RunCounts, AreZeroWithoutAReport) {
    const test::TempDir dir;
    std::ofstream(dir / "broken.json") << "{\"frames\": [";
    for (const char* name : {"missing.json", "broken.json"}) {
        const RunCounts counts = runCounts(dir / name);
        EXPECT_EQ(counts.frames, 0) << name;
        EXPECT_EQ(counts.framesLost, 0) << name;
    }
}

} // namespace
} // namespace veltrana::batch
