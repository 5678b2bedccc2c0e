// What the renderer promises about its output: the joins it records are where
// the scans really join, the same options give the same bytes, the truth
// reads back, and a render appears complete or not at all.

#include "synth/synth.h"

#include "geometry/frame_correction.h"
#include "geometry/scan.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>

namespace veltrana::synth {
namespace {

namespace fs = std::filesystem;

SynthPlan planOrFail(const SynthOptions& options) {
    SynthPlanResult planned = planSampleScans(options);
    EXPECT_TRUE(planned.ok()) << planned.error;
    return std::move(planned.plan);
}

bool rowsEqual(const cv::Mat& a, int rowA, const cv::Mat& b, int rowB) {
    return cv::norm(a.row(rowA), b.row(rowB), cv::NORM_INF) == 0.0;
}

// Everything in a directory, by name: the hidden ones too.
std::vector<std::string> entriesOf(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A 16-bit mono WAV written by hand, so the tests do not lean on the reader.
void writePcmWav(const fs::path& path, int rate, const std::vector<double>& samples) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * 2));
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (double v : samples) {
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0))));
    }
}

std::vector<double> sine(int rate, double frequency, double amplitude, double seconds) {
    std::vector<double> out(static_cast<std::size_t>(rate * seconds));
    for (std::size_t n = 0; n < out.size(); ++n) {
        out[n] = amplitude *
                 std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate);
    }
    return out;
}

TEST(SynthJoins, RowJoinOfAScanShowsWhatRowZeroOfTheNextShows) {
    SynthOptions options;
    options.frames = 4;
    options.jitter = 20;
    for (SoundtrackType film : {SoundtrackType::VariableArea35, SoundtrackType::VariableArea16}) {
        options.film = film;
        const SynthPlan plan = planOrFail(options);
        ASSERT_EQ(plan.truth.joins.size(), 3u);
        for (int k = 0; k + 1 < 4; ++k) {
            const cv::Mat a = renderWorkingImage(plan, k);
            const cv::Mat b = renderWorkingImage(plan, k + 1);
            const int join = plan.truth.joins[static_cast<std::size_t>(k)];
            // the whole overlap matches, and the rows beside the join do not
            for (int r = 0; join + r < a.rows; r += 7) {
                ASSERT_TRUE(rowsEqual(a, join + r, b, r)) << "pair " << k << " row " << r;
            }
            EXPECT_FALSE(rowsEqual(a, join - 1, b, 0)) << "pair " << k;
            EXPECT_FALSE(rowsEqual(a, join + 1, b, 0)) << "pair " << k;
        }
    }
}

TEST(SynthJoins, TheJoinAfterTheTrimFollowsFromTheBounds) {
    SynthOptions options;
    options.film = SoundtrackType::VariableArea16;
    options.longStrip = true; // the long-strip trim cuts both ends
    options.frames = 3;
    const SynthPlan plan = planOrFail(options);
    std::vector<cv::Mat> trimmed;
    std::vector<FrameBounds> bounds;
    for (int k = 0; k < 3; ++k) {
        const cv::Mat file = renderScan(plan, k);
        bounds.push_back(findFrameBounds(file, options.film, true));
        trimmed.push_back(workingImageFromFrame(frameCorrection(file, options.film, true)));
    }
    ASSERT_NE(bounds[0].right, plan.truth.layout.scanRows - 1); // the trim did cut
    for (int k = 0; k + 1 < 3; ++k) {
        const int join = trimmedJoin(plan.truth, k, bounds[static_cast<std::size_t>(k)],
                                     bounds[static_cast<std::size_t>(k + 1)]);
        EXPECT_TRUE(rowsEqual(trimmed[static_cast<std::size_t>(k)], join,
                              trimmed[static_cast<std::size_t>(k + 1)], 0))
            << "pair " << k << " join " << join;
    }
}

TEST(SynthDeterminism, SameOptionsAndVariantGiveTheSameBytes) {
    test::TempDir dir;
    SynthOptions options;
    options.frames = 2;
    options.color = true;
    options.noise = true;
    options.blur = true;
    options.variant = 5;
    ASSERT_TRUE(renderSampleScans(options, dir / "a").ok());
    ASSERT_TRUE(renderSampleScans(options, dir / "b").ok());
    options.variant = 6;
    ASSERT_TRUE(renderSampleScans(options, dir / "c").ok());

    const std::vector<std::string> names = entriesOf(dir / "a");
    ASSERT_EQ(names, (std::vector<std::string>{"frame_0001.tif", "frame_0002.tif", "truth.json",
                                               "truth.wav"}));
    EXPECT_EQ(entriesOf(dir / "b"), names);
    for (const std::string& name : names) {
        EXPECT_EQ(test::readFileBytes(dir / "a" / name), test::readFileBytes(dir / "b" / name))
            << name;
    }
    // another variant: other pictures and noise
    EXPECT_NE(test::readFileBytes(dir / "a" / "frame_0002.tif"),
              test::readFileBytes(dir / "c" / "frame_0002.tif"));
}

TEST(SynthTruthFile, ReadsBackWhatWasWritten) {
    test::TempDir dir;
    SynthOptions options;
    options.film = SoundtrackType::VariableArea16; // one with a warning
    options.frames = 3;
    options.rotationUp = false;
    options.signal = SignalKind::Sweep;
    options.variant = 11;
    const SynthResult written = renderSampleScans(options, dir / "s");
    ASSERT_TRUE(written.ok()) << written.error;
    const SynthTruthRead read = readSynthTruth(dir / "s" / "truth.json");
    ASSERT_TRUE(read.ok()) << read.error;
    const SynthTruth& a = written.truth;
    const SynthTruth& b = read.truth;
    EXPECT_EQ(b.options.film, options.film);
    EXPECT_EQ(b.options.dpi, options.dpi);
    EXPECT_EQ(b.options.frames, 3);
    EXPECT_EQ(b.options.signal, SignalKind::Sweep);
    EXPECT_FALSE(b.options.rotationUp);
    EXPECT_EQ(b.options.variant, 11u);
    EXPECT_EQ(b.layout.framePitch, a.layout.framePitch);
    EXPECT_EQ(b.layout.scanRows, a.layout.scanRows);
    EXPECT_EQ(b.layout.bandCentre, a.layout.bandCentre);
    EXPECT_EQ(b.expected, (ScanResolution{1201, 1200}));
    EXPECT_EQ(b.detected, a.detected);
    EXPECT_EQ(b.joins, a.joins);
    EXPECT_EQ(b.warnings, a.warnings);
    ASSERT_EQ(b.scans.size(), a.scans.size());
    for (std::size_t k = 0; k < a.scans.size(); ++k) {
        EXPECT_EQ(b.scans[k].file, a.scans[k].file);
        EXPECT_EQ(b.scans[k].start, a.scans[k].start);
        EXPECT_EQ(b.scans[k].frameLines, a.scans[k].frameLines);
    }

    // the signal file holds exactly the samples put on the strip
    const TruthSignal signal = readTruthSignal(dir / "s" / "truth.wav");
    ASSERT_TRUE(signal.ok()) << signal.error;
    EXPECT_EQ(signal.sampleRate, a.layout.sampleRate);
    const SynthPlan plan = planOrFail(options);
    EXPECT_EQ(signal.samples, plan.signal);
    EXPECT_EQ(static_cast<int>(signal.samples.size()), a.signalSamples);

    EXPECT_FALSE(readSynthTruth(dir / "s" / "truth.wav").ok());
    EXPECT_FALSE(readSynthTruth(dir / "missing.json").ok());
}

TEST(SynthSoundFile, IsResampledToTheFilmsRate) {
    test::TempDir dir;
    // 300 Hz at half scale, 44.1 kHz, longer than the strip
    writePcmWav(dir / "tone.wav", 44100, sine(44100, 300.0, 0.5, 1.0));
    SynthOptions options;
    options.frames = 4;
    options.signal = SignalKind::File;
    options.signalFile = dir / "tone.wav";
    const SynthPlan plan = planOrFail(options);
    EXPECT_TRUE(plan.truth.warnings.empty());
    const int rate = plan.truth.layout.sampleRate;
    ASSERT_EQ(static_cast<int>(plan.signal.size()), plan.truth.signalSamples);
    // least-squares fit of 300 Hz at the film's rate, away from the ends
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    const std::size_t from = 200;
    const std::size_t to = plan.signal.size() - 200;
    for (std::size_t n = from; n < to; ++n) {
        const double w = 2.0 * std::numbers::pi * 300.0 * static_cast<double>(n) / rate;
        const double s = std::sin(w);
        const double c = std::cos(w);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += plan.signal[n] * s;
        yc += plan.signal[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    EXPECT_NEAR(std::hypot(a, b), 0.5, 0.005);
    double residual = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double w = 2.0 * std::numbers::pi * 300.0 * static_cast<double>(n) / rate;
        residual =
            std::max(residual, std::abs(plan.signal[n] - (a * std::sin(w) + b * std::cos(w))));
    }
    EXPECT_LT(residual, 0.01);
}

TEST(SynthSoundFile, AShortFileLeavesTheRestOfTheStripSilent) {
    test::TempDir dir;
    writePcmWav(dir / "short.wav", 8000, sine(8000, 200.0, 0.5, 0.02));
    SynthOptions options;
    options.frames = 4;
    options.signal = SignalKind::File;
    options.signalFile = dir / "short.wav";
    const SynthPlan plan = planOrFail(options);
    ASSERT_EQ(plan.truth.warnings.size(), 1u);
    EXPECT_NE(plan.truth.warnings[0].find("silent"), std::string::npos);
    EXPECT_EQ(plan.signal.back(), 0.0f);
    EXPECT_EQ(static_cast<int>(plan.signal.size()), plan.truth.signalSamples);
}

TEST(SynthSoundFile, AnUnreadableFileIsARunFailure) {
    test::TempDir dir;
    std::ofstream(dir / "noise.wav") << "not a sound";
    SynthOptions options;
    options.signal = SignalKind::File;
    for (const char* name : {"noise.wav", "missing.wav"}) {
        options.signalFile = dir / name;
        const SynthResult r = renderSampleScans(options, dir / "out");
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.badOptions);
        EXPECT_NE(r.error.find(name), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(SynthOptionsCheck, NamesEveryProblem) {
    struct Row {
        const char* what;
        void (*change)(SynthOptions&);
        const char* says;
    };
    const Row rows[] = {
        {"dpi 0",
         [](SynthOptions& o) {
             o.dpi = {0, 0};
         },
         "resolution"},
        {"vertical dpi",
         [](SynthOptions& o) {
             o.dpi = {1200, 99999};
         },
         "vertical"},
        {"no frames", [](SynthOptions& o) { o.frames = 0; }, "frames"},
        {"fps", [](SynthOptions& o) { o.fps = 15; }, "whole 16 to 60"},
        {"long 35 mm", [](SynthOptions& o) { o.longStrip = true; }, "16 mm"},
        {"no file", [](SynthOptions& o) { o.signal = SignalKind::File; }, "sound file"},
        {"jitter", [](SynthOptions& o) { o.jitter = 500; }, "at most"},
        {"negative jitter", [](SynthOptions& o) { o.jitter = -1; }, "negative"},
        {"film", [](SynthOptions& o) { o.film = static_cast<SoundtrackType>(9); }, "film"},
        {"shrink", [](SynthOptions& o) { o.shrinkPercent = 6; }, "shrink"},
        {"mark past the end", [](SynthOptions& o) { o.syncMarks = {49}; }, "no frame"},
        {"mark within the advance", [](SynthOptions& o) { o.syncMarks = {20}; }, "advance of 20"},
    };
    EXPECT_TRUE(checkSynthOptions(SynthOptions{}).empty());
    for (const Row& row : rows) {
        SynthOptions o;
        row.change(o);
        const std::vector<std::string> problems = checkSynthOptions(o);
        ASSERT_EQ(problems.size(), 1u) << row.what;
        EXPECT_NE(problems[0].find(row.says), std::string::npos) << row.what << ": " << problems[0];
        const SynthPlanResult planned = planSampleScans(o);
        EXPECT_TRUE(planned.badOptions) << row.what;
    }
}

// The sync test: a 1 kHz burst one frame long from the picture start of the
// frame `advance` ahead of the mark, over a track 20 dB down; the mark's
// picture white.
TEST(SynthSyncMarks, PrintTheBurstTheAdvanceAheadOfTheWhitePicture) {
    SynthOptions o;
    o.dpi = {900, 900};
    o.frames = 8;
    o.color = false;
    o.syncMarks = {6};
    o.syncAdvance = 3;
    const SynthPlan plan = planOrFail(o);
    const SynthLayout& l = plan.truth.layout;
    const std::int64_t burst = syncBurstStart(l, 6, 3);
    EXPECT_EQ(burst, l.firstFrameLine + 2 * l.framePitch + l.frameLineRows);
    const auto at = [&](std::int64_t t) { return plan.signal[static_cast<std::size_t>(t)]; };
    float quiet = 0;
    float loud = 0;
    for (std::int64_t t = 0; t < burst; ++t) {
        quiet = std::max(quiet, std::abs(at(t)));
    }
    for (std::int64_t t = burst; t < burst + l.framePitch; ++t) {
        loud = std::max(loud, std::abs(at(t)));
    }
    EXPECT_EQ(at(burst), 0.0f); // phase 0
    EXPECT_GT(at(burst + 1), 0.0f);
    EXPECT_LT(quiet, 0.15f * loud);
    // the marked picture is white, the one before it is not
    const auto pictureMean = [&](int scan) {
        const cv::Mat working = renderWorkingImage(plan, scan);
        const auto frame = static_cast<std::int64_t>(scan);
        const auto middle = static_cast<int>(
            l.firstFrameLine + frame * l.framePitch + l.frameLineRows + l.framePitch / 2 -
            plan.truth.scans[static_cast<std::size_t>(scan)].start);
        return cv::mean(working.row(middle).colRange(l.pictureFirstColumn, working.cols))[0];
    };
    EXPECT_GT(pictureMean(5), 235.0);
    EXPECT_LT(pictureMean(4), 200.0);
}

TEST(SynthShrink, ShortensThePitchAndTheRateWithIt) {
    SynthOptions o;
    o.dpi = {1200, 1200};
    o.frames = 4;
    const SynthLayout nominal = planOrFail(o).truth.layout;
    o.shrinkPercent = 2;
    const SynthLayout shrunk = planOrFail(o).truth.layout;
    EXPECT_EQ(shrunk.framePitch, 889); // 907 rows at 1200 dpi, 2 % shorter
    EXPECT_EQ(nominal.framePitch, 907);
    EXPECT_EQ(shrunk.sampleRate, o.fps * 889);
}

class SynthWriting : public testing::Test {
protected:
    SynthOptions small() const {
        SynthOptions o;
        o.frames = 2;
        return o;
    }
    test::TempDir dir;
    fs::path target = dir / "scans";
};

TEST_F(SynthWriting, ANonEmptyDirectoryIsLeftAloneWithoutForce) {
    fs::create_directory(target);
    std::ofstream(target / "notes.txt") << "mine";
    const SynthResult r = renderSampleScans(small(), target);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("not empty"), std::string::npos) << r.error;
    EXPECT_EQ(entriesOf(target), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"scans"});
}

TEST_F(SynthWriting, ForceReplacesAnEarlierRenderAndTheJobsFiles) {
    SynthOptions first = small();
    first.frames = 4;
    ASSERT_TRUE(renderSampleScans(first, target).ok());
    std::ofstream(target / "leng.txt") << "0 907 ";
    SynthOptions again = small();
    EXPECT_FALSE(renderSampleScans(again, target).ok()); // not without --force
    again.force = true;
    const SynthResult r = renderSampleScans(again, target);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(entriesOf(target), (std::vector<std::string>{"frame_0001.tif", "frame_0002.tif",
                                                           "truth.json", "truth.wav"}));
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"scans"});
}

TEST_F(SynthWriting, ForceDoesNotReplaceADirectoryWithOtherFiles) {
    ASSERT_TRUE(renderSampleScans(small(), target).ok());
    std::ofstream(target / "notes.txt") << "mine";
    SynthOptions again = small();
    again.force = true;
    const SynthResult r = renderSampleScans(again, target);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("notes.txt"), std::string::npos) << r.error;
    EXPECT_TRUE(fs::exists(target / "notes.txt"));
    EXPECT_TRUE(fs::exists(target / "truth.json"));
}

TEST_F(SynthWriting, AnEmptyDirectoryIsFilled) {
    fs::create_directory(target);
    ASSERT_TRUE(renderSampleScans(small(), target).ok());
    EXPECT_TRUE(fs::exists(target / "truth.json"));
}

TEST_F(SynthWriting, AStoppedRunLeavesNothing) {
    SynthOptions o = small();
    o.frames = 12;
    std::vector<int> progress;
    SynthControl control;
    control.progress = [&](int written, int total) {
        EXPECT_EQ(total, 12);
        progress.push_back(written);
    };
    control.cancelled = [&] { return !progress.empty(); };
    const SynthResult r = renderSampleScans(o, target, control);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("stopped"), std::string::npos);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_GT(progress[0], 0);
    EXPECT_TRUE(entriesOf(dir.path()).empty()); // no target, no hidden staging directory
}

TEST_F(SynthWriting, ProgressReachesTheTotal) {
    SynthOptions o = small();
    o.frames = 9;
    std::vector<int> progress;
    SynthControl control;
    control.progress = [&](int written, int) { progress.push_back(written); };
    ASSERT_TRUE(renderSampleScans(o, target, control).ok());
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 9);
}

TEST_F(SynthWriting, ATargetThatCannotBeADirectoryFails) {
    std::ofstream(dir / "file") << "x";
    for (const fs::path& bad : {dir / "file", dir / "file" / "scans"}) {
        const SynthResult r = renderSampleScans(small(), bad);
        EXPECT_FALSE(r.ok()) << bad;
        EXPECT_FALSE(r.badOptions) << bad;
    }
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"file"});
}

} // namespace
} // namespace veltrana::synth
