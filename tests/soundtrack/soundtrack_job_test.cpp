#include "soundtrack/soundtrack_job.h"

#include "support/recording_observer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <tuple>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// A directory of small plain scans; the picture does not matter here, only
// the walk through the frames and what is written at the end.
class SoundtrackJobRun : public testing::Test {
protected:
    void SetUp() override {
        for (int i = 1; i <= 6; ++i) {
            writeScan(i);
        }
        job.observer = &ui;
        job.inputPath = dir / "frame_01.tif";
        job.outputPath = out / "sound.wav";
        job.manualResolution = true;
        job.resolutionX = 1200;
        job.resolutionY = 1200;
        fs::create_directory(out.path() / "");
    }

    void writeScan(int i) {
        cv::Mat scan(64, 200, CV_8UC3);
        for (int c = 0; c < scan.cols; ++c) {
            scan.col(c).setTo(cv::Scalar(c % 256, (c * 3 + i) % 256, (c * 7 + i * 5) % 256));
        }
        char name[32];
        std::snprintf(name, sizeof name, "frame_%02d.tif", i);
        ASSERT_TRUE(cv::imwrite((dir / name).string(), scan));
    }

    bool nothingWritten() const {
        return !fs::exists(dir / "leng.txt") && !fs::exists(out / "sound.wav") &&
               std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()) == 0;
    }

    test::TempDir dir;
    test::TempDir out;
    test::RecordingObserver ui;
    SoundtrackJob job;
};

TEST_F(SoundtrackJobRun, OneFrameWritesAnEmptySoundAtTheFilmRate) {
    job.startFrame = 3;
    job.stopFrame = 3;
    const SoundtrackResult r = runSoundtrackJob(job);
    ASSERT_TRUE(r.succeeded()) << r.message;
    EXPECT_EQ(test::readFileText(dir / "leng.txt"), "0 ");
    const auto wav = test::readFileBytes(out / "sound.wav");
    ASSERT_EQ(wav.size(), 46u);
    // 25 frames per second x a pitch of 907 rows at 1200 dpi
    EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16, 22675);
    EXPECT_EQ(r.sampleRate, 22675u);
}

TEST_F(SoundtrackJobRun, SixFramesShowTwoLinesAndDriveTheControlsInOrder) {
    job.startFrame = 1;
    job.stopFrame = 6;
    job.filmSpeed = 24;
    ASSERT_TRUE(runSoundtrackJob(job).succeeded());
    // the stripes vary along the film only: nothing like a variable-area
    // track, which the run says between its two lines
    EXPECT_EQ(ui.logText,
              "Translating frame number : 6...\r\nWarning: The band read does not look like a "
              "variable-area track (dark, clear and dark again across) on 6 of 6 frames: it may "
              "be the picture or the film's edge; check the frame rotation (UP or DOWN) or the "
              "track side, and the film type\r\nPictures were tranlated succesfully!\r\n");
    ASSERT_GE(ui.calls.size(), 4u);
    EXPECT_EQ(ui.calls[0], "start off");
    EXPECT_EQ(ui.calls[1], "range 6");
    EXPECT_EQ(ui.calls[2], "step 1");
    EXPECT_EQ(ui.calls.back(), "start on");
    EXPECT_EQ(ui.steps, 6);
    EXPECT_FALSE(ui.stopEnabled); // the finished end leaves Stop alone
    // six join positions on one line, the first 0
    const std::string lengths = test::readFileText(dir / "leng.txt");
    EXPECT_EQ(lengths.rfind("0 ", 0), 0u);
    EXPECT_EQ(std::count(lengths.begin(), lengths.end(), ' '), 6);
    EXPECT_EQ(lengths.find('\n'), std::string::npos);
    const auto wav = test::readFileBytes(out / "sound.wav");
    EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16, 24 * 907);
}

TEST_F(SoundtrackJobRun, AResolutionSnappedFarFromItsMeasureIsPointedOut) {
    // 64 rows across the film measure 77 dpi, which the bands take as 450
    job.manualResolution = false;
    job.stopFrame = 1;
    ASSERT_TRUE(runSoundtrackJob(job).succeeded());
    EXPECT_NE(ui.logText.find("Measured x=77,"), std::string::npos) << ui.logText;
    EXPECT_NE(ui.logText.find("give the resolution by hand"), std::string::npos);
}

TEST_F(SoundtrackJobRun, TheFirstFrameIsTheNthFileOfTheListing) {
    // frames 1 to 4 unreadable: a run of 5 to 6 never touches them
    for (int i = 1; i <= 4; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%02d.tif", i);
        std::ofstream(dir / name) << "garbage";
    }
    job.startFrame = 5;
    job.stopFrame = 6;
    EXPECT_TRUE(runSoundtrackJob(job).succeeded());
}

TEST_F(SoundtrackJobRun, AnUnreadableFrameEndsTheRunAndWritesNothing) {
    std::ofstream(dir / "frame_04.tif") << "garbage";
    job.stopFrame = 6;
    const SoundtrackResult r = runSoundtrackJob(job);
    EXPECT_EQ(r.end, JobEnd::UnreadableFrame);
    EXPECT_NE(r.message.find("frame_04.tif"), std::string::npos);
    // the words users know, and beneath them the file and the cause
    EXPECT_EQ(ui.logText.rfind("Wrong file format !!!\r\nCannot read the scan ", 0), 0u)
        << ui.logText;
    EXPECT_NE(ui.logText.find("frame_04.tif: it is not a TIFF file"), std::string::npos);
    EXPECT_TRUE(ui.startEnabled);
    EXPECT_TRUE(ui.stopEnabled);
    EXPECT_EQ(ui.calls[ui.calls.size() - 4], "pos 0");
    EXPECT_TRUE(nothingWritten());
    EXPECT_EQ(SoundtrackWorker(&job), -1);
}

TEST_F(SoundtrackJobRun, AStopBeforeTheFirstTestWritesNothingAndKeepsTheOldSound) {
    std::ofstream(out / "sound.wav") << "old sound";
    job.stopFrame = 6;
    const std::atomic<bool> stop{true};
    job.stopRequested = &stop;
    const SoundtrackResult r = runSoundtrackJob(job);
    EXPECT_EQ(r.end, JobEnd::Stopped);
    EXPECT_EQ(ui.logText, "Operation stopped !!!!");
    EXPECT_TRUE(ui.startEnabled);
    EXPECT_TRUE(ui.stopEnabled);
    EXPECT_FALSE(fs::exists(dir / "leng.txt"));
    EXPECT_EQ(test::readFileText(out / "sound.wav"), "old sound");
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(SoundtrackWorker(&job), 0);
}

TEST_F(SoundtrackJobRun, ARangePastTheLastScanIsRefusedBeforeAnyFrameIsRead) {
    job.startFrame = 5;
    job.stopFrame = 9;
    const SoundtrackResult r = runSoundtrackJob(job);
    EXPECT_EQ(r.end, JobEnd::Refused);
    EXPECT_NE(r.message.find("found 6 scans"), std::string::npos) << r.message;
    EXPECT_EQ(ui.logText.find("Translating"), std::string::npos);
    EXPECT_TRUE(nothingWritten());
    EXPECT_TRUE(ui.startEnabled);
}

TEST_F(SoundtrackJobRun, AManualResolutionOfZeroIsRefused) {
    for (auto [x, y] : {std::tuple{0, 0}, std::tuple{1200, 0}, std::tuple{0, 1200}}) {
        job.resolutionX = x;
        job.resolutionY = y;
        const SoundtrackResult r = runSoundtrackJob(job);
        EXPECT_EQ(r.end, JobEnd::Refused);
        EXPECT_TRUE(nothingWritten());
    }
}

TEST_F(SoundtrackJobRun, LengthsThatCannotBeWrittenStillGiveTheSound) {
    fs::create_directory(dir / "leng.txt"); // a directory where the file belongs
    job.stopFrame = 3;
    const SoundtrackResult r = runSoundtrackJob(job);
    EXPECT_EQ(r.end, JobEnd::SideFilesNotWritten);
    EXPECT_NE(ui.logText.find("leng.txt"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(out / "sound.wav"));
    EXPECT_TRUE(ui.startEnabled);
}

TEST_F(SoundtrackJobRun, DiagnosticsThatCannotBeWrittenAreReportedOnceAndChangeNoJoin) {
    job.stopFrame = 4;
    ASSERT_TRUE(runSoundtrackJob(job).succeeded());
    const std::string joins = test::readFileText(dir / "leng.txt");
    fs::remove(dir / "v.txt");
    fs::create_directory(dir / "v.txt");
    const SoundtrackResult r = runSoundtrackJob(job);
    ASSERT_TRUE(r.succeeded()) << r.message;
    EXPECT_EQ(test::readFileText(dir / "leng.txt"), joins);
}

TEST_F(SoundtrackJobRun, AnOutputThatCannotBeCreatedIsNamed) {
    job.outputPath = out / "no-such-dir" / "sound.wav";
    job.stopFrame = 2;
    const SoundtrackResult r = runSoundtrackJob(job);
    EXPECT_EQ(r.end, JobEnd::OutputNotWritten);
    EXPECT_NE(r.message.find(job.outputPath.string()), std::string::npos);
    EXPECT_NE(ui.logText.find(job.outputPath.string()), std::string::npos);
    EXPECT_TRUE(ui.startEnabled);
}

TEST_F(SoundtrackJobRun, AnErrorInsideTheRunEndsItWithNothingWritten) {
    // the image library and allocations may throw anywhere in a run
    struct ThrowingObserver : test::RecordingObserver {
        void stepProgress() override { throw std::runtime_error("out of memory"); }
    } throwing;
    job.observer = &throwing;
    job.stopFrame = 3;
    const SoundtrackResult r = runSoundtrackJob(job);
    EXPECT_EQ(r.end, JobEnd::Error);
    EXPECT_EQ(throwing.logText, "The run ended on an error: out of memory");
    EXPECT_TRUE(throwing.startEnabled);
    EXPECT_TRUE(nothingWritten());
}

TEST(SoundtrackLengths, EveryJoinFollowedByABlank) {
    EXPECT_EQ(joinPositionsText(std::vector<int>{0, 907, 906}), "0 907 906 ");
    EXPECT_EQ(joinPositionsText(std::vector<int>{0}), "0 ");
}

} // namespace
} // namespace veltrana
