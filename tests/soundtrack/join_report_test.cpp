#include "soundtrack/join_report.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrana {
namespace {

TEST(JoinReport, QuotesOnlyTheFieldsThatNeedIt) {
    EXPECT_EQ(csvField("frame_0001.tif"), "frame_0001.tif");
    EXPECT_EQ(csvField("a,b.tif"), "\"a,b.tif\"");
    EXPECT_EQ(csvField("say \"x\".tif"), "\"say \"\"x\"\".tif\"");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
}

TEST(JoinReport, HoldsALinePerJoinWithTheMethodNamed) {
    FrameSequence sequence;
    sequence.frames = {"s/f1.tif", "s/f,2.tif", "s/f3.tif"};
    sequence.frames.push_back("s/f4.tif");
    std::vector<JoinRecord> joins(3);
    joins[0].frameNumber = 2;
    joins[0].standardPosition = 905;
    joins[0].precise.found = true;
    joins[0].precise.position = 905.0071;
    joins[0].precise.score = 0.98;
    joins[0].precise.precision = 0.0123;
    joins[0].method = JoinMethod::Precise;
    joins[0].position = 905.0071;
    joins[1].frameNumber = 3;
    joins[1].standardPosition = 907;
    joins[1].method = JoinMethod::StandardNotFound;
    joins[1].position = 907;
    joins[2].frameNumber = 4;
    joins[2].standardPosition = 906;
    joins[2].precise.found = true;
    joins[2].precise.loose = true;
    joins[2].precise.position = 906.4;
    joins[2].precise.score = 0.61;
    joins[2].precise.precision = 0.4;
    joins[2].method = JoinMethod::PreciseLoose;
    joins[2].position = 906.4;
    const std::string text = joinReportText(
        joins, sequence, [](const JoinRecord& j) { return joinMethodName(j.method); });
    // a fallback to the standard join has no precision
    EXPECT_EQ(text, "frame,file,standard_join,precise_join,score,method,join_used,precision_rows\n"
                    "2,\"f,2.tif\",905,905.007,0.980,precise,905.007,0.012\n"
                    "3,f3.tif,907,,0.000," +
                        std::string(joinMethodName(JoinMethod::StandardNotFound)) +
                        ",907.000,\n"
                        "4,f4.tif,906,906.400,0.610,precise (loose),906.400,0.400\n");
}

TEST(JoinReport, TheBroadcastDescriptionSaysWhatTheSoundIs) {
    SoundOrigin origin;
    origin.type = SoundtrackType::VariableArea16;
    origin.resolution = {2400, 2400};
    origin.startFrame = 3;
    origin.stopFrame = 12;
    origin.filmSpeed = 24;
    origin.joins = "precise";
    origin.levels = "archival";
    EXPECT_EQ(broadcastDescription(origin),
              "Optical soundtrack, 16 mm variable area, scanned at 2400 x 2400 dpi, frames 3 to "
              "12, 24 fps; precise joins, archival levels");
}

} // namespace
} // namespace veltrana
