// The soundtrack job on several threads gives what it gives on one: the same
// files, byte for byte, and the same calls to its observer in the same
// order, whether it finishes, is stopped, or meets an unreadable scan.

#include "soundtrack/soundtrack_job.h"

#include "support/recording_observer.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    SoundtrackType film = SoundtrackType::VariableArea35;
    bool up = true;
    bool color = true;
    bool longStrip = false;
    bool noise = false;
    ColorElement element = ColorElement::R;
    bool cutByAnalysis = false;
    bool inverse = false;
    bool archival = false;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Everything a run left behind and showed.
struct Outcome {
    JobEnd end = JobEnd::Finished;
    std::string message;
    std::map<std::string, std::vector<unsigned char>> files; // name -> bytes
    std::vector<std::string> calls;
    std::vector<std::string> logTexts;
};

// Records the calls; asks for a stop when a line appears.
class LoggingObserver : public test::RecordingObserver {
public:
    void setLogText(const std::string& text) override {
        RecordingObserver::setLogText(text);
        if (stopAt != nullptr && text.find(stopAt) != std::string::npos && job != nullptr) {
            stop.store(true);
        }
    }
    const char* stopAt = nullptr; // asks for a stop when this line appears
    SoundtrackJob* job = nullptr;
    std::atomic<bool> stop{false};
};

class SoundtrackPipeline : public testing::TestWithParam<Case> {
protected:
    void render(int frames) {
        const Case& c = GetParam();
        synth::SynthOptions options;
        options.film = c.film;
        options.frames = frames;
        options.color = c.color;
        options.rotationUp = c.up;
        options.longStrip = c.longStrip;
        options.noise = c.noise;
        options.fps = 25;
        ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    }

    Outcome run(int threads, const char* stopAt = nullptr) {
        const Case& c = GetParam();
        const fs::path out = dir / ("out" + std::to_string(threads));
        fs::create_directory(out);
        LoggingObserver ui;
        SoundtrackJob job;
        ui.stopAt = stopAt;
        ui.job = &job;
        job.observer = &ui;
        job.stopRequested = &ui.stop;
        job.inputPath = scans;
        job.outputPath = out / "sound.wav";
        job.startFrame = 1;
        job.stopFrame = frameCount;
        job.soundtrackType = c.film;
        job.filmSpeed = 25;
        job.longStrip = c.longStrip;
        job.colorElement = c.element;
        job.cutByAnalysis = c.cutByAnalysis;
        job.inverse = c.inverse;
        job.trackSide = c.up ? TrackSide::Top : TrackSide::Bottom;
        job.threads = threads;
        if (c.archival) {
            job.archivalLevels = true;
            job.preciseJoins = true;
            job.bitsPerSample = 24;
            job.outputRate = 48000;
        }
        const SoundtrackResult result = runSoundtrackJob(job);
        Outcome o;
        o.end = result.end;
        o.message = result.message;
        for (const fs::path& folder : {out, scans}) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind("frame_", 0) == 0 || name.rfind("truth", 0) == 0) {
                    continue;
                }
                o.files[name] = test::readFileBytes(entry.path());
                // the next run starts from the scans as rendered
                if (folder == scans) {
                    fs::remove(entry.path());
                }
            }
        }
        if (o.files.count("sound.wav") != 0) {
            test::blankOriginationTime(o.files["sound.wav"]);
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
        ASSERT_EQ(one.files.size(), many.files.size());
        for (const auto& [name, bytes] : one.files) {
            const auto other = many.files.find(name);
            ASSERT_NE(other, many.files.end()) << name;
            EXPECT_TRUE(bytes == other->second) << name << " differs";
        }
    }

    test::TempDir dir;
    fs::path scans = dir / "scans";
    int frameCount = 9;
};

TEST_P(SoundtrackPipeline, AnyNumberOfThreadsGivesTheSameFilesAndCalls) {
    render(frameCount);
    const Outcome one = run(1);
    ASSERT_EQ(one.end, JobEnd::Finished) << one.message;
    EXPECT_EQ(one.files.count("leng.txt"), 1u);
    EXPECT_EQ(one.files.count("sound.wav"), 1u);
    for (int threads : {2, 4}) {
        expectSame(one, run(threads), threads);
    }
}

TEST_P(SoundtrackPipeline, AStopInTheMiddleEndsAtTheSameFrameWithNothingWritten) {
    render(frameCount);
    const Outcome one = run(1, "Translating frame number : 4...");
    ASSERT_EQ(one.end, JobEnd::Stopped);
    EXPECT_TRUE(one.files.empty());
    expectSame(one, run(4, "Translating frame number : 4..."), 4);
}

TEST_P(SoundtrackPipeline, AnUnreadableScanInTheMiddleEndsTheRunTheSameWay) {
    render(frameCount);
    std::ofstream(scans / "frame_0005.tif", std::ios::binary | std::ios::trunc) << "not a scan";
    const Outcome one = run(1);
    ASSERT_EQ(one.end, JobEnd::UnreadableFrame);
    EXPECT_NE(one.message.find("frame_0005.tif"), std::string::npos) << one.message;
    EXPECT_TRUE(one.files.empty());
    // frames after it are read ahead, but nothing of theirs is reported
    for (const std::string& text : one.logTexts) {
        EXPECT_EQ(text.find("frame number : 6"), std::string::npos);
    }
    expectSame(one, run(4), 4);
}

const SoundtrackType VA35 = SoundtrackType::VariableArea35;
const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
const SoundtrackType VA16 = SoundtrackType::VariableArea16;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, SoundtrackPipeline,
    testing::Values(
        Case{.name = "va35_colour"},
        Case{.name = "va35_luminance_inverse_noise", .noise = true, .element = ColorElement::Y, .inverse = true},
        Case{.name = "va35_by_analysis", .noise = true, .cutByAnalysis = true},
        Case{.name = "vd35_down_grey", .film = VD35, .up = false, .color = false},
        Case{.name = "va16", .film = VA16},
        Case{.name = "va16_long_strip", .film = VA16, .longStrip = true},
        Case{.name = "va35_archival", .noise = true, .archival = true}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on
#pragma GCC diagnostic pop

} // namespace
} // namespace veltrana
