// Previews: paced pictures, outlying joins, and what the jobs show of each
// frame on rendered scans, measured against the truth they were rendered
// from.

#include "job/preview.h"

#include "movie/film_job.h"
#include "soundtrack/soundtrack_job.h"
#include "support/recording_observer.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

namespace veltrana {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A clock that moves only when the test moves it.
struct TestClock {
    Clock::time_point now{};
    std::function<Clock::time_point()> function() {
        return [this] { return now; };
    }
};

TEST(PicturePacer, SendsAtMostTheRateAskedFor) {
    TestClock clock;
    PreviewRequest request;
    request.picturesPerSecond = 5;
    request.clock = clock.function();
    PicturePacer pacer(request);
    EXPECT_TRUE(pacer.due());
    EXPECT_TRUE(pacer.take());
    // 0.2 s a picture: none before then, however often asked
    for (int k = 0; k < 19; ++k) {
        clock.now += 10ms;
        EXPECT_FALSE(pacer.due()) << k;
        EXPECT_FALSE(pacer.take()) << k;
    }
    clock.now += 10ms;
    EXPECT_TRUE(pacer.due());
    EXPECT_TRUE(pacer.take());
    // a long gap gives one picture, not a burst
    clock.now += 5s;
    EXPECT_TRUE(pacer.take());
    EXPECT_FALSE(pacer.take());
}

TEST(PicturePacer, SendsNothingUnlessAsked) {
    PicturePacer pacer(PreviewRequest{});
    EXPECT_FALSE(pacer.due());
    EXPECT_FALSE(pacer.take());
}

TEST(PreviewPicture, IsAtMost480PixelsOnItsLongSideInColour) {
    const cv::Mat grey(1975, 2500, CV_8UC1, cv::Scalar(77));
    const cv::Mat small = previewPicture(grey);
    EXPECT_EQ(small.cols, 480);
    EXPECT_EQ(small.rows, 379);
    EXPECT_EQ(small.type(), CV_8UC3);
    EXPECT_EQ(small.at<cv::Vec3b>(100, 100), cv::Vec3b(77, 77, 77));
    const cv::Mat tiny(100, 64, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_EQ(previewPicture(tiny).size(), tiny.size()); // never enlarged
}

// Keeps the previews; moves the test clock on by a tenth of a second a frame.
class PreviewObserver : public test::RecordingObserver {
public:
    PreviewRequest previewRequest() const override {
        ++requests;
        return request;
    }
    void framePreview(const FramePreview& preview) override {
        frames.push_back(preview);
        clock.now += 100ms;
    }
    void picturePreview(const FramePreview& preview, const cv::Mat& picture) override {
        pictures.push_back(preview.frame);
        pictureSizes.push_back(picture.size());
    }

    PreviewRequest request;
    mutable int requests = 0;
    TestClock clock;
    std::vector<FramePreview> frames;
    std::vector<int> pictures;
    std::vector<cv::Size> pictureSizes;
};

class JobPreviews : public testing::Test {
protected:
    synth::SynthTruth render(SoundtrackType film, bool up, int frames = 12) {
        synth::SynthOptions options;
        // a scanner that places its frames within a row
        options.jitter = 1;
        options.film = film;
        options.frames = frames;
        options.rotationUp = up;
        options.color = true;
        options.fps = 25;
        const synth::SynthResult rendered = synth::renderSampleScans(options, scans);
        EXPECT_TRUE(rendered.ok()) << rendered.error;
        return rendered.truth;
    }

    SoundtrackResult soundtrack(PreviewObserver& ui, SoundtrackType film, bool up, int frames) {
        SoundtrackJob job;
        job.observer = &ui;
        job.inputPath = scans;
        job.outputPath = dir / "sound.wav";
        job.stopFrame = frames;
        job.soundtrackType = film;
        job.filmSpeed = 25;
        job.trackSide = up ? TrackSide::Top : TrackSide::Bottom;
        job.threads = 2;
        return runSoundtrackJob(job);
    }

    test::TempDir dir;
    fs::path scans = dir / "scans";
};

TEST_F(JobPreviews, AreNotMadeUnlessAskedFor) {
    render(SoundtrackType::VariableArea35, true, 4);
    PreviewObserver ui; // asks for nothing
    ASSERT_TRUE(soundtrack(ui, SoundtrackType::VariableArea35, true, 4).succeeded());
    EXPECT_EQ(ui.requests, 1);
    EXPECT_TRUE(ui.frames.empty());
    EXPECT_TRUE(ui.pictures.empty());
}

TEST_F(JobPreviews, PicturesComeAtMostFiveTimesASecond) {
    render(SoundtrackType::VariableArea35, true);
    PreviewObserver ui;
    ui.request.frames = true;
    ui.request.picturesPerSecond = 5;
    ui.request.clock = ui.clock.function();
    ASSERT_TRUE(soundtrack(ui, SoundtrackType::VariableArea35, true, 12).succeeded());
    ASSERT_EQ(ui.frames.size(), 12u);
    // 12 frames at 0.1 s each last 1.2 s: one picture at the start, then one
    // each 0.2 s at most
    ASSERT_FALSE(ui.pictures.empty());
    EXPECT_LE(ui.pictures.size(), 7u);
    EXPECT_EQ(ui.pictures.front(), 1);
    for (std::size_t i = 1; i < ui.pictures.size(); ++i) {
        EXPECT_GE(ui.pictures[i] - ui.pictures[i - 1], 2);
    }
    for (const cv::Size size : ui.pictureSizes) {
        EXPECT_EQ(std::max(size.width, size.height), 480);
    }
}

TEST_F(JobPreviews, AFullApertureScanShowsItsFilmEdgeAndTheBandWhereTheyLie) {
    // the band along the right edge of upright scans whose film weaves
    synth::SynthOptions options;
    options.frames = 3;
    options.rotationUp = false;
    options.upright = true;
    options.fullAperture = true;
    options.weave = 15;
    const synth::SynthResult rendered = synth::renderSampleScans(options, scans);
    ASSERT_TRUE(rendered.ok()) << rendered.error;
    const synth::SynthLayout& l = rendered.truth.layout;
    PreviewObserver ui;
    ui.request.frames = true;
    SoundtrackJob job;
    job.observer = &ui;
    job.inputPath = scans;
    job.outputPath = dir / "sound.wav";
    job.stopFrame = 3;
    job.trackSide = TrackSide::Right;
    job.fullAperture = true;
    ASSERT_TRUE(runSoundtrackJob(job).succeeded());
    ASSERT_EQ(ui.frames.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const FramePreview& p = ui.frames[k];
        EXPECT_EQ(p.side, TrackSide::Right);
        // measured rows count from the band's side, here the file's right
        // edge, as the render's UP working columns do: the film's edge lies
        // past the gate and the light, moved by the weave, and the band
        // within the track width of the window after it
        const int weave = rendered.truth.scans[k].weave;
        const int window = l.windowFirstColumn + weave;
        ASSERT_TRUE(p.filmEdge.has_value());
        EXPECT_EQ(*p.filmEdge, window + l.aperture.edgeColumn);
        ASSERT_TRUE(p.band.has_value());
        EXPECT_GE(p.band->first, window);
        EXPECT_LT(p.band->last, window + l.trackWidth);
    }
}

class SoundtrackPreviewGeometry
    : public JobPreviews,
      public testing::WithParamInterface<std::tuple<SoundtrackType, bool>> {};

TEST_P(SoundtrackPreviewGeometry, ShowsTheBandOverTheTrackAndTheJoinsInOrder) {
    const auto [film, up] = GetParam();
    const synth::SynthTruth truth = render(film, up, 8);
    PreviewObserver ui;
    ui.request.frames = true;
    ASSERT_TRUE(soundtrack(ui, film, up, 8).succeeded());
    ASSERT_EQ(ui.frames.size(), 8u);

    // the track across the film, in rows of the scan file (mirrored for DOWN)
    const synth::SynthLayout& l = truth.layout;
    const double first = up ? l.trackFirstColumn : l.scanColumns - l.trackEndColumn;
    const double last = up ? l.trackEndColumn - 1 : l.scanColumns - 1 - l.trackFirstColumn;
    for (std::size_t k = 0; k < ui.frames.size(); ++k) {
        const FramePreview& f = ui.frames[k];
        SCOPED_TRACE(testing::Message() << "frame " << f.frame);
        EXPECT_EQ(f.frame, static_cast<int>(k) + 1);
        EXPECT_EQ(f.file, truth.scans[k].file);
        EXPECT_EQ(f.scanSize, cv::Size(l.scanRows, l.scanColumns));
        ASSERT_TRUE(f.band.has_value());
        // the band read lies on the track: inside it, give or take 2 rows
        EXPECT_GE(f.band->first, first - 2);
        EXPECT_LE(f.band->last, last + 2);
        EXPECT_GE(f.band->last - f.band->first, 0.5 * (last - first));
        EXPECT_EQ(f.join.has_value(), k > 0);
        EXPECT_TRUE(f.flags.empty());      // clean scans: nothing speaks against a join
        EXPECT_FALSE(f.score.has_value()); // the standard search gives none
        EXPECT_EQ(static_cast<int>(f.samples.size()), f.bounds.right - f.bounds.left + 1);
    }
    EXPECT_TRUE(ui.frames.front().resolution.has_value());
}

INSTANTIATE_TEST_SUITE_P(Films, SoundtrackPreviewGeometry,
                         testing::Combine(testing::Values(SoundtrackType::VariableArea35,
                                                          SoundtrackType::VariableDensity35,
                                                          SoundtrackType::VariableArea16),
                                          testing::Bool()));

TEST_F(JobPreviews, TheFilmJobShowsItsCutsAtTheFrameLines) {
    const synth::SynthTruth truth = render(SoundtrackType::VariableArea35, true, 5);
    PreviewObserver ui;
    ui.request.frames = true;
    FilmJob job;
    job.observer = &ui;
    job.inputPath = scans;
    job.outputPath = dir / "movie.avi";
    job.stopFrame = 5;
    ASSERT_TRUE(makeFilm(job).succeeded());
    ASSERT_EQ(ui.frames.size(), 5u);
    const int width = truth.layout.scanRows;
    for (std::size_t k = 0; k < ui.frames.size(); ++k) {
        const FramePreview& f = ui.frames[k];
        ASSERT_EQ(f.cuts.size(), 1u);
        const cv::Rect cut = f.cuts.front();
        EXPECT_FALSE(f.band.has_value());
        EXPECT_EQ(cut.y, 0);
        EXPECT_EQ(cut.height, truth.layout.scanColumns);
        // the film runs towards the file's left edge: the frame starts at the
        // cut's right edge, where a frame line gives way to the picture
        const int start = cut.x + cut.width - 1;
        int nearest = width;
        for (const auto& [lineFirst, lineEnd] : truth.scans[k].frameLines) {
            nearest = std::min(nearest, std::abs(start - (width - 1 - lineEnd)));
        }
        EXPECT_LE(nearest, 2) << "frame " << f.frame << " cut ends at column " << start;
    }
}

} // namespace
} // namespace veltrana
