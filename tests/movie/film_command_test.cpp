// veltrana film on scans written here: the command line run in-process, and
// the trace lines through the real program.

#include "movie/movie_probe.h"
#include "support/command_line.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <fstream>

namespace veltrana {
namespace {

using test::folderEntries;
using test::probeMovie;
using test::TempDir;

// Plain scans with a frame line at each end: enough for the command's own
// paths (options, refusals, failures); the measuring is tested on rendered
// scans.
void writePlainScans(const std::filesystem::path& dir, int count) {
    for (int k = 1; k <= count; ++k) {
        cv::Mat scan(300, 400, CV_8UC3, cv::Scalar(150, 170, 190));
        scan.colRange(0, 12).setTo(cv::Scalar::all(8));
        scan.colRange(388, 400).setTo(cv::Scalar::all(8));
        ASSERT_TRUE(cv::imwrite((dir / ("scan" + std::to_string(k) + ".tif")).string(), scan));
    }
}

test::ProcessResult film(std::vector<std::string> args) {
    args.insert(args.begin(), "film");
    return test::runCommandLine(args);
}

// The real program: the trace lines go to the process's standard output,
// which runCommandLine does not capture.
test::ProcessResult filmProgram(std::vector<std::string> args) {
    args.insert(args.begin(), {VELTRANA_EXE, "film"});
    return test::runProgram(args);
}

TEST(FilmCommand, HelpNamesEveryFlagWithItsDefault) {
    const auto r = film({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* flag :
         {"--output", "--first", "--last", "--film", "--long-strip", "--dpi", "--inverse",
          "--cut-soundtrack", "--trace", "--quiet", "--max-memory"}) {
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
    }
    EXPECT_NE(r.out.find("=35va"), std::string::npos);
    EXPECT_NE(r.out.find("=1"), std::string::npos); // --first
}

TEST(FilmCommand, WritesEveryScanOfTheDirectoryByDefault) {
    TempDir scans;
    TempDir out;
    writePlainScans(scans.path(), 3);
    const auto r = film({scans.path().string(), "-o", (out / "reel.avi").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("3 frames"), std::string::npos) << r.out;
    // not a terminal: log lines, no progress bar
    EXPECT_NE(r.err.find("Cutting frame number : 3..."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Pictures were cut succesfully!"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('['), std::string::npos) << r.err;
    EXPECT_EQ(probeMovie(out / "reel.avi").frames, 3);
}

// The movie's scans read one at a time, as a budget smaller than one scan
// lets them: the same movie as four at once.
TEST(FilmCommand, AMemoryBudgetForOneScanGivesTheSameMovie) {
    TempDir scans;
    TempDir out;
    writePlainScans(scans.path(), 4);
    const std::string movie = (out / "reel.avi").string();
    ASSERT_EQ(film({scans.path().string(), "-o", movie, "--threads", "4"}).status, 0);
    const std::vector<unsigned char> atOnce = test::readFileBytes(movie);
    const auto r =
        film({scans.path().string(), "-o", movie, "--threads", "4", "--max-memory", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readFileBytes(movie), atOnce);
    EXPECT_EQ(film({scans.path().string(), "-o", movie, "--max-memory", "-1"}).status, 2);
}

TEST(FilmCommand, QuietPrintsNothingAndTraceOnlyTraceLines) {
    TempDir scans;
    TempDir out;
    writePlainScans(scans.path(), 2);
    auto r = filmProgram({scans.path().string(), "-o", (out / "a.avi").string(), "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    r = filmProgram(
        {scans.path().string(), "-o", (out / "b.avi").string(), "-q", "--trace", "--dpi", "1200"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("sound_width = 94 image_length = 898 image_width = 0\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("str = "), std::string::npos);
    EXPECT_EQ(r.err, "");
}

struct FailureRow {
    const char* name;
    std::vector<std::string> args; // "<scans>" and "<out>" are replaced
    int status;
    std::string error; // part of what standard error says
};

class FilmCommandFails : public testing::TestWithParam<FailureRow> {};

TEST_P(FilmCommandFails, CleanlyWithoutAMovie) {
    TempDir scans;
    TempDir out;
    writePlainScans(scans.path(), 3);
    std::vector<std::string> args;
    for (std::string a : GetParam().args) {
        if (a == "<scans>") {
            a = scans.path().string();
        } else if (a.rfind("<out>", 0) == 0) {
            a = out.path().string() + a.substr(5);
        }
        args.push_back(a);
    }
    const auto r = film(args);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_NE(r.err.find(GetParam().error), std::string::npos) << r.err;
    EXPECT_TRUE(folderEntries(out.path()).empty());
    EXPECT_EQ(folderEntries(scans.path()).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilmCommandFails,
    testing::Values(
        FailureRow{"RangePastTheLastScan",
                   {"<scans>", "-o", "<out>/m.avi", "--first", "2", "--last", "9"},
                   1,
                   "runs past the last scan: found 3 scans"},
        FailureRow{"RangePastTheLastScanQuiet",
                   {"<scans>", "-o", "<out>/m.avi", "--last", "4", "-q"},
                   1,
                   "veltrana: The range 1 to 4 runs past the last scan: found 3 scans"},
        FailureRow{"LastBelowFirst",
                   {"<scans>", "-o", "<out>/m.avi", "--first", "3", "--last", "2"},
                   1,
                   "below the first frame"},
        FailureRow{"ManualResolutionZero",
                   {"<scans>", "-o", "<out>/m.avi", "--dpi", "0:1200"},
                   1,
                   "manual resolution x=0,y=1200"},
        FailureRow{"UnwritableOutput",
                   {"<scans>", "-o", "<out>/no/such/folder/m.avi"},
                   1,
                   "Cannot write the movie to "},
        FailureRow{"OutputIsAFolder", {"<scans>", "-o", "<out>"}, 1, "it is a folder"},
        FailureRow{"NoScansThere", {"<out>", "-o", "<out>/m.avi"}, 1, "found 0 scans"},
        FailureRow{"UnknownFilm", {"<scans>", "-o", "<out>/m.avi", "--film", "8mm"}, 2, "--film"},
        FailureRow{"BadDpi", {"<scans>", "-o", "<out>/m.avi", "--dpi", "12x"}, 2, "--dpi"},
        FailureRow{"FirstZero", {"<scans>", "-o", "<out>/m.avi", "--first", "0"}, 2, "--first"},
        FailureRow{"NoOutput", {"<scans>"}, 2, "--output"}),
    [](const testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

TEST(FilmCommand, UnreadableScanNamesTheFile) {
    TempDir scans;
    TempDir out;
    writePlainScans(scans.path(), 3);
    std::ofstream(scans / "scan2.tif", std::ios::binary) << "II*\0 truncated";
    const auto r = film({scans.path().string(), "-o", (out / "m.avi").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No tif file !!!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("scan2.tif"), std::string::npos) << r.err;
    EXPECT_TRUE(folderEntries(out.path()).empty());
}

} // namespace
} // namespace veltrana
