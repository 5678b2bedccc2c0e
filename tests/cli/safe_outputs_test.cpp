// veltrana soundtrack's outputs, tried as a careless or hostile user would:
// special files and links as the output, an output that is one of the run's
// own inputs, links planted beside the scans, stale temporaries, full and
// read-only disks, crafted scans, signals and mistyped paths.
//
// Every case checks the exit status and what standard error says, that no
// file but the run's own outputs changed (a snapshot of the whole test
// folder before and after) and that no temporary was left behind.
//
// The cases run the command line in-process (runVeltrana, the program's own
// code on real files). Those that need a process of their own start the
// program: a file-size limit, another user, signals, closed standard
// streams; and one refusal and one written sound show that the program
// behaves as its code does in-process.

#include "job/folder_lock.h"
#include "job/safe_file.h"
#include "movie/movie_check.h"
#include "support/command_line.h"
#include "support/output_checks.h"
#include "support/stopped_runs.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <tiffio.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrana {
namespace {

namespace fs = std::filesystem;
using test::FolderSnapshot;
using test::temporariesUnder;

// The uid and gid of "nobody" on Debian: a user with no rights to root's files.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Three rendered scans, made once for the whole suite and copied for each
// case: every case may damage its copy.
class SafeSoundtrack : public testing::Test {
protected:
    static void SetUpTestSuite() {
        rendered = std::make_unique<test::TempDir>();
        synth::SynthOptions options;
        options.frames = 3;
        ASSERT_TRUE(synth::renderSampleScans(options, rendered->path() / "scans").ok());
    }
    static void TearDownTestSuite() { rendered.reset(); }

    void SetUp() override {
        fs::copy(rendered->path() / "scans", scans);
        fs::create_directory(out);
        // what an earlier run left: a failed run must keep all of it
        writeText(scans / "leng.txt", "101 102 ");
        writeText(scans / "v.txt", "earlier v\r\n");
        writeText(scans / "z.txt", "earlier z\r\n");
        writeText(scans / "r.txt", "earlier r\r\n");
    }

    // In-process, unless the options need a process of its own.
    test::ProcessResult soundtrack(const std::string& frames, const std::string& output,
                                   std::vector<std::string> extra = {},
                                   const test::RunOptions& options = {}) {
        std::vector<std::string> args{"soundtrack", frames, "-o", output};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!options.any() && !ownProcess) {
            return test::runCommandLine(args);
        }
        args.insert(args.begin(), program.empty() ? std::string(VELTRANA_EXE) : program);
        return test::runProgram(args, options);
    }
    test::ProcessResult soundtrack(std::vector<std::string> extra = {},
                                   const test::RunOptions& options = {}) {
        return soundtrack(scans.string(), wav.string(), std::move(extra), options);
    }

    // What changed under the test folder since `before`, relative names.
    std::vector<std::string> changedSince(const FolderSnapshot& before) const {
        return FolderSnapshot(dir.path()).changedSince(before);
    }

    // The files a successful run writes.
    static std::vector<std::string> runOutputs(const std::string& sound = "out/sound.wav") {
        std::vector<std::string> names{sound, "scans/leng.txt", "scans/r.txt", "scans/v.txt",
                                       "scans/z.txt"};
        std::sort(names.begin(), names.end());
        return names;
    }

    static inline std::unique_ptr<test::TempDir> rendered;
    test::TempDir dir;
    fs::path scans = dir / "scans";
    fs::path out = dir / "out";
    fs::path wav = out / "sound.wav";
    std::string program;     // the program started, when not the build's
    bool ownProcess = false; // started even without RunOptions
};

// --- refusals before any frame is read --------------------------------------

struct RefusalRow {
    const char* name;
    // makes what the case needs in the test folder (root, scans, out)
    std::function<void(const fs::path& root)> prepare;
    std::string frames; // "<root>" stands for the test folder
    std::string output;
    std::vector<std::string> extra;
    int status;
    std::vector<std::string> says; // parts of standard error, "<root>" replaced
};

std::string withRoot(std::string text, const fs::path& root) {
    const std::string mark = "<root>";
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
        text.replace(at, mark.size(), root.string());
        at += root.string().size();
    }
    return text;
}

class SoundtrackRefuses : public SafeSoundtrack, public testing::WithParamInterface<RefusalRow> {};

TEST_P(SoundtrackRefuses, BeforeReadingAFrameAndChangesNothing) {
    const RefusalRow& row = GetParam();
    if (row.prepare) {
        row.prepare(dir.path());
    }
    std::vector<std::string> extra;
    for (const std::string& a : row.extra) {
        extra.push_back(withRoot(a, dir.path()));
    }
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r =
        soundtrack(withRoot(row.frames, dir.path()), withRoot(row.output, dir.path()), extra);
    EXPECT_EQ(r.status, row.status) << r.err;
    for (const std::string& part : row.says) {
        EXPECT_NE(r.err.find(withRoot(part, dir.path())), std::string::npos)
            << withRoot(part, dir.path()) << "\n in: " << r.err;
    }
    EXPECT_EQ(r.err.find("Translating frame number"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

void makeFifo(const fs::path& path) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SoundtrackRefuses,
    testing::Values(
        // special files and links as the output (issue item 1)
        RefusalRow{"OutputIsAFifo",
                   [](const fs::path& root) { makeFifo(root / "out/pipe.wav"); },
                   "<root>/scans",
                   "<root>/out/pipe.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/pipe.wav: it is a FIFO; only regular "
                    "files are written"}},
        RefusalRow{"OutputLinksToAFifo",
                   [](const fs::path& root) {
                       makeFifo(root / "out/pipe");
                       fs::create_symlink(root / "out/pipe", root / "out/link.wav");
                   },
                   "<root>/scans",
                   "<root>/out/link.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/link.wav: it is a link to a FIFO "
                    "(<root>/out/pipe); only regular files are written"}},
        RefusalRow{"OutputIsADanglingLink",
                   [](const fs::path& root) {
                       fs::create_symlink(root / "out/gone.wav", root / "out/link.wav");
                   },
                   "<root>/scans",
                   "<root>/out/link.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/link.wav: it is a link to "
                    "<root>/out/gone.wav, which does not exist"}},
        RefusalRow{"OutputIsAFolder",
                   {},
                   "<root>/scans",
                   "<root>/out",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out: it is a folder"}},
        RefusalRow{"OutputEndsInASlash",
                   {},
                   "<root>/scans",
                   "<root>/out/",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/: the name ends in a slash"}},
        RefusalRow{"OutputIsTheCurrentFolder",
                   {},
                   "<root>/scans",
                   ".",
                   {},
                   1,
                   {"Cannot write the sound to .: it is a folder"}},
        RefusalRow{
            "OutputIsEmpty", {}, "<root>/scans", "", {}, 2, {"--output: no file name was given"}},
        RefusalRow{"ReportFolderIsEmpty",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--report", ""},
                   2,
                   {"--report: no folder was given"}},
        RefusalRow{"LongStripOf35mm",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--long-strip"},
                   2,
                   {"a long strip is a 16 mm scan (--film 16va)"}},
        RefusalRow{"LastFramePastAnyNumber",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--last", "99999999999"},
                   2,
                   {"\"99999999999\" is too large: frame numbers go up to 2147483647"}},
        RefusalRow{"FramesPathTooLong",
                   {},
                   "<root>/scans/" + std::string(300, 'f'),
                   "<root>/out/sound.wav",
                   {},
                   1,
                   {"No frames: the path <root>/scans/" + std::string(300, 'f') +
                    " is longer than the system allows"}},
        // what the run report would destroy
        RefusalRow{"OutputIsTheReportPage",
                   [](const fs::path& root) { fs::create_directory(root / "out/report"); },
                   "<root>/scans",
                   "<root>/out/report/report.html",
                   {"--report", "<root>/out/report"},
                   1,
                   {"Cannot write the sound to <root>/out/report/report.html: the run report "
                    "written to <root>/out/report replaces its page there"}},
        RefusalRow{
            "OutputIsInTheReportPictures",
            [](const fs::path& root) { fs::create_directories(root / "out/report/report_files"); },
            "<root>/scans",
            "<root>/out/report/report_files/frame_000001.png",
            {"--report", "<root>/out/report"},
            1,
            {"Cannot write the sound to <root>/out/report/report_files/frame_000001.png: "
             "the run report written to <root>/out/report replaces its folder of "
             "pictures"}},
        RefusalRow{"OutputLinksIntoTheReport",
                   [](const fs::path& root) {
                       fs::create_directory(root / "out/report");
                       writeText(root / "out/report/report.html", "an earlier report");
                       fs::create_symlink(root / "out/report/report.html", root / "out/link.wav");
                   },
                   "<root>/scans",
                   "<root>/out/link.wav",
                   {"--report", "<root>/out/report"},
                   1,
                   {"the run report written to <root>/out/report replaces its page there"}},
        RefusalRow{"ScansInTheReportPictures",
                   [](const fs::path& root) {
                       fs::create_directory(root / "rep");
                       fs::copy(root / "scans", root / "rep/report_files");
                   },
                   "<root>/rep/report_files",
                   "<root>/out/sound.wav",
                   {"--report", "<root>/rep"},
                   1,
                   {"Cannot write the run report to <root>/rep: the scans lie in its folder of "
                    "pictures, which the report replaces"}},
        RefusalRow{"OutputInAMissingFolder",
                   {},
                   "<root>/scans",
                   "<root>/out/missing/sound.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/missing/sound.wav: the folder "
                    "<root>/out/missing does not exist"}},
        RefusalRow{"OutputBelowAFile",
                   [](const fs::path& root) { writeText(root / "out/file", "a file"); },
                   "<root>/scans",
                   "<root>/out/file/sound.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/file/sound.wav: a part of the path "
                    "is not a folder"}},
        // an output that is one of the run's inputs or side files (item 2)
        RefusalRow{"OutputIsAFrame",
                   {},
                   "<root>/scans",
                   "<root>/scans/frame_0003.tif",
                   {},
                   1,
                   {"Cannot write the sound to <root>/scans/frame_0003.tif: it is the scan "
                    "frame_0003.tif of this run"}},
        RefusalRow{"OutputIsAFrameOutsideTheRange",
                   {},
                   "<root>/scans",
                   "<root>/scans/frame_0003.tif",
                   {"--first", "1", "--last", "2"},
                   1,
                   {"it is the scan frame_0003.tif of this run"}},
        RefusalRow{"OutputIsAFrameThroughAHardLink",
                   [](const fs::path& root) {
                       fs::create_hard_link(root / "scans/frame_0002.tif", root / "out/hard.wav");
                   },
                   "<root>/scans",
                   "<root>/out/hard.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/hard.wav: it is the scan "
                    "frame_0002.tif of this run"}},
        RefusalRow{"OutputIsAFrameThroughASymlink",
                   [](const fs::path& root) {
                       fs::create_symlink(root / "scans/frame_0001.tif", root / "out/link.wav");
                   },
                   "<root>/scans",
                   "<root>/out/link.wav",
                   {},
                   1,
                   {"Cannot write the sound to <root>/out/link.wav: it is the scan "
                    "frame_0001.tif of this run"}},
        RefusalRow{"OutputIsTheJoinPositions",
                   {},
                   "<root>/scans",
                   "<root>/scans/leng.txt",
                   {},
                   1,
                   {"Cannot write the sound to <root>/scans/leng.txt: the run writes its "
                    "leng.txt there"}},
        RefusalRow{"OutputIsADiagnosticFile",
                   {},
                   "<root>/scans",
                   "<root>/scans/v.txt",
                   {},
                   1,
                   {"Cannot write the sound to <root>/scans/v.txt: the run writes its v.txt "
                    "there"}},
        RefusalRow{"OutputIsTheJoinPositionsNamedFromAScan",
                   {},
                   "<root>/scans/frame_0001.tif",
                   "<root>/scans/../scans/r.txt",
                   {},
                   1,
                   {"the run writes its r.txt there"}},
        // a mistyped frames path (item 6)
        RefusalRow{"FramesFolderMissing",
                   {},
                   "<root>/scans/nosuchdir",
                   "<root>/out/sound.wav",
                   {},
                   1,
                   {"No frames: <root>/scans/nosuchdir does not exist"}},
        RefusalRow{"FramesScanMissing",
                   {},
                   "<root>/scans/frame_9999.tif",
                   "<root>/out/sound.wav",
                   {},
                   1,
                   {"No frames: <root>/scans/frame_9999.tif does not exist"}},
        RefusalRow{"FramesPathIsNoScan",
                   {},
                   "<root>/scans/truth.json",
                   "<root>/out/sound.wav",
                   {},
                   1,
                   {"No frames: <root>/scans/truth.json is neither a folder of scans nor a .tif, "
                    ".tiff, .dpx or .exr scan"}},
        RefusalRow{
            "FramesPathIsADanglingLink",
            [](const fs::path& root) { fs::create_symlink(root / "gone", root / "out/frames"); },
            "<root>/out/frames",
            "<root>/out/sound.wav",
            {},
            1,
            {"No frames: <root>/out/frames does not exist"}},
        // a manual resolution out of range (item 11)
        RefusalRow{"ResolutionFarTooHigh",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--dpi", "1000000000"},
                   1,
                   {"The manual resolution x=1000000000,y=1000000000 dpi is out of range: each "
                    "value must be 100 to 20000 dpi"}},
        RefusalRow{"ResolutionTooLowAlong",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--dpi", "1200:99"},
                   1,
                   {"The manual resolution x=1200,y=99 dpi is out of range"}},
        // usage errors say what is wrong in one sentence (item 13)
        RefusalRow{"FirstFrameZero",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--first", "0"},
                   2,
                   {"\"0\" is not a frame number: frames count from 1"}},
        RefusalRow{"MaxMegapixelsZero",
                   {},
                   "<root>/scans",
                   "<root>/out/sound.wav",
                   {"--max-megapixels", "0"},
                   2,
                   {"\"0\" is not a number of megapixels above 0"}}),
    [](const testing::TestParamInfo<RefusalRow>& info) { return info.param.name; });

TEST_F(SafeSoundtrack, AFrameNumberOutOfRangeIsOneShortSentence) {
    const test::ProcessResult r = soundtrack({"--first", "0"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(occurrences(r.err, "is not a frame number"), 1u) << r.err;
    // no limits of a double spelt out
    EXPECT_EQ(r.err.find("179769313"), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 200u) << r.err;
}

TEST(SafeCommandLine, NoSubcommandIsAUsageErrorWithTheHelp) {
    const test::ProcessResult r = test::runProgram({VELTRANA_EXE});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("soundtrack"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("film"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

// A device is the case users meet, but replacing one breaks the machine for
// everybody: only root can get that far.
TEST_F(SafeSoundtrack, ADeviceAsTheOutputIsRefusedAndKept) {
    if (!test::runningAsRoot()) {
        GTEST_SKIP() << "only root could replace /dev/null";
    }
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack(scans.string(), "/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the sound to /dev/null: it is a device; only regular "
                         "files are written"),
              std::string::npos)
        << r.err;
    struct stat after {};
    ASSERT_EQ(::stat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, st.st_rdev);
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder("/dev"), std::vector<std::string>{});
}

// --- outputs that are written ------------------------------------------------

TEST_F(SafeSoundtrack, ALinkToAFileIsWrittenThroughAndKept) {
    writeText(out / "real.wav", "earlier sound");
    fs::create_symlink("real.wav", out / "link.wav");
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack(scans.string(), (out / "link.wav").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Sound: " + (out / "link.wav").string()), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_symlink(out / "link.wav"));
    EXPECT_EQ(fs::read_symlink(out / "link.wav"), fs::path("real.wav"));
    EXPECT_EQ(test::readFileText(out / "real.wav").substr(0, 4), "RIFF");
    EXPECT_EQ(changedSince(before), runOutputs("out/real.wav"));
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, LinksPlantedAtTheSideFilesAreReplacedNotFollowed) {
    const fs::path victims = dir / "victims";
    fs::create_directory(victims);
    for (const char* name : {"leng.txt", "v.txt", "z.txt", "r.txt"}) {
        writeText(victims / name, std::string("precious ") + name);
        fs::remove(scans / name);
        fs::create_symlink(victims / name, scans / name);
    }
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"leng.txt", "v.txt", "z.txt", "r.txt"}) {
        EXPECT_FALSE(fs::is_symlink(scans / name)) << name;
        EXPECT_TRUE(fs::is_regular_file(scans / name)) << name;
        EXPECT_EQ(test::readFileText(victims / name), std::string("precious ") + name);
    }
    EXPECT_EQ(changedSince(before), runOutputs());
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// joins.csv goes beside the sound, where anyone who may make a name in that
// folder could plant a link: it is replaced as the files beside the scans are.
TEST_F(SafeSoundtrack, ALinkPlantedAtTheJoinReportIsReplacedNotFollowed) {
    const fs::path victim = dir / "precious.txt";
    writeText(victim, "precious");
    fs::create_symlink(victim, out / "joins.csv");
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({"--archival"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Join report: " + (out / "joins.csv").string()), std::string::npos)
        << r.out;
    EXPECT_EQ(test::readFileText(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(out / "joins.csv"));
    EXPECT_EQ(test::readFileText(out / "joins.csv").substr(0, 6), "frame,");
    std::vector<std::string> changed = runOutputs();
    changed.push_back("out/joins.csv");
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changedSince(before), changed);
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, StaleTemporariesOfDeadRunsAreRemovedAndLiveOnesKept) {
    const std::string host = temporaryHostName();
    const std::string dead = host + "-" + std::to_string(test::unusedProcessId());
    const std::string mine = host + "-" + std::to_string(::getpid());
    // a killed run's sound, its movie folder, and one beside the scans
    writeText(out / (".veltrana-" + dead + "-0123456789abcdef.tmp"), "half a sound");
    fs::create_directory(out / (".veltrana-" + dead + "-fedcba9876543210.tmp"));
    writeText(out / (".veltrana-" + dead + "-fedcba9876543210.tmp") / "output.avi", "half");
    writeText(scans / (".veltrana-" + dead + "-00112233aabbccdd.tmp"), "half a leng.txt");
    // runs still going: this test and the first process
    writeText(out / (".veltrana-" + mine + "-aaaaaaaaaaaaaaaa.tmp"), "being written");
    writeText(out / (".veltrana-" + host + "-1-bbbbbbbbbbbbbbbb.tmp"), "being written");
    // another machine's run on a shared folder: its pid says nothing here
    const std::string elsewhere = "other.host-" + std::to_string(test::unusedProcessId());
    writeText(out / (".veltrana-" + elsewhere + "-dddddddddddddddd.tmp"), "being written there");
    // names of another pattern are none of the program's business
    writeText(out / (".veltrana-" + dead + "-notahexpart.tmp"), "someone else's");
    writeText(out / (".veltrana-" + dead + "-0123.partial"), "someone else's");
    writeText(out / (".veltrana-" + std::to_string(test::unusedProcessId()) + "-0123.tmp"),
              "without a host");
    std::vector<std::string> kept{"out/.veltrana-" + mine + "-aaaaaaaaaaaaaaaa.tmp",
                                  "out/.veltrana-" + host + "-1-bbbbbbbbbbbbbbbb.tmp",
                                  "out/.veltrana-" + elsewhere + "-dddddddddddddddd.tmp",
                                  "out/.veltrana-" + dead + "-notahexpart.tmp",
                                  "out/.veltrana-" + dead + "-0123.partial",
                                  "out/.veltrana-" + std::to_string(test::unusedProcessId()) +
                                      "-0123.tmp"};
    if (test::runningAsRoot()) {
        // another user's temporary is theirs to clean, dead or not
        const fs::path theirs = out / (".veltrana-" + dead + "-cccccccccccccccc.tmp");
        writeText(theirs, "another user's");
        ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNogroup), 0);
        kept.push_back("out/.veltrana-" + dead + "-cccccccccccccccc.tmp");
    }
    std::sort(kept.begin(), kept.end());

    const test::ProcessResult r = soundtrack();
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> left = temporariesUnder(dir.path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, kept);
}

TEST_F(SafeSoundtrack, OutputNamesUpToTheLongestAFolderTakesAreWritten) {
    for (const std::size_t length : {240u, 250u, 254u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".wav";
        const test::ProcessResult r = soundtrack(scans.string(), (out / name).string());
        EXPECT_EQ(r.status, 0) << length << ": " << r.err;
        EXPECT_TRUE(fs::is_regular_file(out / name)) << length;
    }
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, HiddenFilesAreNoFrames) {
    // a copy's resource forks and other hidden files named like scans
    writeText(scans / "._frame_0001.tif", "resource fork");
    writeText(scans / ".frame_0000.tif", "not a scan");
    const test::ProcessResult r = soundtrack();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Translating frame number : 3..."), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Translating frame number : 4..."), std::string::npos) << r.err;
    EXPECT_EQ(test::readFileText(scans / "._frame_0001.tif"), "resource fork");
}

// --- failures that keep every earlier output ---------------------------------

TEST_F(SafeSoundtrack, AReadOnlyOutputFolderFailsAndKeepsTheJoinPositions) {
    writeText(wav, "earlier sound");
    test::ScopedMount readOnly;
    if (test::runningAsRoot()) {
        if (!readOnly.bindReadOnly(out)) {
            GTEST_SKIP() << readOnly.whyNot();
        }
    } else {
        fs::permissions(out, fs::perms::owner_write, fs::perm_options::remove);
    }
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the sound to " + wav.string() +
                         ": cannot create a file in " + out.string()),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Translating frame number"), std::string::npos) << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// A small tmpfs where mounting is allowed, filled to the brim; elsewhere
// the program's files are limited in size instead, which fails its writes
// the same way.
struct SmallDisk {
    test::ScopedMount mount;
    test::RunOptions options;

    // Mounts a tmpfs over `folder`, which must be empty.
    void mountAt(const fs::path& folder, std::size_t capacity) {
        mount.mountTmpfs(folder, capacity);
    }
    bool mounted() const { return mount.mounted(); }
    // Fills the tmpfs but `room` bytes, or limits each file the program
    // writes to `limit` bytes where there is none.
    bool fill(const fs::path& folder, std::size_t room, std::uint64_t limit) {
        if (mount.mounted()) {
            return test::fillDisk(folder / "filler", room);
        }
        options.fileSizeLimit = limit;
        return true;
    }
};

TEST_F(SafeSoundtrack, AFullDiskFailsTheSoundAndKeepsEverythingEarlier) {
    SmallDisk disk;
    disk.mountAt(out, 256 * 1024);
    writeText(wav, "earlier sound");
    // without a tmpfs: the sound takes 3 KB
    ASSERT_TRUE(disk.fill(out, 0, 1000));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({}, disk.options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(
        r.err.find("Cannot write the sound to " + wav.string() + ": the disk took only part of it"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(test::readFileText(wav), "earlier sound");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// The diagnostics are written once, at the end, each through a temporary:
// a disk too full for them leaves the earlier ones whole and only warns.
TEST_F(SafeSoundtrack, DiagnosticsOnAFullDiskAreOnlyAWarningAndStayWhole) {
    test::TempDir elsewhere;
    fs::copy(scans, elsewhere / "scans");
    fs::remove_all(scans);
    fs::create_directory(scans);
    SmallDisk disk;
    disk.mountAt(scans, 2 * 1024 * 1024);
    fs::copy(elsewhere / "scans", scans);
    // room for leng.txt (one page) but not for v.txt (11 KB); without a
    // tmpfs, a limit above the sound (3 KB) and below v.txt
    ASSERT_TRUE(disk.fill(scans, 4096, 5000));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({}, disk.options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Could not write v.txt, z.txt and r.txt in " + scans.string() +
                         " (Cannot write v.txt to " + (scans / "v.txt").string() + ": "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Join positions: " + (scans / "leng.txt").string()), std::string::npos);
    EXPECT_EQ(test::readFileText(scans / "v.txt"), "earlier v\r\n");
    EXPECT_EQ(test::readFileText(scans / "z.txt"), "earlier z\r\n");
    EXPECT_EQ(test::readFileText(scans / "r.txt"), "earlier r\r\n");
    EXPECT_EQ(changedSince(before), (std::vector<std::string>{"out/sound.wav", "scans/leng.txt"}));
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, JoinPositionsOnAFullDiskFailTheRunButKeepTheSound) {
    test::TempDir elsewhere;
    fs::copy(scans, elsewhere / "scans");
    fs::remove_all(scans);
    fs::create_directory(scans);
    test::ScopedMount mount;
    if (!mount.mountTmpfs(scans, 2 * 1024 * 1024)) {
        // a file size limit cannot tell leng.txt (10 bytes) from the sound
        GTEST_SKIP() << mount.whyNot();
    }
    fs::copy(elsewhere / "scans", scans);
    ASSERT_TRUE(test::fillDisk(scans / "filler", 0));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("The sound was written to " + wav.string() +
                         ", but the join positions were not. Cannot write the join positions "
                         "to " +
                         (scans / "leng.txt").string()),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::readFileText(scans / "leng.txt"), "101 102 ");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{"out/sound.wav"});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// v.txt, z.txt and r.txt belong to a run that succeeded: a run that fails
// at its last output leaves the earlier ones.
TEST_F(SafeSoundtrack, AFailedRunWritesNoDiagnostics) {
    fs::remove(scans / "leng.txt");
    fs::create_directory(scans / "leng.txt");
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("The sound was written to " + wav.string() +
                         ", but the join positions were not."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::readFileText(scans / "v.txt"), "earlier v\r\n");
    EXPECT_EQ(test::readFileText(scans / "z.txt"), "earlier z\r\n");
    EXPECT_EQ(test::readFileText(scans / "r.txt"), "earlier r\r\n");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{"out/sound.wav"});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, AReadOnlyScansFolderKeepsTheSoundAndNamesTheJoinPositions) {
    test::ScopedMount readOnly;
    if (test::runningAsRoot()) {
        if (!readOnly.bindReadOnly(scans)) {
            GTEST_SKIP() << readOnly.whyNot();
        }
    } else {
        fs::permissions(scans, fs::perms::owner_write, fs::perm_options::remove);
    }
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("The sound was written to " + wav.string() +
                         ", but the join positions were not. Cannot write the join positions "
                         "to " +
                         (scans / "leng.txt").string()),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Sound: " + wav.string()), std::string::npos) << r.out;
    EXPECT_EQ(test::readFileText(wav).substr(0, 4), "RIFF");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{"out/sound.wav"});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, DiagnosticsThatCannotBeWrittenAreOnlyAWarning) {
    fs::remove(scans / "v.txt");
    fs::create_directory(scans / "v.txt");
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Could not write v.txt, z.txt and r.txt in " + scans.string() +
                         " (Cannot write v.txt to " + (scans / "v.txt").string() +
                         ": it is a folder)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Join positions: " + (scans / "leng.txt").string()), std::string::npos);
    EXPECT_EQ(changedSince(before), (std::vector<std::string>{"out/sound.wav", "scans/leng.txt"}));
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// --- scans that are not what they claim --------------------------------------

TEST_F(SafeSoundtrack, AScanClaimingAHugeImageIsRefusedFromItsHeader) {
    ASSERT_TRUE(test::writeHugeClaimTiff(scans / "frame_0002.tif", 30000));
    ASSERT_LT(fs::file_size(scans / "frame_0002.tif"), 8192u);
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Wrong file format !!!\nCannot read the scan " +
                         (scans / "frame_0002.tif").string() +
                         ": it is 30000 x 30000 pixels (900 megapixels), more than the 100 "
                         "megapixels a scan may have"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeSoundtrack, TheMegapixelLimitCanBeLowered) {
    const cv::Mat first = cv::imread((scans / "frame_0001.tif").string(), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(first.empty());
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({"--max-megapixels", "0.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot read the scan " + (scans / "frame_0001.tif").string() +
                         ": it is " + std::to_string(first.cols) + " x " +
                         std::to_string(first.rows) + " pixels"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("more than the 0.5 megapixels a scan may have"), std::string::npos);
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
}

struct TinyScanRow {
    const char* name;
    int width;
    int height;
    const char* frame; // the scan replaced
};

class SoundtrackTinyScan : public SafeSoundtrack,
                           public testing::WithParamInterface<TinyScanRow> {};

TEST_P(SoundtrackTinyScan, IsRefusedWhereverItLies) {
    const TinyScanRow& row = GetParam();
    const fs::path scan = scans / row.frame;
    ASSERT_TRUE(
        cv::imwrite(scan.string(), cv::Mat(row.height, row.width, CV_8UC1, cv::Scalar(128))));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Wrong file format !!!\nCannot read the scan " + scan.string() +
                         ": it is " + std::to_string(row.width) + " x " +
                         std::to_string(row.height) +
                         " pixels; a scan needs at least 64 pixels on each side"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SoundtrackTinyScan,
    testing::Values(TinyScanRow{"OnePixelFirst", 1, 1, "frame_0001.tif"},
                    TinyScanRow{"TenByTenFirst", 10, 10, "frame_0001.tif"},
                    TinyScanRow{"FiftyByOneFirst", 50, 1, "frame_0001.tif"},
                    TinyScanRow{"OnePixelLater", 1, 1, "frame_0002.tif"},
                    TinyScanRow{"TallAndThinLater", 63, 900, "frame_0003.tif"}),
    [](const testing::TestParamInfo<TinyScanRow>& info) { return info.param.name; });

TEST_F(SafeSoundtrack, AFrameOfAnotherSizeOrTurnedIsPointedOut) {
    const cv::Mat first = cv::imread((scans / "frame_0001.tif").string(), cv::IMREAD_UNCHANGED);
    const cv::Mat second = cv::imread((scans / "frame_0002.tif").string(), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(second.empty());
    cv::Mat turned;
    cv::transpose(second, turned);
    ASSERT_TRUE(cv::imwrite((scans / "frame_0002.tif").string(), turned));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Frame 2 is " + std::to_string(turned.cols) + " x " +
                         std::to_string(turned.rows) + " pixels, frame 1 " +
                         std::to_string(first.cols) + " x " + std::to_string(first.rows) +
                         ": it may be turned or of another film"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Frame 3 is"), std::string::npos) << r.err;
    EXPECT_EQ(changedSince(before), runOutputs());
}

TEST_F(SafeSoundtrack, OneFrameGivesNoSoundAndSaysSo) {
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({"--first", "2", "--last", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Only frame 2: one frame gives no sound, a range needs at least two"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Sound: " + wav.string() + " (0 samples"), std::string::npos) << r.out;
    // no pair of frames was searched: the diagnostics stay as they were
    EXPECT_EQ(changedSince(before), (std::vector<std::string>{"out/sound.wav", "scans/leng.txt"}));
    EXPECT_EQ(test::readFileText(scans / "leng.txt"), "0 ");
}

TEST_F(SafeSoundtrack, AnArchivalOneFrameRangeGivesNoSoundAndSaysSo) {
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({"--archival", "--first", "2", "--last", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Only frame 2: one frame gives no sound, a range needs at least two"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Sound: " + wav.string() + " (0 samples, 24-bit"), std::string::npos)
        << r.out;
    EXPECT_EQ(changedSince(before),
              (std::vector<std::string>{"out/joins.csv", "out/sound.wav", "scans/leng.txt"}));
    EXPECT_EQ(test::readFileText(scans / "leng.txt"), "0 ");
}

TEST_F(SafeSoundtrack, AnUnreadableScanNamesTheCause) {
    const fs::path scan = scans / "frame_0002.tif";
    fs::permissions(scan, fs::perms::none);
    test::RunOptions options;
    std::optional<test::ProgramForOthers> copy;
    if (test::runningAsRoot()) {
        // root reads any file: run as nobody, who may read the scans (not this
        // one) and write only the output folder, a copy of the program where
        // nobody can reach it
        options.user = kNobody;
        options.group = kNogroup;
        fs::permissions(out, fs::perms::all);
        fs::permissions(dir.path(),
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        copy.emplace(VELTRANA_EXE);
        if (!copy->ready()) {
            GTEST_SKIP() << copy->whyNot();
        }
        program = copy->path().string();
    }
    // a process of its own all the same: the image library's own lines
    // would go to it
    ownProcess = true;
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({}, options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Wrong file format !!!\nCannot read the scan " + scan.string() +
                         ": Permission denied"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(occurrences(r.err, "Permission denied"), 1u) << r.err;
    EXPECT_EQ(r.err.find("WARN"), std::string::npos) << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// A scan the program cannot read, in a process of its own under -q: the image
// library's own lines (libtiff's, OpenCV's "imdecode_('')...") would reach
// its standard error. The program says what is wrong once, in its words.
struct DamagedScanRow {
    const char* name;
    std::function<bool(const fs::path& scan)> write;
    std::string cause;
};

class SoundtrackDamagedScan : public SafeSoundtrack,
                              public testing::WithParamInterface<DamagedScanRow> {};

TEST_P(SoundtrackDamagedScan, IsNamedInTheProgramsWordsAlone) {
    const DamagedScanRow& row = GetParam();
    const fs::path scan = scans / "frame_0002.tif";
    ASSERT_TRUE(row.write(scan));
    ownProcess = true;
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = soundtrack({"-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot read the scan " + scan.string() + ": " + row.cause),
              std::string::npos)
        << r.err;
    for (const char* theirs : {"imdecode", "OpenCV", "TIFFRead", "libpng", "buf.empty"}) {
        EXPECT_EQ(occurrences(r.err, theirs), 0u) << theirs << " in " << r.err;
    }
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Scans, SoundtrackDamagedScan,
    testing::Values(DamagedScanRow{"Empty",
                                   [](const fs::path& scan) {
                                       writeText(scan, "");
                                       return true;
                                   },
                                   "it is an empty file"},
                    DamagedScanRow{
                        "FourBitPalette",
                        [](const fs::path& scan) {
                            return test::writeUnusualTiff(scan, 4, 1, PHOTOMETRIC_PALETTE);
                        },
                        "unsupported sample format (4 bits per sample; only 8- and 16-bit "
                        "integer scans are read)"},
                    // the image library reads its header and fails on its data
                    DamagedScanRow{"SixteenBitCmyk",
                                   [](const fs::path& scan) {
                                       return test::writeUnusualTiff(scan, 16, 4,
                                                                     PHOTOMETRIC_SEPARATED);
                                   },
                                   "the TIFF data cannot be decoded"}),
    [](const testing::TestParamInfo<DamagedScanRow>& info) { return info.param.name; });

// --- the program itself --------------------------------------------------------

// The cases above run the program's code in-process; started, the program
// refuses and writes the same.
TEST_F(SafeSoundtrack, TheProgramRefusesAndWritesAsItsCodeDoes) {
    makeFifo(out / "pipe.wav");
    const FolderSnapshot before(dir.path());
    ownProcess = true;
    test::ProcessResult r = soundtrack(scans.string(), (out / "pipe.wav").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the sound to " + (out / "pipe.wav").string() +
                         ": it is a FIFO; only regular files are written"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    r = soundtrack();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(changedSince(before), runOutputs());
    const std::vector<unsigned char> started = test::readFileBytes(wav);
    ownProcess = false;
    ASSERT_EQ(soundtrack().status, 0);
    EXPECT_EQ(test::readFileBytes(wav), started);
    // a disk that takes only part of the sound, as a file-size limit makes it
    test::RunOptions limited;
    limited.fileSizeLimit = 1000;
    const FolderSnapshot written(dir.path());
    r = soundtrack({}, limited);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the sound to " + wav.string() + ": "), std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(written), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// Started with standard input, output and error closed, the program must
// not take a descriptor of them for an output: the log would go into it.
struct ClosedStreamsRow {
    const char* name;
    std::vector<std::string> args; // after the program; "<scans>", "<out>" replaced
    const char* output;
    const char* form; // the RIFF form the output must have
};

class ClosedStandardStreams : public SafeSoundtrack,
                              public testing::WithParamInterface<ClosedStreamsRow> {};

TEST_P(ClosedStandardStreams, LeaveTheOutputWhole) {
    const ClosedStreamsRow& row = GetParam();
    std::vector<std::string> args{VELTRANA_EXE};
    for (const std::string& a : row.args) {
        args.push_back(a == "<scans>" ? scans.string()
                       : a == "<out>" ? (out / row.output).string()
                                      : a);
    }
    test::RunOptions options;
    options.closeStandardStreams = true;
    const test::ProcessResult r = test::runProgram(args, options);
    EXPECT_EQ(r.status, 0);
    const std::string written = test::readFileText(out / row.output);
    ASSERT_GE(written.size(), 12u);
    EXPECT_EQ(written.substr(0, 4), "RIFF");
    EXPECT_EQ(written.substr(8, 4), row.form);
    EXPECT_EQ(written.find("frame number"), std::string::npos);
    if (std::string(row.form) == "AVI ") {
        EXPECT_TRUE(checkFinishedMovie(out / row.output, 3).ok());
    }
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, ClosedStandardStreams,
    testing::Values(
        ClosedStreamsRow{"Soundtrack", {"soundtrack", "<scans>", "-o", "<out>"}, "s.wav", "WAVE"},
        ClosedStreamsRow{"ArchivalSoundtrack",
                         {"soundtrack", "<scans>", "-o", "<out>", "--archival"},
                         "a.wav",
                         "WAVE"},
        ClosedStreamsRow{"Film", {"film", "<scans>", "-o", "<out>"}, "m.avi", "AVI "}),
    [](const testing::TestParamInfo<ClosedStreamsRow>& info) { return info.param.name; });

// --- what a run finds around it ------------------------------------------------

// -q silences the progress, not what was written: a one-frame range replaces
// a complete leng.txt with "0 ".
TEST_F(SafeSoundtrack, QuietStillWarnsThatOneFrameGaveNoSound) {
    const test::ProcessResult r = soundtrack({"-q", "--first", "2", "--last", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "veltrana: warning: Only frame 2: one frame gives no sound, a range needs at least "
              "two\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::readFileText(scans / "leng.txt"), "0 ");
}

// Another run holds the folder: one at a time writes the side files there.
TEST_F(SafeSoundtrack, AnotherRunOnTheScansFolderIsRefusedAtOnce) {
    FolderLocks other;
    ASSERT_TRUE(other.lock(scans, "the scans folder").ok());
    const FolderSnapshot before(dir.path());
    test::ProcessResult r = soundtrack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Another run is using the scans folder " + scans.string()),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Translating frame number"), std::string::npos) << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    // the film writes nothing beside the scans: it runs
    EXPECT_EQ(test::runCommandLine({"film", scans.string(), "-o", (out / "m.avi").string()}).status,
              0);
    other.release();
    r = soundtrack();
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(SafeSoundtrack, AnotherRunOnTheReportFolderIsRefusedAtOnce) {
    const fs::path report = out / "report";
    fs::create_directory(report);
    FolderLocks other;
    ASSERT_TRUE(other.lock(report, "the report folder").ok());
    const FolderSnapshot before(dir.path());
    for (const char* job : {"soundtrack", "film"}) {
        const test::ProcessResult r = test::runCommandLine(
            {job, scans.string(), "-o", wav.string(), "--report", report.string()});
        EXPECT_EQ(r.status, 1) << job;
        EXPECT_NE(r.err.find("Another run is using the report folder " + report.string()),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
}

// As cp does: the replaced file's owner, group and mode stay (root can give
// them all).
TEST_F(SafeSoundtrack, ReplacedFilesKeepTheirOwnerAndMode) {
    if (!test::runningAsRoot()) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    writeText(wav, "earlier sound");
    for (const fs::path& file : {wav, scans / "leng.txt"}) {
        ASSERT_EQ(::chown(file.c_str(), kNobody, kNogroup), 0);
        ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    }
    const test::ProcessResult r = soundtrack();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const fs::path& file : {wav, scans / "leng.txt"}) {
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody) << file;
        EXPECT_EQ(st.st_gid, kNogroup) << file;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << file;
    }
    EXPECT_EQ(test::readFileText(wav).substr(0, 4), "RIFF");
}

// --- stopped runs ------------------------------------------------------------

class SoundtrackStopped : public test::StoppedRunTest {};

TEST_P(SoundtrackStopped, BySignalKeepsTheEarlierOutputs) {
    writeText(scans / "leng.txt", "101 102 ");
    writeText(dir / "sound.wav", "earlier sound");
    const FolderSnapshot before(dir.path());
    const test::StoppedRun run =
        stopAt("soundtrack", dir / "sound.wav", "Translating frame number : 3...", GetParam());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Operation stopped !!!!"), std::string::npos) << run.err;
    EXPECT_EQ(test::readFileText(dir / "sound.wav"), "earlier sound");
    EXPECT_EQ(FolderSnapshot(dir.path()).changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Signals, SoundtrackStopped, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         test::signalName);

class SoundtrackKilled : public test::StoppedRunTest {};

TEST_F(SoundtrackKilled, TheNextRunRemovesTheTemporary) {
    const fs::path wav = dir / "sound.wav";
    EXPECT_EQ(stopAt("soundtrack", wav, "Translating frame number : 3...", SIGKILL).status,
              128 + SIGKILL);
    // what a killed run leaves: its temporary sound, nothing under the name
    EXPECT_EQ(temporariesUnder(dir.path()).size(), 1u);
    EXPECT_FALSE(fs::exists(wav));
    const test::ProcessResult r =
        test::runCommandLine({"soundtrack", scans.string(), "-o", wav.string(), "--last", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(wav));
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

class SoundtrackOutputReplaced : public test::StoppedRunTest {};

// The output is checked again just before the rename: a FIFO (or a device)
// put at the link's target during the run stays, and the run fails.
TEST_F(SoundtrackOutputReplaced, ByAFifoDuringTheRunIsNotRenamedOver) {
    const fs::path target = dir / "sound.wav";
    writeText(target, "earlier sound");
    fs::create_symlink(target, dir / "link.wav");
    const test::StoppedRun run =
        runUntil("soundtrack", dir / "link.wav", "Translating frame number : 3...",
                 [&](test::BackgroundProgram&) {
                     fs::remove(target);
                     makeFifo(target);
                 });
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(target.string() +
                           " became a FIFO during the run; only regular files are replaced"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(fs::is_fifo(target));
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

} // namespace
} // namespace veltrana
