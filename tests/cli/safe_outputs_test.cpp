// veltrana soundtrack's outputs, tried as a careless or hostile user would:
// special files and links as the output, an output that is one of the run's
// own inputs, links planted beside the scans, stale temporaries, full and
// read-only disks, crafted scans, signals and mistyped paths.
//
// Every case checks the exit status and what standard error says, that no
// file but the run's own outputs changed (a snapshot of the whole test
// folder before and after) and that no temporary was left behind.

#include "support/output_checks.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

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

    test::ProcessResult soundtrack(const std::string& frames, const std::string& output,
                                   std::vector<std::string> extra = {},
                                   const test::RunOptions& options = {}) {
        std::vector<std::string> args{VELTRANA_EXE, "soundtrack", frames, "-o", output};
        args.insert(args.end(), extra.begin(), extra.end());
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
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r =
        soundtrack(withRoot(row.frames, dir.path()), withRoot(row.output, dir.path()), row.extra);
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
        RefusalRow{"OutputIsEmpty",
                   {},
                   "<root>/scans",
                   "",
                   {},
                   1,
                   {"Cannot write the sound: no file name was given"}},
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

TEST_F(SafeSoundtrack, StaleTemporariesOfDeadRunsAreRemovedAndLiveOnesKept) {
    const std::string dead = std::to_string(test::unusedProcessId());
    const std::string mine = std::to_string(::getpid());
    // a killed run's sound, its movie folder, and one beside the scans
    writeText(out / (".veltrana-" + dead + "-0123456789abcdef.tmp"), "half a sound");
    fs::create_directory(out / (".veltrana-" + dead + "-fedcba9876543210.tmp"));
    writeText(out / (".veltrana-" + dead + "-fedcba9876543210.tmp") / "output.avi", "half");
    writeText(scans / (".veltrana-" + dead + "-00112233aabbccdd.tmp"), "half a leng.txt");
    // runs still going: this test and the first process
    writeText(out / (".veltrana-" + mine + "-aaaaaaaaaaaaaaaa.tmp"), "being written");
    writeText(out / ".veltrana-1-bbbbbbbbbbbbbbbb.tmp", "being written");
    // names of another pattern are none of the program's business
    writeText(out / (".veltrana-" + dead + "-notahexpart.tmp"), "someone else's");
    writeText(out / (".veltrana-" + dead + "-0123.partial"), "someone else's");
    std::vector<std::string> kept{
        "out/.veltrana-" + mine + "-aaaaaaaaaaaaaaaa.tmp", "out/.veltrana-1-bbbbbbbbbbbbbbbb.tmp",
        "out/.veltrana-" + dead + "-notahexpart.tmp", "out/.veltrana-" + dead + "-0123.partial"};
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

TEST_F(SafeSoundtrack, AnUnreadableScanNamesTheCause) {
    const fs::path scan = scans / "frame_0002.tif";
    fs::permissions(scan, fs::perms::none);
    test::RunOptions options;
    if (test::runningAsRoot()) {
        // root reads any file: run as nobody, who may read the scans (not this
        // one) and write only the output folder
        options.user = kNobody;
        options.group = kNogroup;
        fs::permissions(out, fs::perms::all);
        fs::permissions(dir.path(),
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
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

// --- stopped runs ------------------------------------------------------------

class SoundtrackStopped : public testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        rendered = std::make_unique<test::TempDir>();
        synth::SynthOptions options;
        options.frames = 40;
        ASSERT_TRUE(synth::renderSampleScans(options, rendered->path() / "scans").ok());
    }
    static void TearDownTestSuite() { rendered.reset(); }

    static inline std::unique_ptr<test::TempDir> rendered;
};

TEST_P(SoundtrackStopped, BySignalKeepsTheEarlierOutputs) {
    test::TempDir dir;
    test::TempDir logs;
    fs::copy(rendered->path() / "scans", dir / "scans");
    writeText(dir / "scans/leng.txt", "101 102 ");
    writeText(dir / "sound.wav", "earlier sound");
    const FolderSnapshot before(dir.path());
    test::BackgroundProgram program(
        {VELTRANA_EXE, "soundtrack", (dir / "scans").string(), "-o", (dir / "sound.wav").string()},
        logs / "err.txt");
    ASSERT_TRUE(program.waitForError("Translating frame number : 3..."));
    program.signal(GetParam());
    EXPECT_EQ(program.wait(), 1);
    EXPECT_NE(program.errorText().find("Operation stopped !!!!"), std::string::npos)
        << program.errorText();
    EXPECT_EQ(test::readFileText(dir / "sound.wav"), "earlier sound");
    EXPECT_EQ(FolderSnapshot(dir.path()).changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Signals, SoundtrackStopped, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

class SoundtrackKilled : public SoundtrackStopped {};

TEST_F(SoundtrackKilled, TheNextRunRemovesTheTemporary) {
    test::TempDir dir;
    test::TempDir logs;
    fs::copy(rendered->path() / "scans", dir / "scans");
    const fs::path wav = dir / "sound.wav";
    {
        test::BackgroundProgram program(
            {VELTRANA_EXE, "soundtrack", (dir / "scans").string(), "-o", wav.string()},
            logs / "err.txt");
        ASSERT_TRUE(program.waitForError("Translating frame number : 3..."));
        program.signal(SIGKILL);
        EXPECT_EQ(program.wait(), 128 + SIGKILL);
    }
    // what a killed run leaves: its temporary sound, nothing under the name
    EXPECT_EQ(temporariesUnder(dir.path()).size(), 1u);
    EXPECT_FALSE(fs::exists(wav));
    const test::ProcessResult r = test::runProgram(
        {VELTRANA_EXE, "soundtrack", (dir / "scans").string(), "-o", wav.string(), "--last", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(wav));
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

} // namespace
} // namespace veltrana
