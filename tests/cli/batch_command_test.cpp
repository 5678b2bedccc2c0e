// veltrana batch end to end, in-process (runVeltrana) on small rendered
// reels: the reels' folders and records, the rerun that skips what is done,
// the manifest checked whole before anything runs, the locks, and the
// processes of --jobs.

#include "batch/batch_lock.h"
#include "cli/command.h"
#include "job/md5.h"
#include "support/command_line.h"
#include "support/output_checks.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// Three-frame reels at 600 dpi (given, since detection reads them otherwise).
void renderReel(const fs::path& folder, std::uint32_t variant) {
    synth::SynthOptions options;
    options.frames = 3;
    options.dpi = {600, 600};
    options.variant = variant;
    ASSERT_TRUE(synth::renderSampleScans(options, folder).ok());
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

ino_t inodeOf(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
}

class BatchCommand : public testing::Test {
protected:
    static void SetUpTestSuite() {
        shared = std::make_unique<test::TempDir>();
        renderReel(*shared / "one", 1);
        renderReel(*shared / "two", 2);
    }
    static void TearDownTestSuite() { shared.reset(); }

    void SetUp() override {
        for (const char* reel : {"one", "two"}) {
            fs::copy(*shared / reel, dir / reel);
        }
    }

    // A manifest in the test folder; scans relative to it.
    fs::path manifest(const std::string& lines) {
        const fs::path file = dir / "reels.jsonl";
        writeText(file, lines);
        return file;
    }

    test::ProcessResult batch(const fs::path& list, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"batch", list.string(), "-o", out.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runCommandLine(args);
    }

    nlohmann::json record(const std::string& id) {
        return nlohmann::json::parse(test::readFileText(out / id / (id + ".json")));
    }

    static inline std::unique_ptr<test::TempDir> shared;
    test::TempDir dir;
    fs::path out = dir / "out";
};

const std::string kThreeReels =
    "{\"id\": \"r1\", \"scans\": \"one\", \"dpi\": 600, \"archival\": true}\n"
    "{\"id\": \"r2\", \"scans\": \"two/frame_0001.tif\", \"dpi\": \"600\"}\n"
    "{\"id\": \"gone\", \"scans\": \"missing\", \"dpi\": 600}\n";

TEST_F(BatchCommand, WritesEachReelWholeAndNothingBesideTheScans) {
    const test::FolderSnapshot scansBefore(dir / "one");
    const auto r = batch(manifest(kThreeReels));
    EXPECT_EQ(r.status, 1) << r.err; // one reel failed, the others still ran
    EXPECT_TRUE(test::FolderSnapshot(dir / "one").changedSince(scansBefore).empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "two"), fs::directory_iterator()),
              std::distance(fs::directory_iterator(*shared / "two"), fs::directory_iterator()));

    for (const char* name : {"r1.wav", "r1.wav.md5", "r1.leng.txt", "r1.joins.csv", "v.txt",
                             "z.txt", "r1.log", "r1.json", "report/report.json"}) {
        EXPECT_TRUE(fs::is_regular_file(out / "r1" / name)) << name;
    }
    EXPECT_FALSE(fs::exists(out / "r2" / "r2.joins.csv")); // standard sound
    const Result<std::string> md5 = md5HexOfFile(out / "r1" / "r1.wav");
    ASSERT_TRUE(md5.ok());
    EXPECT_EQ(test::readFileText(out / "r1" / "r1.wav.md5"), *md5 + "  r1.wav\n");

    // the log names the files where they are now
    const std::string log = test::readFileText(out / "r1" / "r1.log");
    EXPECT_NE(log.find("Sound: " + (out / "r1" / "r1.wav").string()), std::string::npos) << log;
    EXPECT_NE(log.find((out / "r1" / "r1.leng.txt").string()), std::string::npos) << log;
    EXPECT_EQ(log.find(".tmp"), std::string::npos) << log;

    const nlohmann::json r1 = record("r1");
    EXPECT_EQ(r1["status"], "done");
    EXPECT_EQ(r1["exit_status"], 0);
    EXPECT_EQ(r1["frames"], 3);
    EXPECT_EQ(r1["version"], std::string("veltrana ") + VELTRANA_VERSION);
    EXPECT_EQ(r1["settings"]["archival"], true);
    EXPECT_EQ(r1["inputs"].size(), 3u);
    EXPECT_EQ(r1["inputs"][0]["name"], "frame_0001.tif");

    const nlohmann::json gone = record("gone");
    EXPECT_EQ(gone["status"], "failed");
    EXPECT_NE(gone["message"].get<std::string>().find("missing does not exist"), std::string::npos)
        << gone["message"];
    EXPECT_FALSE(fs::exists(out / "gone" / "gone.wav"));
    EXPECT_NE(r.err.find("reel r1 (index 0): done in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("reel gone (index 2): failed: "), std::string::npos) << r.err;
}

TEST_F(BatchCommand, RerunLeavesDoneReelsAndSummarises) {
    const fs::path list = manifest(kThreeReels);
    ASSERT_EQ(batch(list).status, 1);
    const ino_t wav = inodeOf(out / "r1" / "r1.wav");
    const auto again = batch(list, {"--summary"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("reel r1 (index 0): done earlier"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find("reel r2 (index 1): done earlier"), std::string::npos) << again.err;
    EXPECT_EQ(inodeOf(out / "r1" / "r1.wav"), wav);
    EXPECT_NE(again.out.find("Reels not done: --array=2\n"), std::string::npos) << again.out;
    const std::string csv = test::readFileText(out / "batch-summary.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_NE(csv.find("\nr1,done,3,0,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\ngone,failed,0,0,"), std::string::npos) << csv;
    EXPECT_TRUE(fs::is_regular_file(out / "batch-summary.html"));
}

TEST_F(BatchCommand, RerunsAReelWhoseInputOrOutputChanged) {
    const fs::path list = manifest(kThreeReels);
    ASSERT_EQ(batch(list, {"--index", "0"}).status, 0);
    ASSERT_EQ(batch(list, {"--index", "1"}).status, 0);
    // a scan touched, an output damaged: both reels are made again
    fs::last_write_time(dir / "one" / "frame_0002.tif",
                        fs::last_write_time(dir / "one" / "frame_0002.tif") +
                            std::chrono::hours(1));
    writeText(out / "r2" / "r2.leng.txt", "1 2 3 ");
    for (const char* index : {"0", "1"}) {
        const auto r = batch(list, {"--index", index});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("done earlier"), std::string::npos) << r.err;
    }
    EXPECT_NE(test::readFileText(out / "r2" / "r2.leng.txt"), "1 2 3 ");
}

// A reel made alone on a terminal shows the soundtrack job's progress bar
// there, while its log lines go to its log file, which gets no bar; reels
// made beside others (--jobs) show none, as their bars would share a line.
TEST_F(BatchCommand, ATerminalShowsTheProgressBarOfAReelMadeAlone) {
    const fs::path list = manifest(kThreeReels);
    const auto runOnTerminal = [&](std::vector<std::string> extra) {
        std::ostringstream said;
        std::ostringstream terminal;
        cli::CommandIo io{said, terminal, true};
        std::vector<std::string> args{"veltrana", "batch", list.string(), "-o", out.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(cli::runVeltrana(args, io), 0) << terminal.str();
        return terminal.str();
    };
    const std::string alone = runOnTerminal({"--index", "1"});
    EXPECT_NE(alone.find("\r[#"), std::string::npos) << alone;
    EXPECT_NE(alone.find("reel r2 (index 1): done in"), std::string::npos) << alone;
    const std::string log = test::readFileText(out / "r2" / "r2.log");
    EXPECT_NE(log.find("Translating frame number"), std::string::npos) << log;
    EXPECT_EQ(log.find('\r'), std::string::npos);
    EXPECT_EQ(log.find('\033'), std::string::npos);

    const std::string beside = runOnTerminal({"--index", "0", "--jobs", "2"});
    EXPECT_EQ(beside.find("\r["), std::string::npos) << beside;
    EXPECT_NE(beside.find("reel r1 (index 0): done in"), std::string::npos) << beside;
}

TEST_F(BatchCommand, IndexRunsThatLineOnly) {
    const std::string movieReel =
        "{\"id\": \"r2\", \"scans\": \"two\", \"dpi\": 600, \"movie\": true}\n";
    const auto r = batch(manifest(kThreeReels.substr(0, kThreeReels.find('\n') + 1) + movieReel),
                         {"--index", "1", "--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::is_regular_file(out / "r2" / "r2.wav"));
    EXPECT_TRUE(fs::is_regular_file(out / "r2" / "r2.avi"));
    EXPECT_FALSE(fs::exists(out / "r1"));
    EXPECT_FALSE(fs::exists(out / "gone"));
}

TEST_F(BatchCommand, MakesTheMovieWithItsSound) {
    const auto r = batch(manifest("{\"id\": \"m\", \"scans\": \"one\", \"dpi\": 600, \"fps\": "
                                  "24, \"archival\": true, \"movie\": \"mkv\"}\n"),
                         {"--index", "0"});
    EXPECT_EQ(r.status, 0) << r.err << test::readFileText(out / "m" / "m.log");
    EXPECT_TRUE(fs::is_regular_file(out / "m" / "m.mkv"));
    EXPECT_TRUE(fs::is_regular_file(out / "m" / "m.wav"));
    EXPECT_FALSE(fs::exists(out / "m" / "m.avi"));
}

struct BadBatch {
    const char* name;
    std::string manifest;
    std::vector<std::string> extra;
    std::string error;
};

class BadBatches : public BatchCommand, public testing::WithParamInterface<BadBatch> {};

TEST_P(BadBatches, FailEveryTaskBeforeAnyReelRuns) {
    const auto r = batch(manifest(GetParam().manifest), GetParam().extra);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(GetParam().error), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out / "r1"));
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, BadBatches,
    testing::Values(BadBatch{"BadLineLater",
                             kThreeReels + "{\"id\": \"x\", \"scans\": \"one\", \"fsp\": 24}\n",
                             {"--index", "0"},
                             "veltrana: Manifest line 4: the key \"fsp\" is no option of veltrana "
                             "soundtrack.\n"},
                    BadBatch{"BadValue",
                             kThreeReels + "{\"id\": \"x\", \"scans\": \"one\", \"film\": \"99\"}",
                             {"--index", "0"},
                             "veltrana: Manifest line 4: --film: 99 not in {35va,35vd,16va}"},
                    BadBatch{"DuplicateId",
                             kThreeReels + "{\"id\": \"R1\", \"scans\": \"two\"}",
                             {},
                             "Manifest line 4: the key \"id\" repeats the id \"R1\" of line 1"},
                    BadBatch{"IdLeavingTheFolder",
                             "{\"id\": \"../x\", \"scans\": \"one\"}",
                             {},
                             "Manifest line 1: the key \"id\" must be letters"},
                    BadBatch{"ThreadsSetByTheBatch",
                             "{\"id\": \"a\", \"scans\": \"one\", \"threads\": 2}",
                             {},
                             "Manifest line 1: the key \"threads\" is set by the batch itself."},
                    BadBatch{"IndexPastTheEnd",
                             kThreeReels,
                             {"--index", "3"},
                             "--index 3: the manifest has 3 reels, indexed from 0."}),
    [](const testing::TestParamInfo<BadBatch>& info) { return std::string(info.param.name); });

TEST_F(BatchCommand, RefusesAnOutputFolderInsideTheScans) {
    out = dir / "one" / "out";
    const auto r = batch(manifest(kThreeReels));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is inside the scans folder"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(BatchCommand, LeavesAReelToTheTaskWritingIt) {
    fs::create_directories(out);
    const Result<batch::HeldLock> held = batch::lockReel(out, "r1");
    ASSERT_TRUE(held.ok()) << held.message();
    const auto r = batch(manifest(kThreeReels), {"--index", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is being written by another task"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out / "r1"));
}

TEST_F(BatchCommand, RefusesASecondManifestWritingIntoTheSameFolder) {
    fs::create_directories(out);
    const Result<batch::HeldLock> other = batch::lockForManifest(out, "another");
    ASSERT_TRUE(other.ok()) << other.message();
    const auto r = batch(manifest(kThreeReels), {"--index", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Another manifest's batch is writing into"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out / "r1"));
}

// The program starts itself for each reel, two at a time.
TEST_F(BatchCommand, JobsRunEachReelInAProcessOfItsOwn) {
    const auto r = test::runProgram({VELTRANA_EXE, "batch", manifest(kThreeReels).string(), "-o",
                                     out.string(), "--jobs", "2", "--summary"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(record("r1")["status"], "done");
    EXPECT_EQ(record("r2")["status"], "done");
    EXPECT_EQ(record("gone")["status"], "failed");
    EXPECT_NE(r.out.find("--array=2\n"), std::string::npos) << r.out;
}

} // namespace
} // namespace veltrana
