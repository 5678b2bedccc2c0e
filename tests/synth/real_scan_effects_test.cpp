// The effects of real scans that the renderer can add: each does what it
// says, is recorded in the truth, reads back, and can be asked for on the
// command line.

#include "synth/synth.h"

#include "support/command_line.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace veltrana::synth {
namespace {

SynthPlan planOrFail(const SynthOptions& options) {
    SynthPlanResult planned = planSampleScans(options);
    EXPECT_TRUE(planned.ok()) << planned.error;
    return std::move(planned.plan);
}

SynthOptions densityTone() {
    SynthOptions o;
    o.film = SoundtrackType::VariableDensity35;
    o.signal = SignalKind::Tone;
    o.frames = 3;
    o.dpi = {600, 600};
    return o;
}

TEST(FractionalStarts, ScansShowTheFilmBetweenStripRows) {
    SynthOptions o = densityTone();
    o.fractionalStarts = true;
    const SynthPlan plan = planOrFail(o);
    const SynthTruth& t = plan.truth;
    ASSERT_EQ(t.joinsExact.size(), 2u);
    for (std::size_t k = 0; k < t.scans.size(); ++k) {
        const double fraction = t.scans[k].startExact - t.scans[k].start;
        EXPECT_GE(fraction, 0.0);
        EXPECT_LT(fraction, 1.0);
    }
    EXPECT_DOUBLE_EQ(t.joinsExact[0], t.scans[1].startExact - t.scans[0].startExact);
    EXPECT_NE(t.joinsExact[0], std::round(t.joinsExact[0]));

    // a density track's middle column follows the tone read at startExact + r:
    // 18 + 197 x (0.35 + 0.3 x peak x sin(2 pi 440 t / rate)), within a level
    const SynthLayout& l = t.layout;
    const int column = static_cast<int>(l.bandCentre);
    for (int k = 0; k < 2; ++k) {
        const cv::Mat image = renderWorkingImage(plan, k);
        const double start = t.scans[static_cast<std::size_t>(k)].startExact;
        for (int r = 20; r < image.rows - 20; r += 13) {
            const double s =
                t.signalPeak * std::sin(2 * std::numbers::pi * 440.0 * (start + r) / l.sampleRate);
            const double expected = 18.0 + 197.0 * (0.35 + 0.3 * s);
            EXPECT_NEAR(image.at<uchar>(r, column), expected, 1.0) << "scan " << k << " row " << r;
        }
    }
}

TEST(Weave, MovesTheFilmAwayFromTheBandEdge) {
    SynthOptions o = densityTone();
    const SynthPlan plain = planOrFail(o);
    o.weave = 3;
    const SynthPlan woven = planOrFail(o);
    bool moved = false;
    for (int k = 0; k < 3; ++k) {
        const int w = woven.truth.scans[static_cast<std::size_t>(k)].weave;
        EXPECT_GE(w, 0);
        EXPECT_LE(w, 3);
        moved = moved || w > 0;
        // the same film, whole starts unchanged: column c + w shows column c
        EXPECT_EQ(woven.truth.scans[static_cast<std::size_t>(k)].start,
                  plain.truth.scans[static_cast<std::size_t>(k)].start);
        const cv::Mat a = renderWorkingImage(plain, k);
        const cv::Mat b = renderWorkingImage(woven, k);
        EXPECT_EQ(cv::norm(a.colRange(0, a.cols - w), b.colRange(w, b.cols), cv::NORM_INF), 0.0)
            << "scan " << k;
    }
    EXPECT_TRUE(moved);
}

TEST(Falloff, DimsBothEndsOfEachScan) {
    SynthOptions o = densityTone();
    const SynthPlan plain = planOrFail(o);
    o.falloffPercent = 40;
    const SynthPlan dim = planOrFail(o);
    const cv::Mat a = renderWorkingImage(plain, 0);
    const cv::Mat b = renderWorkingImage(dim, 0);
    const int middle = a.rows / 2;
    // the perforation light where it shines through: 240, and 60 % of it at the ends
    for (int r : {0, middle, a.rows - 1}) {
        const double share = r == middle ? 1.0 : 0.6;
        EXPECT_NEAR(b.at<uchar>(r, 0), a.at<uchar>(r, 0) * share, 1.0) << r;
    }
}

TEST(Silence, QuietensTheSoundInItsPassages) {
    SynthOptions o;
    o.frames = 20; // 0.8 s at 24 frames per second
    o.dpi = {600, 600};
    o.silence = true;
    const SynthPlan plan = planOrFail(o);
    const int rate = plan.truth.layout.sampleRate;
    auto peakOver = [&](double from, double to) {
        float peak = 0;
        for (int t = static_cast<int>(from * rate); t < static_cast<int>(to * rate); ++t) {
            peak = std::max(peak, std::abs(plan.signal[static_cast<std::size_t>(t)]));
        }
        return peak;
    };
    const float full = peakOver(0.0, 0.2);
    EXPECT_GT(full, 0.1f);
    EXPECT_EQ(peakOver(0.21, 0.39), 0.0f);                 // silence
    EXPECT_NEAR(peakOver(0.41, 0.59), full * 0.01f, 1e-3); // -40 dB
    EXPECT_NEAR(peakOver(0.61, 0.79), full, 0.02);
}

TEST(NoiseReductionBias, NarrowsTheClearBandWhenQuiet) {
    SynthOptions o;
    o.frames = 14;
    o.dpi = {600, 600};
    o.silence = true;
    o.noiseReductionBias = true;
    const SynthPlan plan = planOrFail(o);
    ASSERT_EQ(plan.clearBias.size(), plan.signal.size());
    const int rate = plan.truth.layout.sampleRate;
    EXPECT_NEAR(plan.clearBias[static_cast<std::size_t>(0.3 * rate)], kBiasFloor, 1e-6);
    EXPECT_GT(plan.clearBias[static_cast<std::size_t>(0.1 * rate)], 0.5f);
    // the clear width of a silent row: 2 x kBiasFloor x the resting half-width
    const SynthLayout& l = plan.truth.layout;
    for (int k = 0; k < 14; ++k) {
        const SynthScan& scan = plan.truth.scans[static_cast<std::size_t>(k)];
        const double t = scan.start + 100;
        if (t / rate > 0.22 && t / rate < 0.38) {
            const cv::Mat image = renderWorkingImage(plan, k);
            double clear = 0;
            // (over the lighter track area, 30, in which the clear band, 215, lies)
            for (int c = static_cast<int>(std::ceil(l.trackFirstColumn));
                 c < static_cast<int>(l.trackEndColumn); ++c) {
                clear += (image.at<uchar>(100, c) - 30.0) / (215.0 - 30.0);
            }
            const double expected =
                2 * kBiasFloor * 0.5 * (l.bandHalfWidthMin + l.bandHalfWidthMax);
            EXPECT_NEAR(clear, expected, 0.2) << "columns, scan " << k;
        }
    }
    // variable density has no such bias
    o.film = SoundtrackType::VariableDensity35;
    EXPECT_FALSE(checkSynthOptions(o).empty());
}

// The first row from `from` on where a column turns from the frame line's
// black to the picture, found where it crosses half way (linearly between
// rows): a position along the film to a fraction of a row.
double lineEnd(const cv::Mat& image, int column, int from) {
    const double half = 0.5 * (18.0 + 100.0);
    for (int r = from; r + 1 < image.rows; ++r) {
        const double a = image.at<uchar>(r, column);
        const double b = image.at<uchar>(r + 1, column);
        if (a < half && b >= half) {
            return r + (half - a) / (b - a);
        }
    }
    return -1.0;
}

TEST(Perspective, TheAdvanceDiffersAcrossTheFilmButNotAtTheTrack) {
    SynthOptions o = densityTone();
    const SynthPlan plain = planOrFail(o);
    o.perspectiveRows = 6;
    const SynthPlan slanted = planOrFail(o);
    const SynthLayout& l = plain.truth.layout;
    // nothing else moves: the scans start where they did
    EXPECT_EQ(slanted.truth.joinsExact, plain.truth.joinsExact);
    const cv::Mat a = renderWorkingImage(plain, 1);
    const cv::Mat b = renderWorkingImage(slanted, 1);
    // the track's centre keeps its scale: its tone is where it was
    const int track = static_cast<int>(std::lround(0.5 * (l.trackFirstColumn + l.trackEndColumn)));
    EXPECT_LE(cv::norm(a.col(track), b.col(track), cv::NORM_INF), 1.0);
    // at the picture's centre a row r reads the film (r - middle) x 6 / pitch
    // rows further on: the end of a frame line shows that much earlier
    ASSERT_FALSE(slanted.truth.scans[1].frameLines.empty());
    const int centre = (l.pictureFirstColumn + l.scanColumns) / 2;
    const auto [first, end] = slanted.truth.scans[1].frameLines.front();
    const double plainEnd = lineEnd(a, centre, first);
    const double middle = 0.5 * (a.rows - 1);
    const double expected = middle + (plainEnd - middle) / (1.0 + 6.0 / l.framePitch);
    EXPECT_NEAR(lineEnd(b, centre, first), expected, 0.2);
    EXPECT_GT(std::abs(plainEnd - expected), 1.0) << "the line should move visibly";
}

TEST(BuiltInSignals, SpeechNeverRepeatsAndSilenceIsSilent) {
    SynthOptions o;
    o.frames = 24;
    o.dpi = {600, 600};
    o.signal = SignalKind::Speech;
    const SynthPlan speech = planOrFail(o);
    const std::vector<float>& s = speech.signal;
    float peak = 0;
    for (float v : s) {
        peak = std::max(peak, std::abs(v));
    }
    EXPECT_LE(peak, 0.9f);
    EXPECT_GT(peak, 0.1f);
    // one pitch of it against the next: unlike (a tone or a mix would repeat)
    const int pitch = speech.truth.layout.framePitch;
    double sxy = 0, sxx = 0, syy = 0;
    for (int i = 0; i < pitch; ++i) {
        const double x = s[static_cast<std::size_t>(pitch + i)];
        const double y = s[static_cast<std::size_t>(2 * pitch + i)];
        sxy += x * y;
        sxx += x * x;
        syy += y * y;
    }
    EXPECT_LT(std::abs(sxy / std::sqrt(sxx * syy)), 0.2);
    // the same options give the same sound
    EXPECT_EQ(planOrFail(o).signal, s);

    o.signal = SignalKind::Silent;
    const SynthPlan silent = planOrFail(o);
    EXPECT_EQ(silent.truth.signalPeak, 0.0f);
    EXPECT_EQ(silent.truth.signalName, "silent");
}

TEST(RealScanEffects, OutOfRangeOptionsAreUsageErrors) {
    SynthOptions o;
    o.falloffPercent = 85;
    EXPECT_EQ(checkSynthOptions(o).size(), 1u);
    o.falloffPercent = 10;
    o.weave = 40; // more than a tenth of the track width
    EXPECT_EQ(checkSynthOptions(o).size(), 1u);
    o.weave = -1;
    EXPECT_EQ(checkSynthOptions(o).size(), 1u);
    o.weave = 5;
    EXPECT_TRUE(checkSynthOptions(o).empty());
    o.perspectiveRows = -21;
    EXPECT_EQ(checkSynthOptions(o).size(), 1u);
    o.perspectiveRows = -20;
    EXPECT_TRUE(checkSynthOptions(o).empty());
}

TEST(RealScanEffects, TruthRecordsThemAndReadsBack) {
    test::TempDir dir;
    const test::ProcessResult r =
        test::runCommandLine({"synth", (dir / "s").string(), "--frames", "3", "--dpi", "600",
                              "--falloff", "30", "--weave", "2", "--fractional-starts", "--silence",
                              "--nr-bias", "--perspective", "2.5", "--signal", "speech"});
    ASSERT_EQ(r.status, 0) << r.err;
    const SynthTruthRead read = readSynthTruth(dir / "s" / "truth.json");
    ASSERT_TRUE(read.ok()) << read.error;
    const SynthTruth& t = read.truth;
    EXPECT_EQ(t.options.falloffPercent, 30.0);
    EXPECT_EQ(t.options.weave, 2);
    EXPECT_TRUE(t.options.fractionalStarts);
    EXPECT_TRUE(t.options.silence);
    EXPECT_TRUE(t.options.noiseReductionBias);
    EXPECT_EQ(t.options.perspectiveRows, 2.5);
    EXPECT_EQ(t.options.signal, SignalKind::Speech);
    // what was planned is what reads back, to the last bit
    const SynthPlan plan = planOrFail(t.options);
    ASSERT_EQ(t.joinsExact, plan.truth.joinsExact);
    for (std::size_t k = 0; k < t.scans.size(); ++k) {
        EXPECT_EQ(t.scans[k].startExact, plan.truth.scans[k].startExact);
        EXPECT_EQ(t.scans[k].weave, plan.truth.scans[k].weave);
    }
    // the exact join of the trimmed scans: the whole one plus the fractions
    const FrameBounds whole{0, t.layout.scanRows - 1};
    EXPECT_DOUBLE_EQ(trimmedJoinExact(t, 0, whole, whole), t.joinsExact[0]);
    EXPECT_DOUBLE_EQ(trimmedJoinExact(t, 1, whole, {0, t.layout.scanRows - 3}),
                     t.joinsExact[1] + 2);
    // bad values are usage errors of the command
    const test::ProcessResult bad =
        test::runCommandLine({"synth", (dir / "b").string(), "--falloff", "90"});
    EXPECT_EQ(bad.status, 2);
}

} // namespace
} // namespace veltrana::synth
