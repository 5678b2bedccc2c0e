#include "movie/film_job.h"

#include "movie/movie_probe.h"
#include "support/recording_observer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <fstream>
#include <stdexcept>
#include <string>

namespace veltrana {
namespace {

using test::folderEntries;
using test::probeMovie;
using test::TempDir;

constexpr SoundtrackType kArea35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType kDensity35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType kArea16 = SoundtrackType::VariableArea16;

// A loaded scan: the film runs across (columns along the film). Dark frame
// lines at both ends, a brightening picture between them.
cv::Mat scanImage(int channels, int shade) {
    cv::Mat grey(240, 360, CV_8UC1);
    for (int r = 0; r < grey.rows; ++r) {
        for (int c = 0; c < grey.cols; ++c) {
            grey.at<uchar>(r, c) = static_cast<uchar>(60 + (c * 150) / grey.cols + shade);
        }
    }
    grey.colRange(0, 10).setTo(cv::Scalar(5));
    grey.colRange(350, 360).setTo(cv::Scalar(5));
    if (channels == 1) {
        return grey;
    }
    cv::Mat colour;
    cv::merge(std::vector<cv::Mat>{grey, grey / 2, grey}, colour);
    return colour;
}

// frame1.tif .. frameN.tif
void writeScans(const std::filesystem::path& dir, int count, int channels = 3) {
    for (int k = 1; k <= count; ++k) {
        ASSERT_TRUE(cv::imwrite((dir / ("frame" + std::to_string(k) + ".tif")).string(),
                                scanImage(channels, k)));
    }
}

struct JobRun {
    FilmResult result;
    test::RecordingObserver observer;
};

FilmJob jobFor(const TempDir& scans, const std::filesystem::path& movie, SoundtrackType type,
               int first, int last) {
    FilmJob job;
    job.soundtrackType = type;
    job.startFrame = first;
    job.stopFrame = last;
    job.manualResolution = true;
    job.resolutionX = 600;
    job.resolutionY = 600;
    job.inputPath = scans.path();
    job.outputPath = movie;
    return job;
}

void run(FilmJob job, JobRun& out) {
    job.observer = &out.observer;
    out.result = makeFilm(job);
}

// --- frames written and the progress bar --------------------------------------

struct CountRow {
    const char* name;
    SoundtrackType type;
    bool longStrip;
    int first;
    int last;
    int range;
    int movieFrames;
};

class FilmJobCounts : public testing::TestWithParam<CountRow> {};

TEST_P(FilmJobCounts, FramesAndProgress) {
    const CountRow& row = GetParam();
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 8);
    FilmJob job = jobFor(scans, out / "movie.avi", row.type, row.first, row.last);
    job.longStrip = row.longStrip;
    JobRun r;
    run(job, r);
    ASSERT_TRUE(r.result.succeeded()) << r.result.message;
    EXPECT_EQ(r.result.movieFrames, row.movieFrames);
    EXPECT_EQ(r.result.moviePath, out / "movie.avi");
    EXPECT_EQ(r.observer.ranges, std::vector<int>{row.range});
    ASSERT_FALSE(r.observer.positions.empty());
    EXPECT_EQ(r.observer.positions.back(), 0); // the bar ends empty
    EXPECT_EQ(*std::max_element(r.observer.positions.begin(), r.observer.positions.end()),
              row.range); // and was full before
    const auto probe = probeMovie(out / "movie.avi");
    EXPECT_EQ(probe.frames, row.movieFrames);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_EQ(probe.fps, 24.0);
    EXPECT_EQ(probe.fourcc, "DIVX");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FilmJobCounts,
    testing::Values(CountRow{"Area35Frames3To7", kArea35, false, 3, 7, 5, 5},
                    CountRow{"Density35", kDensity35, false, 1, 2, 2, 2},
                    CountRow{"LongStripIsNoMatterFor35mm", kArea35, true, 2, 3, 2, 2},
                    CountRow{"Sixteen1To2LongStrip", kArea16, true, 1, 2, 8, 8},
                    // one movie frame per scan, not none
                    CountRow{"SixteenWithoutLongStrip", kArea16, false, 1, 3, 12, 3},
                    CountRow{"OneFrame", kArea35, false, 8, 8, 1, 1}),
    [](const testing::TestParamInfo<CountRow>& info) { return info.param.name; });

// --- the log --------------------------------------------------------------------

TEST(FilmJobLog, ShowsAtMostSixLines) {
    // frame 1, resolution, frames 2..5 fill the box; frame 6 starts afresh
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 6);
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea35, 1, 6), r);
    ASSERT_TRUE(r.result.succeeded()) << r.result.message;
    EXPECT_EQ(r.observer.logText,
              "Cutting frame number : 6...\r\nPictures were cut succesfully!\r\n");
    EXPECT_EQ(r.observer.logTexts.at(1),
              "Cutting frame number : 1...\r\nPicture resolution (dpi) x=600,y=600 and color "
              "depth=8\r\n");
}

TEST(FilmJobLog, FrameNumbersAreThoseOfTheSequence) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 5);
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea35, 4, 5), r);
    ASSERT_TRUE(r.result.succeeded());
    EXPECT_EQ(r.observer.logTexts.front(), "Cutting frame number : 4...\r\n");
    EXPECT_TRUE(r.observer.logged("Cutting frame number : 5..."));
}

TEST(FilmJobLog, MeasuredResolutionIsReported) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 1);
    FilmJob job = jobFor(scans, out / "m.avi", kArea35, 1, 1);
    job.manualResolution = false;
    JobRun r;
    run(job, r);
    ASSERT_TRUE(r.result.succeeded()) << r.result.message;
    EXPECT_TRUE(r.observer.logged("Picture resolution (dpi) x=450,y=450 and color depth=8"))
        << r.observer.logText;
}

TEST(FilmJobLog, NominalPitchIsSaid) {
    // flat 16 mm scans: no frame edge to measure the pitch on
    TempDir scans;
    TempDir out;
    for (int k = 1; k <= 2; ++k) {
        // appended, not "f" + std::to_string(k): GCC 12 at -O3 takes that for
        // an overlapping copy (-Wrestrict)
        std::string name = "f";
        name += std::to_string(k);
        name += ".tif";
        cv::imwrite((scans / name).string(), cv::Mat(200, 300, CV_8UC1, cv::Scalar(180)));
    }
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea16, 1, 2), r);
    ASSERT_TRUE(r.result.succeeded()) << r.result.message;
    // 0.762 cm at 600 dpi: 180 rows
    EXPECT_TRUE(r.observer.logged("nominal 0.762 cm (180 rows)")) << r.observer.logText;
    EXPECT_EQ(probeMovie(out / "m.avi").frames, 2);
}

TEST(FilmJobLog, StartIsDisabledWhileRunning) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 1);
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea35, 1, 1), r);
    EXPECT_EQ(r.observer.startSwitches, (std::vector<bool>{false, true}));
}

// --- refusals and failures: clear message, nothing written ---------------------------

void expectNothingWritten(const JobRun& r, const TempDir& out, const TempDir& scans,
                          int scanCount) {
    EXPECT_FALSE(r.result.succeeded());
    EXPECT_EQ(r.result.movieFrames, 0);
    EXPECT_TRUE(folderEntries(out.path()).empty()) << folderEntries(out.path()).size();
    EXPECT_EQ(folderEntries(scans.path()).size(), static_cast<std::size_t>(scanCount));
    ASSERT_FALSE(r.observer.positions.empty());
    EXPECT_EQ(r.observer.positions.back(), 0);
    EXPECT_EQ(r.observer.startSwitches.back(), true);
}

TEST(FilmJobRefuses, RangePastTheLastScanBeforeReadingAny) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 3);
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea35, 2, 5), r);
    EXPECT_EQ(r.result.end, JobEnd::Refused);
    EXPECT_NE(r.result.message.find("found 3 scans"), std::string::npos) << r.result.message;
    EXPECT_FALSE(r.observer.logged("Cutting frame number"));
    EXPECT_EQ(r.observer.logText, r.result.message);
    expectNothingWritten(r, out, scans, 3);
}

TEST(FilmJobRefuses, NoScansAtAll) {
    TempDir scans;
    TempDir out;
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea35, 1, 1), r);
    EXPECT_EQ(r.result.end, JobEnd::Refused);
    EXPECT_NE(r.result.message.find("found 0 scans"), std::string::npos) << r.result.message;
    expectNothingWritten(r, out, scans, 0);
}

struct ResolutionRow {
    int x;
    int y;
};

class FilmJobRefusesResolution : public testing::TestWithParam<ResolutionRow> {};

TEST_P(FilmJobRefusesResolution, OfNoSize) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 2);
    FilmJob job = jobFor(scans, out / "m.avi", kArea35, 1, 2);
    job.resolutionX = GetParam().x;
    job.resolutionY = GetParam().y;
    JobRun r;
    run(job, r);
    EXPECT_EQ(r.result.end, JobEnd::Refused);
    EXPECT_NE(r.result.message.find("manual resolution"), std::string::npos) << r.result.message;
    EXPECT_FALSE(r.observer.logged("Cutting frame number"));
    expectNothingWritten(r, out, scans, 2);
}

INSTANTIATE_TEST_SUITE_P(Zero, FilmJobRefusesResolution,
                         testing::Values(ResolutionRow{0, 0}, ResolutionRow{0, 1800},
                                         ResolutionRow{1800, 0}, ResolutionRow{-5, 1800}));

TEST(FilmJobFails, UnreadableScanLeavesNoMovieAndTheOldOneAlone) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 3);
    std::ofstream(scans / "frame2.tif", std::ios::binary) << "not an image";
    std::ofstream(out / "m.avi", std::ios::binary) << "old movie";
    JobRun r;
    run(jobFor(scans, out / "m.avi", kArea35, 1, 3), r);
    EXPECT_EQ(r.result.end, JobEnd::UnreadableFrame);
    EXPECT_EQ(r.observer.logText.rfind("No tif file !!!\r\nCannot read the scan ", 0), 0u)
        << r.observer.logText;
    EXPECT_NE(r.result.message.find("frame2.tif"), std::string::npos) << r.result.message;
    EXPECT_EQ(folderEntries(out.path()), std::vector<std::string>{"m.avi"});
    EXPECT_EQ(test::readFileText(out / "m.avi"), "old movie");
}

TEST(FilmJobFails, MovieThatCannotBeCreatedNamesThePath) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 2);
    const auto target = out / "missing" / "m.avi";
    JobRun r;
    run(jobFor(scans, target, kArea35, 1, 2), r);
    EXPECT_EQ(r.result.end, JobEnd::OutputNotWritten);
    EXPECT_NE(r.result.message.find(target.string()), std::string::npos) << r.result.message;
    EXPECT_FALSE(r.observer.logged("Cutting frame number"));
    expectNothingWritten(r, out, scans, 2);
}

TEST(FilmJobFails, CancelledWritesNothing) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 2);
    const std::atomic<bool> cancel{true};
    FilmJob job = jobFor(scans, out / "m.avi", kArea35, 1, 2);
    job.stopRequested = &cancel;
    JobRun r;
    run(job, r);
    EXPECT_EQ(r.result.end, JobEnd::Stopped);
    expectNothingWritten(r, out, scans, 2);
}

// The image library and allocations may throw anywhere in a run; both jobs
// end it with the same words.
struct ThrowingOnProgress : JobObserver {
    explicit ThrowingOnProgress(bool standard) : standard(standard) {}
    void setLogText(const std::string& text) override { logText = text; }
    void setProgressRange(int) override {}
    void setProgressStep(int) override {}
    void stepProgress() override {}
    // the film job moves its bar after each frame, and empties it at the end
    void setProgressPosition(int position) override {
        lastPosition = position;
        if (position == 0) {
            return;
        }
        if (standard) {
            throw std::runtime_error("out of memory");
        }
        throw 42; // not even an exception class
    }
    void enableStart(bool enabled) override { startEnabled = enabled; }
    void enableStop(bool) override {}
    bool standard;
    std::string logText;
    int lastPosition = -1;
    bool startEnabled = false;
};

TEST(FilmJobFails, AnErrorInsideTheRunEndsItWithNoMovie) {
    for (const bool standard : {true, false}) {
        TempDir scans;
        TempDir out;
        writeScans(scans.path(), 3);
        ThrowingOnProgress throwing(standard);
        FilmJob job = jobFor(scans, out / "m.avi", kArea35, 1, 3);
        job.observer = &throwing;
        const FilmResult result = makeFilm(job);
        EXPECT_EQ(result.end, JobEnd::Error);
        EXPECT_EQ(throwing.logText, standard ? "The run ended on an error: out of memory"
                                             : "The run ended on an error: unknown error");
        EXPECT_EQ(result.message, throwing.logText);
        EXPECT_EQ(throwing.lastPosition, 0);
        EXPECT_TRUE(throwing.startEnabled);
        EXPECT_TRUE(folderEntries(out.path()).empty());
    }
}

TEST(FilmJob, RunsWithoutAnObserver) {
    TempDir scans;
    TempDir out;
    writeScans(scans.path(), 1, 1);
    FilmJob job = jobFor(scans, out / "m.avi", kDensity35, 1, 1);
    EXPECT_TRUE(makeFilm(job).succeeded());
    EXPECT_EQ(probeMovie(out / "m.avi").frames, 1);
}

} // namespace
} // namespace veltrana
