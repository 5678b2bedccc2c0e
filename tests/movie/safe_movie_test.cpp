// veltrana film's movie, tried as a careless or hostile user would: special
// files and links as the output, a frame as the output, a full disk that
// cuts the movie short, stale temporaries, signals, a closed standard output
// and scans that are not what they claim.
//
// Every case checks the exit status and what standard error says, that no
// file but the movie changed (a snapshot of the whole test folder before and
// after) and that no temporary was left behind.
//
// The cases run the command line in-process (runVeltrana, the program's own
// code on real files). Those that need a process of their own start the
// program: a file-size limit, another user, signals, a closed standard
// output; and one refusal and one movie show that the program behaves as
// its code does in-process.

#include "job/safe_file.h"
#include "movie/movie_probe.h"
#include "support/command_line.h"
#include "support/output_checks.h"
#include "support/stopped_runs.h"
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
using test::probeMovie;
using test::temporariesUnder;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Plain scans with a frame line at each end: the film job cuts each into a
// movie frame whatever its content.
void writePlainScans(const fs::path& dir, int count, int rows = 300, int columns = 400) {
    for (int k = 1; k <= count; ++k) {
        cv::Mat scan(rows, columns, CV_8UC3, cv::Scalar(150, 170, 190 - k));
        scan.colRange(0, 12).setTo(cv::Scalar::all(8));
        scan.colRange(columns - 12, columns).setTo(cv::Scalar::all(8));
        char name[32];
        std::snprintf(name, sizeof name, "scan%02d.tif", k);
        ASSERT_TRUE(cv::imwrite((dir / name).string(), scan));
    }
}

class SafeMovie : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(scans);
        fs::create_directory(out);
        writePlainScans(scans, 3);
    }

    // In-process, unless the options need a process of its own.
    test::ProcessResult film(const std::string& frames, const std::string& output,
                             std::vector<std::string> extra = {},
                             const test::RunOptions& options = {}) {
        std::vector<std::string> args{"film", frames, "-o", output};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!options.any() && !ownProcess) {
            return test::runCommandLine(args);
        }
        args.insert(args.begin(), program.empty() ? std::string(VELTRANA_EXE) : program);
        return test::runProgram(args, options);
    }
    test::ProcessResult film(std::vector<std::string> extra = {},
                             const test::RunOptions& options = {}) {
        return film(scans.string(), movie.string(), std::move(extra), options);
    }

    std::vector<std::string> changedSince(const FolderSnapshot& before) const {
        return FolderSnapshot(dir.path()).changedSince(before);
    }

    test::TempDir dir;
    fs::path scans = dir / "scans";
    fs::path out = dir / "out";
    fs::path movie = out / "reel.avi";
    std::string program;     // the program started, when not the build's
    bool ownProcess = false; // started even without RunOptions
};

// --- refusals before any scan is read ---------------------------------------

struct RefusalRow {
    const char* name;
    std::function<void(const fs::path& root)> prepare;
    std::string frames; // "<root>" stands for the test folder
    std::string output;
    std::vector<std::string> extra;
    std::string says; // part of standard error, "<root>" replaced
};

std::string withRoot(std::string text, const fs::path& root) {
    const std::string mark = "<root>";
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
        text.replace(at, mark.size(), root.string());
        at += root.string().size();
    }
    return text;
}

class MovieRefused : public SafeMovie, public testing::WithParamInterface<RefusalRow> {};

TEST_P(MovieRefused, BeforeReadingAScanAndChangesNothing) {
    const RefusalRow& row = GetParam();
    if (row.prepare) {
        row.prepare(dir.path());
    }
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r =
        film(withRoot(row.frames, dir.path()), withRoot(row.output, dir.path()), row.extra);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(withRoot(row.says, dir.path())), std::string::npos)
        << withRoot(row.says, dir.path()) << "\n in: " << r.err;
    EXPECT_EQ(r.err.find("Cutting frame number"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MovieRefused,
    testing::Values(
        RefusalRow{"OutputIsAFifo",
                   [](const fs::path& root) {
                       ASSERT_EQ(::mkfifo((root / "out/pipe.avi").c_str(), 0644), 0);
                   },
                   "<root>/scans",
                   "<root>/out/pipe.avi",
                   {},
                   "Cannot write the movie to <root>/out/pipe.avi: it is a FIFO; only regular "
                   "files are written"},
        RefusalRow{"OutputLinksToAFifo",
                   [](const fs::path& root) {
                       ASSERT_EQ(::mkfifo((root / "out/pipe").c_str(), 0644), 0);
                       fs::create_symlink(root / "out/pipe", root / "out/link.avi");
                   },
                   "<root>/scans",
                   "<root>/out/link.avi",
                   {},
                   "Cannot write the movie to <root>/out/link.avi: it is a link to a FIFO "
                   "(<root>/out/pipe); only regular files are written"},
        RefusalRow{"OutputIsADanglingLink",
                   [](const fs::path& root) {
                       fs::create_symlink(root / "out/gone.avi", root / "out/link.avi");
                   },
                   "<root>/scans",
                   "<root>/out/link.avi",
                   {},
                   "Cannot write the movie to <root>/out/link.avi: it is a link to "
                   "<root>/out/gone.avi, which does not exist"},
        RefusalRow{"OutputEndsInASlash",
                   {},
                   "<root>/scans",
                   "<root>/out/",
                   {},
                   "Cannot write the movie to <root>/out/: the name ends in a slash"},
        RefusalRow{"OutputIsAFrame",
                   {},
                   "<root>/scans",
                   "<root>/scans/scan02.tif",
                   {},
                   "Cannot write the movie to <root>/scans/scan02.tif: it is the scan "
                   "scan02.tif of this run"},
        RefusalRow{"OutputIsAFrameThroughAHardLink",
                   [](const fs::path& root) {
                       fs::create_hard_link(root / "scans/scan03.tif", root / "out/hard.avi");
                   },
                   "<root>/scans",
                   "<root>/out/hard.avi",
                   {},
                   "Cannot write the movie to <root>/out/hard.avi: it is the scan scan03.tif of "
                   "this run"},
        RefusalRow{"FramesFolderMissing",
                   {},
                   "<root>/scans/nosuchdir",
                   "<root>/out/reel.avi",
                   {},
                   "No frames: <root>/scans/nosuchdir does not exist"},
        RefusalRow{"FramesScanMissing",
                   {},
                   "<root>/scans/scan99.tif",
                   "<root>/out/reel.avi",
                   {},
                   "No frames: <root>/scans/scan99.tif does not exist"},
        RefusalRow{
            "FramesPathIsADanglingLink",
            [](const fs::path& root) { fs::create_symlink(root / "gone", root / "out/frames"); },
            "<root>/out/frames",
            "<root>/out/reel.avi",
            {},
            "No frames: <root>/out/frames does not exist"},
        RefusalRow{"ResolutionFarTooHigh",
                   {},
                   "<root>/scans",
                   "<root>/out/reel.avi",
                   {"--dpi", "1000000000"},
                   "The manual resolution x=1000000000,y=1000000000 dpi is out of range: each "
                   "value must be 100 to 20000 dpi"}),
    [](const testing::TestParamInfo<RefusalRow>& info) { return info.param.name; });

TEST_F(SafeMovie, ADeviceAsTheOutputIsRefusedAndKept) {
    if (!test::runningAsRoot()) {
        GTEST_SKIP() << "only root could replace /dev/null";
    }
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film(scans.string(), "/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the movie to /dev/null: it is a device; only regular "
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

// --- movies that are written -------------------------------------------------

TEST_F(SafeMovie, ALinkToAFileIsWrittenThroughAndKept) {
    writeText(out / "real.avi", "earlier movie");
    fs::create_symlink("real.avi", out / "link.avi");
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film(scans.string(), (out / "link.avi").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Movie: " + (out / "link.avi").string() + " (3 frames"), std::string::npos)
        << r.out;
    EXPECT_TRUE(fs::is_symlink(out / "link.avi"));
    EXPECT_EQ(fs::read_symlink(out / "link.avi"), fs::path("real.avi"));
    EXPECT_EQ(probeMovie(out / "real.avi").frames, 3);
    EXPECT_EQ(changedSince(before), std::vector<std::string>{"out/real.avi"});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeMovie, StaleTemporariesOfDeadRunsAreRemovedAndLiveOnesKept) {
    const std::string host = temporaryHostName();
    const std::string dead = host + "-" + std::to_string(test::unusedProcessId());
    const std::string mine = host + "-" + std::to_string(::getpid());
    // a killed run's private movie folder, and a killed soundtrack run's file
    const fs::path staleFolder = out / (".veltrana-" + dead + "-0011223344556677.tmp");
    fs::create_directory(staleFolder);
    writeText(staleFolder / "output.avi", "half a movie");
    writeText(out / (".veltrana-" + dead + "-8899aabbccddeeff.tmp"), "half a sound");
    // runs still going
    fs::create_directory(out / (".veltrana-" + mine + "-aaaaaaaaaaaaaaaa.tmp"));
    writeText(out / (".veltrana-" + host + "-1-bbbbbbbbbbbbbbbb.tmp"), "being written");
    const FolderSnapshot before(dir.path());

    const test::ProcessResult r = film();
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> left = temporariesUnder(dir.path());
    std::sort(left.begin(), left.end());
    std::vector<std::string> kept{"out/.veltrana-" + mine + "-aaaaaaaaaaaaaaaa.tmp",
                                  "out/.veltrana-" + host + "-1-bbbbbbbbbbbbbbbb.tmp"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(left, kept);
    std::vector<std::string> expected{"out/.veltrana-" + dead + "-0011223344556677.tmp",
                                      "out/.veltrana-" + dead + "-0011223344556677.tmp/output.avi",
                                      "out/.veltrana-" + dead + "-8899aabbccddeeff.tmp",
                                      "out/reel.avi"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(changedSince(before), expected);
}

TEST_F(SafeMovie, OutputNamesUpToTheLongestAFolderTakesAreWritten) {
    for (const std::size_t length : {240u, 250u, 254u, 255u}) {
        const std::string name = std::string(length - 4, 'm') + ".avi";
        const test::ProcessResult r = film(scans.string(), (out / name).string());
        EXPECT_EQ(r.status, 0) << length << ": " << r.err;
        EXPECT_EQ(probeMovie(out / name).frames, 3) << length;
    }
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeMovie, HiddenFilesAreNoFrames) {
    writeText(scans / "._scan01.tif", "resource fork");
    writeText(scans / ".scan00.tif", "not a scan");
    const test::ProcessResult r = film();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(3 frames"), std::string::npos) << r.out;
    EXPECT_EQ(probeMovie(movie).frames, 3);
}

// --- a movie cut short -------------------------------------------------------

TEST_F(SafeMovie, AMovieCutShortByAFullDiskKeepsTheEarlierOne) {
    test::ScopedMount mount;
    const bool mounted = mount.mountTmpfs(out, 512 * 1024);
    // the earlier movie, good and whole
    ASSERT_EQ(film({"--last", "2"}).status, 0);
    ASSERT_EQ(probeMovie(movie).frames, 2);
    test::TempDir more;
    writePlainScans(more.path(), 12);
    test::RunOptions options;
    if (mounted) {
        ASSERT_TRUE(test::fillDisk(out / "filler", 16 * 1024));
    } else {
        options.fileSizeLimit = 16 * 1024; // twelve frames take well over 100 KB
    }
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film(more.path().string(), movie.string(), {}, options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Cannot write the movie to " + movie.string() + ": "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("(is the disk full?)"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Movie:"), std::string::npos) << r.out;
    EXPECT_EQ(probeMovie(movie).frames, 2);
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// --- scans that are not what they claim --------------------------------------

TEST_F(SafeMovie, ADamagedScanKeepsTheWordsUsersKnowAndSaysWhy) {
    const fs::path scan = scans / "scan02.tif";
    std::ofstream(scan, std::ios::binary) << std::string("II*\0\x08\0\0\0 cut short", 18);
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No tif file !!!\nCannot read the scan " + scan.string() +
                         ": the TIFF data cannot be read"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

TEST_F(SafeMovie, AScanClaimingAHugeImageIsRefusedFromItsHeader) {
    ASSERT_TRUE(test::writeHugeClaimTiff(scans / "scan01.tif", 30000));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No tif file !!!\nCannot read the scan " +
                         (scans / "scan01.tif").string() +
                         ": it is 30000 x 30000 pixels (900 megapixels), more than the 100 "
                         "megapixels a scan may have"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

struct TinyScanRow {
    const char* name;
    int width;
    int height;
    const char* scan;
};

class MovieTinyScan : public SafeMovie, public testing::WithParamInterface<TinyScanRow> {};

TEST_P(MovieTinyScan, IsRefusedWhereverItLies) {
    const TinyScanRow& row = GetParam();
    const fs::path scan = scans / row.scan;
    ASSERT_TRUE(
        cv::imwrite(scan.string(), cv::Mat(row.height, row.width, CV_8UC1, cv::Scalar(128))));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No tif file !!!\nCannot read the scan " + scan.string() + ": it is " +
                         std::to_string(row.width) + " x " + std::to_string(row.height) +
                         " pixels; a scan needs at least 64 pixels on each side"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Sizes, MovieTinyScan,
                         testing::Values(TinyScanRow{"OnePixelFirst", 1, 1, "scan01.tif"},
                                         TinyScanRow{"TenByTenFirst", 10, 10, "scan01.tif"},
                                         TinyScanRow{"FiftyByOneLater", 50, 1, "scan03.tif"}),
                         [](const testing::TestParamInfo<TinyScanRow>& info) {
                             return info.param.name;
                         });

TEST_F(SafeMovie, AScanOfAnotherSizeIsPointedOutAndStillUsed) {
    // a 16 mm scan in a 35 mm run: three quarters the size
    ASSERT_TRUE(cv::imwrite((scans / "scan02.tif").string(),
                            cv::Mat(225, 300, CV_8UC3, cv::Scalar(150, 170, 190))));
    // a turned scan
    ASSERT_TRUE(cv::imwrite((scans / "scan03.tif").string(),
                            cv::Mat(400, 300, CV_8UC3, cv::Scalar(150, 170, 190))));
    const FolderSnapshot before(dir.path());
    const test::ProcessResult r = film();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Frame 2 is 300 x 225 pixels, frame 1 400 x 300: it may be turned or "
                         "of another film; it is still cut into the movie"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Frame 3 is 300 x 400 pixels, frame 1 400 x 300: it may be turned or "
                         "of another film; it is still cut into the movie"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(probeMovie(movie).frames, 3);
    EXPECT_EQ(changedSince(before), std::vector<std::string>{"out/reel.avi"});
}

TEST_F(SafeMovie, AnUnreadableScanNamesTheCause) {
    const fs::path scan = scans / "scan02.tif";
    fs::permissions(scan, fs::perms::none);
    test::RunOptions options;
    std::optional<test::ProgramForOthers> copy;
    if (test::runningAsRoot()) {
        // root reads any file: run as nobody, who may read the other scans
        // and write only the output folder, a copy of the program where
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
    const test::ProcessResult r = film({}, options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("No tif file !!!\nCannot read the scan " + scan.string() +
                         ": Permission denied"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("WARN"), std::string::npos) << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// --- the program itself --------------------------------------------------------

// The cases above run the program's code in-process; started, the program
// refuses and writes the same.
TEST_F(SafeMovie, TheProgramRefusesAndWritesAsItsCodeDoes) {
    ASSERT_EQ(::mkfifo((out / "pipe.avi").c_str(), 0644), 0);
    const FolderSnapshot before(dir.path());
    ownProcess = true;
    test::ProcessResult r = film(scans.string(), (out / "pipe.avi").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the movie to " + (out / "pipe.avi").string() +
                         ": it is a FIFO; only regular files are written"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{});
    r = film();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(changedSince(before), std::vector<std::string>{"out/reel.avi"});
    const std::vector<test::MovieProbe> probes{probeMovie(movie, true)};
    ownProcess = false;
    ASSERT_EQ(film().status, 0);
    const test::MovieProbe again = probeMovie(movie, true);
    ASSERT_EQ(again.frames, 3);
    ASSERT_EQ(probes.front().frames, 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(cv::norm(again.images[static_cast<std::size_t>(k)],
                           probes.front().images[static_cast<std::size_t>(k)], cv::NORM_INF),
                  0.0)
            << k;
    }
    // a disk that takes only part of the movie, as a file-size limit makes it
    test::RunOptions limited;
    limited.fileSizeLimit = 2048;
    const FolderSnapshot written(dir.path());
    r = film({}, limited);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the movie to " + movie.string() + ": "), std::string::npos)
        << r.err;
    EXPECT_EQ(changedSince(written), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

// --- stopped runs and a closed standard output ------------------------------

class MovieStopped : public test::StoppedRunTest {};

TEST_P(MovieStopped, BySignalKeepsTheEarlierMovie) {
    writeText(dir / "reel.avi", "earlier movie");
    const FolderSnapshot before(dir.path());
    const test::StoppedRun run =
        stopAt("film", dir / "reel.avi", "Cutting frame number : 3...", GetParam());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Operation stopped !!!!"), std::string::npos) << run.err;
    EXPECT_EQ(test::readFileText(dir / "reel.avi"), "earlier movie");
    EXPECT_EQ(FolderSnapshot(dir.path()).changedSince(before), std::vector<std::string>{});
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Signals, MovieStopped, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         test::signalName);

class MovieKilled : public test::StoppedRunTest {};

TEST_F(MovieKilled, TheNextRunRemovesTheTemporary) {
    const fs::path movie = dir / "reel.avi";
    EXPECT_EQ(stopAt("film", movie, "Cutting frame number : 3...", SIGKILL).status, 128 + SIGKILL);
    // what a killed run leaves: its private folder with the movie begun in it
    EXPECT_EQ(temporariesUnder(dir.path()).size(), 1u);
    EXPECT_FALSE(fs::exists(movie));
    const test::ProcessResult r =
        test::runCommandLine({"film", scans.string(), "-o", movie.string(), "--last", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probeMovie(movie).frames, 2);
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

class MovieOutputClosed : public test::StoppedRunTest {};

// `veltrana film ... --trace | head -1`: the trace ends, the run does not.
TEST_F(MovieOutputClosed, TheMovieIsStillMade) {
    const fs::path movie = dir / "reel.avi";
    test::BackgroundProgram program(
        {VELTRANA_EXE, "film", scans.string(), "-o", movie.string(), "--trace", "--last", "12"},
        logs / "err.txt", true);
    EXPECT_NE(program.readOutputLine(), "");
    program.closeOutput();
    EXPECT_EQ(program.wait(), 0) << program.errorText();
    EXPECT_NE(program.errorText().find("Pictures were cut succesfully!"), std::string::npos)
        << program.errorText();
    EXPECT_EQ(probeMovie(movie).frames, 12);
    EXPECT_EQ(temporariesUnder(dir.path()), std::vector<std::string>{});
}

} // namespace
} // namespace veltrana
