// The film job on several threads makes the movie it makes on one, frame
// for frame, with the same calls to its observer, however the run ends.

#include "movie/film_job.h"

#include "movie/movie_probe.h"
#include "support/recording_observer.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    SoundtrackType film = SoundtrackType::VariableArea35;
    bool color = true;
    bool longStrip = false;
    bool inverse = false;
    bool cutSoundtrack = false;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

struct Outcome {
    JobEnd end = JobEnd::Finished;
    std::string message;
    std::vector<cv::Mat> frames; // decoded from the movie
    bool movieLeft = false;
    std::vector<std::string> calls;
    std::vector<std::string> logTexts;
};

// Records the calls; interrupts the run (as Ctrl-C does) when a line appears.
class InterruptingObserver : public test::RecordingObserver {
public:
    void setLogText(const std::string& text) override {
        RecordingObserver::setLogText(text);
        if (interruptAt != nullptr && text.find(interruptAt) != std::string::npos) {
            interrupt.store(true);
        }
    }
    const char* interruptAt = nullptr;
    std::atomic<bool> interrupt{false};
};

class FilmPipeline : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        const Case& c = GetParam();
        synth::SynthOptions options;
        options.film = c.film;
        options.frames = 7;
        options.color = c.color;
        options.longStrip = c.longStrip;
        options.noise = true;
        ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    }

    Outcome run(int threads, const char* interruptAt = nullptr) {
        const Case& c = GetParam();
        const fs::path movie = dir / ("movie" + std::to_string(threads) + ".avi");
        InterruptingObserver ui;
        ui.interruptAt = interruptAt;
        FilmJob job;
        job.soundtrackType = c.film;
        job.longStrip = c.longStrip;
        job.inverse = c.inverse;
        job.cutSoundtrack = c.cutSoundtrack;
        job.startFrame = 1;
        job.stopFrame = 7;
        job.observer = &ui;
        job.inputPath = scans;
        job.outputPath = movie;
        job.stopRequested = &ui.interrupt;
        job.threads = threads;
        const FilmResult result = makeFilm(job);
        Outcome o;
        o.end = result.end;
        o.message = result.message;
        o.movieLeft = fs::exists(movie);
        if (o.movieLeft) {
            o.frames = test::probeMovie(movie, true).images;
        }
        o.calls = ui.calls;
        o.logTexts = ui.logTexts;
        return o;
    }

    static void expectSame(const Outcome& one, const Outcome& many, int threads) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        EXPECT_EQ(one.end, many.end);
        EXPECT_EQ(one.message, many.message);
        EXPECT_EQ(one.calls, many.calls);
        EXPECT_EQ(one.logTexts, many.logTexts);
        EXPECT_EQ(one.movieLeft, many.movieLeft);
        ASSERT_EQ(one.frames.size(), many.frames.size());
        for (std::size_t i = 0; i < one.frames.size(); ++i) {
            EXPECT_EQ(cv::norm(one.frames[i], many.frames[i], cv::NORM_INF), 0.0) << "frame " << i;
        }
    }

    // Nothing but the scans and the movies asked for.
    void expectNoTemporaries() const {
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_EQ(entry.path().filename().string().rfind(".veltrana-", 0), std::string::npos)
                << entry.path();
        }
    }

    test::TempDir dir;
    fs::path scans = dir / "scans";
};

TEST_P(FilmPipeline, AnyNumberOfThreadsGivesTheSameMovieAndCalls) {
    const Outcome one = run(1);
    ASSERT_EQ(one.end, JobEnd::Finished) << one.message;
    EXPECT_EQ(one.frames.size(), GetParam().longStrip ? 28u : 7u);
    for (int threads : {2, 4}) {
        expectSame(one, run(threads), threads);
    }
    expectNoTemporaries();
}

TEST_P(FilmPipeline, AnInterruptionInTheMiddleEndsAtTheSameFrameWithNoMovie) {
    const Outcome one = run(1, "Cutting frame number : 3...");
    ASSERT_EQ(one.end, JobEnd::Stopped);
    EXPECT_EQ(one.message, "Stopped at frame 4: no movie written");
    EXPECT_FALSE(one.movieLeft);
    expectSame(one, run(4, "Cutting frame number : 3..."), 4);
    expectNoTemporaries();
}

TEST_P(FilmPipeline, AnUnreadableScanInTheMiddleEndsTheRunTheSameWay) {
    std::ofstream(scans / "frame_0004.tif", std::ios::binary | std::ios::trunc) << "II*";
    const Outcome one = run(1);
    ASSERT_EQ(one.end, JobEnd::UnreadableFrame);
    EXPECT_NE(one.message.find("frame_0004.tif"), std::string::npos) << one.message;
    EXPECT_FALSE(one.movieLeft);
    for (const std::string& text : one.logTexts) {
        EXPECT_EQ(text.find("frame number : 5"), std::string::npos);
    }
    expectSame(one, run(4), 4);
    expectNoTemporaries();
}

const SoundtrackType VA35 = SoundtrackType::VariableArea35;
const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
const SoundtrackType VA16 = SoundtrackType::VariableArea16;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, FilmPipeline,
    testing::Values(
        Case{.name = "va35_colour_cut", .cutSoundtrack = true},
        Case{.name = "vd35_grey_inverse", .film = VD35, .color = false, .inverse = true},
        Case{.name = "va16_long_strip", .film = VA16, .longStrip = true}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on
#pragma GCC diagnostic pop

} // namespace
} // namespace veltrana
