// The observer that gathers a run report beside the observer that shows the
// run, the report written at a run's end, and the settings a report lists.

#include "report/report_settings.h"
#include "report/reporting_observer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// Counts what reaches it; asks for previews as it is told.
class CountingObserver : public NullObserver {
public:
    PreviewRequest previewRequest() const override { return asked; }
    void framePreview(const FramePreview&) override { ++frames; }
    void picturePreview(const FramePreview&, const cv::Mat&) override { ++pictures; }
    PreviewRequest asked;
    int frames = 0;
    int pictures = 0;
};

// A clock that stands still: a pacer with a period lets one picture through.
std::chrono::steady_clock::time_point stillClock() {
    return std::chrono::steady_clock::time_point();
}

void sendFrames(JobObserver& observer, int count) {
    for (int frame = 1; frame <= count; ++frame) {
        FramePreview p;
        p.frame = frame;
        observer.framePreview(p);
        observer.picturePreview(p, cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(9)));
    }
}

TEST(ReportingObserver, AsksForEveryFrameOnlyWhenReporting) {
    CountingObserver shown;
    const ReportingObserver plain(shown, nullptr);
    EXPECT_FALSE(plain.previewRequest().frames);
    EXPECT_EQ(plain.previewRequest().picturesPerSecond, 0);

    RunCollector collector(RunKind::Soundtrack, {}, 1, 3);
    ReportingObserver reporting(shown, &collector);
    const PreviewRequest request = reporting.previewRequest();
    EXPECT_TRUE(request.frames);
    // a picture of every frame: no time between them
    const PicturePacer pacer(request);
    EXPECT_TRUE(pacer.due());
    sendFrames(reporting, 1);
    EXPECT_EQ(collector.framesSeen(), 1u);
    EXPECT_EQ(collector.picturesHeld(), 1u);
    // the shown observer asked for nothing and gets nothing
    EXPECT_EQ(shown.frames, 0);
    EXPECT_EQ(shown.pictures, 0);
}

TEST(ReportingObserver, TheShownObserverGetsWhatItAskedForAtItsOwnPace) {
    CountingObserver shown;
    shown.asked.frames = true;
    shown.asked.picturesPerSecond = 5;
    shown.asked.clock = stillClock;
    RunCollector collector(RunKind::Soundtrack, {}, 1, 3);
    ReportingObserver reporting(shown, &collector);
    sendFrames(reporting, 3);
    EXPECT_EQ(shown.frames, 3);
    EXPECT_EQ(shown.pictures, 1);
    EXPECT_EQ(collector.framesSeen(), 3u);

    // without a report it gets every call the job makes, as without the wrapper
    CountingObserver alone;
    ReportingObserver plain(alone, nullptr);
    sendFrames(plain, 3);
    EXPECT_EQ(alone.frames, 3);
    EXPECT_EQ(alone.pictures, 3);
}

TEST(ReportingObserver, EveryFrameGetsAPictureFromThePacer) {
    CountingObserver shown;
    RunCollector collector(RunKind::Soundtrack, {}, 1, 3);
    const ReportingObserver reporting(shown, &collector);
    PreviewRequest request = reporting.previewRequest();
    request.clock = stillClock;
    PicturePacer pacer(request);
    for (int k = 0; k < 100; ++k) {
        EXPECT_TRUE(pacer.take()) << k;
    }
}

TEST(FinishRunReport, ARunThatReadNoFrameWritesNoneAndSaysSo) {
    const test::TempDir dir;
    RunCollector collector(RunKind::Soundtrack, {}, 1, 3);
    const Result<fs::path> page = finishRunReport(collector, dir / "report", JobEnding{}, {});
    ASSERT_FALSE(page);
    EXPECT_EQ(page.message(),
              "no report written to " + (dir / "report").string() + ": the run read no frame");
    EXPECT_FALSE(fs::exists(dir / "report"));
}

TEST(FinishRunReport, AReportThatCannotBeWrittenSaysWhy) {
    const test::TempDir dir;
    RunCollector collector(RunKind::Film, {}, 1, 1);
    NullObserver none;
    ReportingObserver reporting(none, &collector);
    sendFrames(reporting, 1);
    const Result<fs::path> page =
        finishRunReport(collector, dir / "missing" / "report", JobEnding{}, {});
    ASSERT_FALSE(page);
    EXPECT_EQ(page.message().rfind("the run report was not written. ", 0), 0u) << page.message();
}

TEST(FinishRunReport, AFailedRunIsReportedWithItsMessageAndNoOutputs) {
    const test::TempDir dir;
    RunCollector collector(RunKind::Soundtrack, {}, 1, 2);
    NullObserver none;
    ReportingObserver reporting(none, &collector);
    sendFrames(reporting, 1);
    SoundtrackResult result;
    result.end = JobEnd::Stopped;
    result.message = "The run was stopped.";
    const Result<fs::path> page =
        finishRunReport(collector, dir.path(), result, soundtrackWritten(result));
    ASSERT_TRUE(page) << page.message();
    EXPECT_EQ(*page, dir / "report.html");
    std::ifstream in(dir / "report.json");
    const nlohmann::json json = nlohmann::json::parse(in);
    EXPECT_EQ(json["ended"], "stopped");
    EXPECT_TRUE(json["outputs"].empty());
}

TEST(RunWritten, NamesWhatEachJobWrote) {
    SoundtrackResult sound;
    sound.wavPath = "/out/reel.wav";
    sound.lengthsPath = "/scans/leng.txt";
    sound.sampleCount = 4000;
    sound.sampleRate = 22950;
    const RunWritten heard = soundtrackWritten(sound);
    EXPECT_EQ(heard.done, "The sound was written to /out/reel.wav (4000 samples at 22950 Hz).");
    EXPECT_EQ(heard.outputs, std::vector<fs::path>({"/out/reel.wav", "/scans/leng.txt"}));
    EXPECT_EQ(heard.sound, "/out/reel.wav");

    FilmResult film;
    film.moviePath = "/out/reel.avi";
    film.movieFrames = 12;
    const RunWritten seen = filmWritten(film);
    EXPECT_EQ(seen.done, "The movie was written to /out/reel.avi (12 frames).");
    EXPECT_EQ(seen.outputs, std::vector<fs::path>({"/out/reel.avi"}));
    film.end = JobEnd::Stopped;
    EXPECT_TRUE(filmWritten(film).outputs.empty());
}

std::string settingOf(const std::vector<RunSetting>& settings, const std::string& label) {
    for (const RunSetting& setting : settings) {
        if (setting.label == label) {
            return setting.value;
        }
    }
    return "(none)";
}

TEST(ReportSettings, ListTheJobsSettingsInTheReportsWords) {
    SoundtrackJob job;
    job.inputPath = "/scans";
    job.outputPath = "/out/reel.wav";
    job.startFrame = 3;
    job.stopFrame = 40;
    job.soundtrackType = SoundtrackType::VariableArea16;
    job.trackSide = TrackSide::Left;
    job.manualResolution = true;
    job.resolutionX = 1200;
    job.resolutionY = 2400;
    job.colorElement = ColorElement::Y;
    job.fullAperture = true;
    job.onUnreadable = UnreadableScan::Silence;
    const std::vector<RunSetting> settings = soundtrackReportSettings(job, resolutionGiven(job));
    ASSERT_EQ(settings.size(), 22u);
    EXPECT_EQ(settings[1].label, "Scans");
    EXPECT_EQ(settings[1].value, "/scans");
    EXPECT_EQ(settingOf(settings, "Frames"), "3 to 40");
    EXPECT_EQ(settingOf(settings, "Film"), "16 mm variable area (16va)");
    EXPECT_EQ(settingOf(settings, "Resolution"), "1200:2400 dpi, as given");
    EXPECT_EQ(settingOf(settings, "Soundtrack along"), "the left edge (the picture upright)");
    EXPECT_EQ(settingOf(settings, "Largest scan read"), "100 megapixels");
    EXPECT_EQ(settingOf(settings, "Colour element read"), "Y");
    EXPECT_EQ(settingOf(settings, "Film speed"), "25 frames per second");
    EXPECT_EQ(settings[16].label, "Full-aperture scans");
    EXPECT_EQ(settings[16].value, "yes");
    EXPECT_EQ(settings.back().value, "silence");

    FilmJob film;
    film.outputPath = "/out/reel.avi";
    const std::vector<RunSetting> seen = filmReportSettings(film, resolutionGiven(film));
    EXPECT_EQ(seen.size(), 12u);
    EXPECT_EQ(settingOf(seen, "Resolution"), "measured on the first frame");
    EXPECT_EQ(settingOf(seen, "Soundtrack band cut off"), "no");
    EXPECT_EQ(settingOf(seen, "Film speed"), "(none)");
}

} // namespace
} // namespace veltrana
