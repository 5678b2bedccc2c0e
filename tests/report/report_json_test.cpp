#include "report/report_json.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

FramePreview frame(int number, std::optional<double> join) {
    FramePreview p;
    p.frame = number;
    p.file = "frame_000" + std::to_string(number) + ".tif";
    p.scanSize = cv::Size(400, 200);
    p.bounds = FrameBounds{20, 379};
    p.band = ScanRows{10, 49};
    p.join = join;
    p.samples.assign(300, 100.0f);
    return p;
}

RunRecord threeFrames(const fs::path& wav) {
    RunCollector collector(RunKind::Soundtrack, {{"Film", "35va"}, {"Film speed", "24 \"fps\""}}, 1,
                           3);
    FramePreview first = frame(1, std::nullopt);
    first.resolution = ScanResolution{1200, 1200};
    collector.addFrame(first);
    FramePreview second = frame(2, 906.95);
    second.standardJoin = 907;
    second.preciseJoin = 906.95;
    second.score = 0.93;
    second.correlation = 0.987;
    collector.addFrame(second);
    FramePreview third = frame(3, 1883.0);
    third.standardJoin = 1883;
    third.correlation = -0.83;
    third.flags = {{JoinFlagKind::Weak, "correlation -0.83 at the join"},
                   {JoinFlagKind::OffPitch, "-24.0 rows from the frame pitch"}};
    collector.addFrame(third);
    collector.addWarning({"band", "The band read does not look like a soundtrack"});
    RunEnd end;
    end.succeeded = true;
    end.ending = "The sound was written to reel.wav.";
    end.outputs = {wav};
    collector.finish(std::move(end));
    return collector.record();
}

TEST(ReportJson, ListsEveryFrameWithItsJoinAndFlags) {
    TempDir dir;
    { std::ofstream(dir / "reel.wav") << "abc"; }
    const nlohmann::json j = nlohmann::json::parse(reportJson(threeFrames(dir / "reel.wav")));
    EXPECT_EQ(j["job"], "soundtrack");
    EXPECT_EQ(j["ended"], "finished");
    EXPECT_EQ(j["message"], "The sound was written to reel.wav.");
    EXPECT_EQ(j["resolution"]["x"], 1200);
    EXPECT_EQ(j["settings"]["film"], "35va");
    EXPECT_EQ(j["settings"]["film_speed"], "24 \"fps\"");
    ASSERT_EQ(j["frames"].size(), 3u);

    const nlohmann::json& first = j["frames"][0];
    EXPECT_EQ(first["frame"], 1);
    EXPECT_EQ(first["file"], "frame_0001.tif");
    EXPECT_TRUE(first["join"].is_null());
    EXPECT_TRUE(first["flags"].empty());

    const nlohmann::json& second = j["frames"][1];
    EXPECT_EQ(second["join"]["used"], 906.95);
    EXPECT_EQ(second["join"]["standard"], 907);
    EXPECT_EQ(second["join"]["precise"], 906.95);
    EXPECT_EQ(second["score"], 0.93);
    EXPECT_EQ(second["band"]["first"], 10);
    EXPECT_EQ(second["trim"]["right"], 379);
    EXPECT_TRUE(second["flags"].empty());

    const nlohmann::json& third = j["frames"][2];
    EXPECT_EQ(third["join"]["used"], 1883);
    EXPECT_TRUE(third["join"]["precise"].is_null());
    EXPECT_TRUE(third["score"].is_null());
    ASSERT_EQ(third["flags"].size(), 2u);
    EXPECT_EQ(third["flags"][0]["flag"], "weak");
    EXPECT_EQ(third["flags"][1]["flag"], "off-pitch");
    EXPECT_EQ(third["flags"][1]["reason"], "-24.0 rows from the frame pitch");

    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_EQ(j["warnings"][0]["warning"], "band");
    ASSERT_EQ(j["outputs"].size(), 1u);
    EXPECT_EQ(j["outputs"][0]["path"], (dir / "reel.wav").string());
    EXPECT_EQ(j["outputs"][0]["md5"], "900150983cd24fb0d6963f7d28e17f72");
}

TEST(FileMd5, SaysWhyAFileCannotBeRead) {
    TempDir dir;
    const Result<std::string> missing = fileMd5(dir / "none.wav");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.message().find("none.wav"), std::string::npos) << missing.message();
    { std::ofstream(dir / "empty"); }
    const Result<std::string> empty = fileMd5(dir / "empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, "d41d8cd98f00b204e9800998ecf8427e");
}

} // namespace
} // namespace veltrana
