#include "movie/movie_file.h"

#include "movie/movie_probe.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrana {
namespace {

using test::folderEntries;
using test::probeMovie;
using test::TempDir;

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(MovieFrame, GreyBecomesThreeEqualChannelsAt640x480) {
    const cv::Mat grey(37, 90, CV_8UC1, cv::Scalar(123));
    const cv::Mat frame = movieFrame(grey);
    EXPECT_EQ(frame.cols, 640);
    EXPECT_EQ(frame.rows, 480);
    EXPECT_EQ(frame.type(), CV_8UC3);
    EXPECT_EQ(frame.at<cv::Vec3b>(240, 320), cv::Vec3b(123, 123, 123));
}

TEST(MovieFrame, ColourKeepsItsChannelOrder) {
    const cv::Mat colour(1000, 1500, CV_8UC3, cv::Scalar(10, 20, 30));
    const cv::Mat frame = movieFrame(colour);
    EXPECT_EQ(frame.size(), cv::Size(640, 480));
    EXPECT_EQ(frame.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 30));
}

TEST(MovieFrame, ScalesTheWholeRegion) {
    // left half dark, right half bright: the boundary lands mid-frame
    cv::Mat region(10, 20, CV_8UC1, cv::Scalar(0));
    region.colRange(10, 20).setTo(cv::Scalar(250));
    const cv::Mat frame = movieFrame(region);
    EXPECT_EQ(frame.at<cv::Vec3b>(240, 100)[0], 0);
    EXPECT_EQ(frame.at<cv::Vec3b>(240, 540)[0], 250);
}

class MovieFileWriting : public testing::TestWithParam<const char*> {};

TEST_P(MovieFileWriting, WritesDivxAt24FpsUnderAnyName) {
    TempDir dir;
    const auto target = dir / GetParam();
    {
        MovieFile movie;
        ASSERT_TRUE(movie.open(target).ok());
        // a grey frame too: dropped silently unless turned to colour
        movie.write(cv::Mat(480, 640, CV_8UC3, cv::Scalar(0, 0, 200)));
        movie.write(cv::Mat(100, 50, CV_8UC1, cv::Scalar(90)));
        movie.write(cv::Mat(300, 400, CV_8UC3, cv::Scalar(200, 0, 0)));
        EXPECT_FALSE(std::filesystem::exists(target)); // not before it is complete
        EXPECT_EQ(movie.framesWritten(), 3);
        ASSERT_TRUE(movie.commit().ok());
    }
    const auto probe = probeMovie(target);
    ASSERT_TRUE(probe.opened);
    EXPECT_EQ(probe.frames, 3);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_EQ(probe.fps, 24.0);
    EXPECT_EQ(probe.fourcc, "DIVX");
    // AVI data whatever the extension
    const auto bytes = test::readFileBytes(target);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "AVI ");
    // nothing else left beside it
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{GetParam()});
}

INSTANTIATE_TEST_SUITE_P(Extensions, MovieFileWriting,
                         testing::Values("movie.avi", "sound.wav", "film.mp4", "noextension"));

TEST(MovieFile, NotCommittedLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const auto target = dir / "movie.avi";
    writeText(target, "old movie");
    {
        MovieFile movie;
        ASSERT_TRUE(movie.open(target).ok());
        movie.write(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)));
        EXPECT_TRUE(std::filesystem::exists(movie.temporaryPath()));
    }
    EXPECT_EQ(test::readFileText(target), "old movie");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"movie.avi"});
}

TEST(MovieFile, CommitReplacesAnOldFile) {
    TempDir dir;
    const auto target = dir / "movie.avi";
    writeText(target, "old movie");
    MovieFile movie;
    ASSERT_TRUE(movie.open(target).ok());
    movie.write(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)));
    ASSERT_TRUE(movie.commit().ok());
    EXPECT_EQ(probeMovie(target).frames, 1);
}

struct UnwritableRow {
    const char* name;
    std::string relativeTarget; // under the temporary folder; "<dir>" is the folder itself
};

class MovieFileUnwritable : public testing::TestWithParam<UnwritableRow> {};

TEST_P(MovieFileUnwritable, SaysWhichPathAndLeavesNothing) {
    TempDir dir;
    writeText(dir / "plain-file", "x");
    std::filesystem::create_directory(dir / "folder");
    const std::string rel = GetParam().relativeTarget;
    const std::filesystem::path target = rel.empty() ? dir.path() : dir / rel;
    const auto before = folderEntries(dir.path());

    MovieFile movie;
    const std::string message = movie.open(target).message();
    EXPECT_NE(message.find("Cannot write the movie to " + target.string()), std::string::npos)
        << message;
    EXPECT_EQ(folderEntries(dir.path()), before);
    EXPECT_FALSE(movie.commit().ok());
}

INSTANTIATE_TEST_SUITE_P(Targets, MovieFileUnwritable,
                         testing::Values(UnwritableRow{"MissingFolder", "no/such/movie.avi"},
                                         UnwritableRow{"FolderIsAFile", "plain-file/movie.avi"},
                                         UnwritableRow{"TargetIsAFolder", "folder"},
                                         UnwritableRow{"TheTemporaryFolderItself", ""}),
                         [](const testing::TestParamInfo<UnwritableRow>& info) {
                             return info.param.name;
                         });

} // namespace
} // namespace veltrana
