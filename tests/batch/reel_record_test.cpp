#include "batch/reel_record.h"
#include "batch/summary.h"

#include <gtest/gtest.h>

namespace veltrana::batch {
namespace {

ReelRecord sampleRecord() {
    ReelRecord record;
    record.id = "reel-0042";
    record.status = "done";
    record.exitStatus = 0;
    record.message = "done";
    record.settingsJson = "{\"archival\":true,\"scans\":\"s\"}";
    record.version = "veltrana 0.1.0";
    record.inputs = {
        {"frame_0001.dpx", 12582912, "2026-12-07T10:00:00Z", ""},
        {"frame_0002.dpx", 12582913, "2026-12-07T10:00:01Z", "0123456789abcdef0123456789abcdef"}};
    record.outputs = {{"reel-0042.wav", "fedcba9876543210fedcba9876543210"}};
    record.frames = 1440;
    record.framesLost = 2;
    record.started = "2026-12-08T01:00:00Z";
    record.seconds = 61.25;
    return record;
}

TEST(ReelRecord, ReadsBackWhatItWrote) {
    const ReelRecord record = sampleRecord();
    const Result<ReelRecord> back = readRecord(recordJson(record));
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(back->id, record.id);
    EXPECT_EQ(back->status, "done");
    EXPECT_EQ(back->exitStatus, 0);
    EXPECT_EQ(back->settingsJson, record.settingsJson);
    EXPECT_EQ(back->version, record.version);
    EXPECT_EQ(back->inputs, record.inputs);
    EXPECT_EQ(back->outputs, record.outputs);
    EXPECT_EQ(back->frames, 1440);
    EXPECT_EQ(back->framesLost, 2);
    EXPECT_EQ(back->started, record.started);
    EXPECT_DOUBLE_EQ(back->seconds, 61.25);
}

TEST(ReelRecord, RefusesWhatIsNoRecord) {
    for (const char* text : {"", "[]", "{\"id\": \"a\"}", "{\"id\": 3, \"status\": \"done\"}"}) {
        EXPECT_FALSE(readRecord(text).ok()) << text;
    }
    std::string wrongType = recordJson(sampleRecord());
    wrongType.replace(wrongType.find("1440"), 4, "\"x\"");
    EXPECT_FALSE(readRecord(wrongType).ok());
}

// A record read back from shared storage may have been edited or damaged:
// a number its field cannot hold is refused, never converted.
TEST(ReelRecord, RefusesNumbersItsFieldsCannotHold) {
    const std::string good = recordJson(sampleRecord());
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    for (const std::string& text :
         {with("1440", "4.22222e+62"), with("1440", "1440.5"), with("1440", "2147483648"),
          with("12582912", "-1"), with("12582912", "1e300"),
          with("\"exit_status\": 0", "\"exit_status\": -2147483649"),
          with("\"frames_lost\": 2", "\"frames_lost\": 18446744073709551615")}) {
        const Result<ReelRecord> read = readRecord(text);
        EXPECT_FALSE(read.ok()) << text;
    }
    const Result<ReelRecord> largest = readRecord(with("1440", "2147483647"));
    ASSERT_TRUE(largest.ok()) << largest.message();
    EXPECT_EQ(largest->frames, 2147483647);
}

struct IndexCase {
    std::vector<std::string> statuses;
    std::string indexes;
};

class FailedIndexes : public testing::TestWithParam<IndexCase> {};

TEST_P(FailedIndexes, AreWrittenAsAnArrayTakesThem) {
    std::vector<SummaryRow> rows;
    for (const std::string& status : GetParam().statuses) {
        SummaryRow row;
        row.status = status;
        rows.push_back(row);
    }
    EXPECT_EQ(failedIndexes(rows), GetParam().indexes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailedIndexes,
    testing::Values(IndexCase{{"done", "done"}, ""}, IndexCase{{"failed"}, "0"},
                    IndexCase{{"done", "failed", "done", "done", "failed", "not run", "failed"},
                              "1,4-6"},
                    IndexCase{{"failed", "failed", "done", "failed"}, "0-1,3"}));

TEST(Summary, HasOneRowPerReel) {
    std::vector<SummaryRow> rows = {
        {"a", "done", 24, 1, 0.96, 2, 1, "0123456789abcdef0123456789abcdef", 12.34},
        {"b", "failed", 0, 0, 0, 0, 0, "", 0.5}};
    EXPECT_EQ(summaryCsv(rows),
              "id,status,frames,frames_lost,sound_seconds,weak_joins,fallback_joins,wav_md5,"
              "seconds_taken\n"
              "a,done,24,1,0.960,2,1,0123456789abcdef0123456789abcdef,12.3\n"
              "b,failed,0,0,0.000,0,0,,0.5\n");
    const std::string html = summaryHtml(rows);
    EXPECT_NE(html.find("<a href=\"a/report/report.html\">a</a>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"b/report/report.html\">b</a>"), std::string::npos);
}

} // namespace
} // namespace veltrana::batch
