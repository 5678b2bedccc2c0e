// veltrana soundtrack on rendered scans (the command line run in-process),
// measured against the truth they were rendered from: join positions against
// the true ones, and the recovered sound against the signal that went in.

#include "geometry/frame_correction.h"
#include "reading/scan_reader.h"
#include "soundtrack/plik.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name = "";
    SoundtrackType film = SoundtrackType::VariableArea35;
    bool up = true;
    bool color = false;
    std::vector<std::string> flags; // extra flags of veltrana soundtrack
    bool reversedFiles = false;     // the film runs the other way through the listing
    bool longStrip = false;
    bool noise = false;
    // Matching frames on their samples alone is fooled by tones and slow
    // sweeps (a longer overlap at a wrong shift outweighs the true one), so
    // those runs read broadband noise from a file.
    synth::SignalKind signal = synth::SignalKind::Mix;
    double minCorrelation = 0.97;
    int joinTolerance = 1; // rows
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// How gtest shows a case in messages and test lists.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

std::vector<int> readJoins(const fs::path& lengths) {
    std::istringstream in(test::readFileText(lengths));
    std::vector<int> joins;
    for (int v; in >> v;) {
        joins.push_back(v);
    }
    return joins;
}

// The WAV's sample bytes as values around 0.
std::vector<double> readWavSamples(const fs::path& wav) {
    const auto bytes = test::readFileBytes(wav);
    std::vector<double> samples;
    for (std::size_t i = 46; i < bytes.size(); ++i) {
        samples.push_back(static_cast<double>(bytes[i]) - 128.0);
    }
    return samples;
}

// Largest Pearson correlation of recovered[i] with signal[offset + lag + i]
// over small lags, on the middle of the recovered sound.
double bestCorrelation(const std::vector<double>& recovered, const std::vector<float>& signal,
                       int offset) {
    double best = -1.0;
    const int n = static_cast<int>(recovered.size());
    const int from = n / 10;
    const int to = n - n / 10;
    for (int lag = -12; lag <= 12; ++lag) {
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        int count = 0;
        for (int i = from; i < to; ++i) {
            const int j = offset + lag + i;
            if (j < 0 || j >= static_cast<int>(signal.size())) {
                continue;
            }
            const double x = recovered[static_cast<std::size_t>(i)];
            const double y = signal[static_cast<std::size_t>(j)];
            sx += x;
            sy += y;
            sxx += x * x;
            syy += y * y;
            sxy += x * y;
            ++count;
        }
        if (count < 100) {
            continue;
        }
        const double cov = sxy - sx * sy / count;
        const double vx = sxx - sx * sx / count;
        const double vy = syy - sy * sy / count;
        if (vx > 0 && vy > 0) {
            best = std::max(best, cov / std::sqrt(vx * vy));
        }
    }
    return best;
}

// Three seconds of 8-bit white noise at the film's rate.
void writeNoise(const fs::path& path) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> bytes(3 * 22675);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(64 + random() % 128);
    }
    Plik wav;
    wav.sampleRate = 22675;
    wav.bitsPerSample = 8;
    ASSERT_EQ(wav.Open(path), 0);
    wav.Write(bytes.data(), bytes.size());
    ASSERT_TRUE(wav.Close());
}

// The join the run should find between frames k and k + 1 of its listing;
// bounds[m] is the trim of scan m.
int expectedJoin(const synth::SynthTruth& truth, const std::vector<FrameBounds>& bounds, int k,
                 bool reversedFiles) {
    if (!reversedFiles) {
        return synth::trimmedJoin(truth, k, bounds[static_cast<std::size_t>(k)],
                                  bounds[static_cast<std::size_t>(k + 1)]);
    }
    // With the listing reversed (and --inverse) frames k and k + 1 of the run
    // are scans m and m - 1, each read from its last trimmed row to its first.
    // Row 0 of reversed scan m - 1 is its last trimmed row, which reversed
    // scan m shows (end of m) - (end of m - 1) rows in: the forward join of
    // the two scans plus the difference of their trimmed lengths.
    const auto m = static_cast<std::size_t>(static_cast<int>(bounds.size()) - 1 - k);
    const auto length = [](const FrameBounds& b) { return b.right - b.left + 1; };
    return synth::trimmedJoin(truth, static_cast<int>(m) - 1, bounds[m - 1], bounds[m]) +
           length(bounds[m]) - length(bounds[m - 1]);
}

class SoundtrackEndToEnd : public testing::TestWithParam<Case> {};

TEST_P(SoundtrackEndToEnd, RecoversTheJoinsAndTheSound) {
    const Case& c = GetParam();
    test::TempDir dir;
    const fs::path scans = dir / "scans";
    synth::SynthOptions options;
    options.film = c.film;
    options.dpi = {1200, 1200};
    options.frames = 8;
    options.fps = 25;
    options.color = c.color;
    options.rotationUp = c.up;
    options.longStrip = c.longStrip;
    options.noise = c.noise;
    options.signal = c.signal;
    if (c.signal == synth::SignalKind::File) {
        options.signalFile = dir / "noise.wav";
        writeNoise(options.signalFile);
    }
    const synth::SynthResult rendered = synth::renderSampleScans(options, scans);
    ASSERT_TRUE(rendered.ok()) << rendered.error;
    const synth::SynthTruth& truth = rendered.truth;
    const int frames = static_cast<int>(truth.scans.size());

    if (c.reversedFiles) {
        // frame k of the listing shows what scan frames + 1 - k showed
        for (int k = 0; k < frames; ++k) {
            fs::rename(scans / truth.scans[static_cast<std::size_t>(k)].file,
                       scans / ("r" + truth.scans[static_cast<std::size_t>(frames - 1 - k)].file));
        }
    }

    std::vector<std::string> args{"soundtrack", scans.string(),
                                  "-o",         (dir / "out.wav").string(),
                                  "--fps",      "25",
                                  "--film",     std::string(soundtrackTypeName(c.film)),
                                  "--rotation", c.up ? "up" : "down"};
    if (c.longStrip) {
        args.push_back("--long-strip");
    }
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    const test::ProcessResult run = test::runCommandLine(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Pictures were tranlated succesfully!"), std::string::npos);

    // the true joins once each scan is trimmed as the job trims it;
    // bounds[m] is the trim of scan m, wherever the listing put it
    std::vector<FrameBounds> bounds;
    for (int m = 0; m < frames; ++m) {
        const std::string file =
            c.reversedFiles ? "r" + truth.scans[static_cast<std::size_t>(frames - 1 - m)].file
                            : truth.scans[static_cast<std::size_t>(m)].file;
        const LoadedScan scan = loadScan(scans / file);
        ASSERT_TRUE(scan.ok());
        bounds.push_back(findFrameBounds(scan.value(), c.film, c.longStrip));
    }
    const std::vector<int> joins = readJoins(scans / "leng.txt");
    ASSERT_EQ(static_cast<int>(joins.size()), frames);
    int worst = 0;
    for (int k = 0; k + 1 < frames; ++k) {
        const int expected = expectedJoin(truth, bounds, k, c.reversedFiles);
        worst = std::max(worst, std::abs(joins[static_cast<std::size_t>(k + 1)] - expected));
    }
    EXPECT_LE(worst, c.joinTolerance);

    // the sound: recovered sample i shows strip row (start of trimmed scan 0) + i
    const synth::TruthSignal signal = synth::readTruthSignal(scans / "truth.wav");
    ASSERT_TRUE(signal.ok()) << signal.error;
    // (with the listing reversed too: the final reversal puts scan 0 first)
    const int offset = truth.scans.front().start + truth.layout.scanRows - 1 - bounds.front().right;
    const double correlation =
        bestCorrelation(readWavSamples(dir / "out.wav"), signal.samples, offset);
    std::printf("[ figures  ] %s: worst join error %d rows, correlation %.4f\n", c.name, worst,
                correlation);
    EXPECT_GE(correlation, c.minCorrelation);
}

const SoundtrackType VA35 = SoundtrackType::VariableArea35;
const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
const SoundtrackType VA16 = SoundtrackType::VariableArea16;

// Each case names only what differs from the defaults of Case.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, SoundtrackEndToEnd,
    testing::Values(
        Case{.name = "va35_up_grey", .film = VA35},
        Case{.name = "va35_up_colour", .film = VA35, .color = true},
        Case{.name = "va35_down_grey", .film = VA35, .up = false},
        Case{.name = "va35_down_colour_green", .film = VA35, .up = false, .color = true,
             .flags = {"--channel", "G"}},
        Case{.name = "va35_no_crossfade", .film = VA35, .flags = {"--no-crossfade"}},
        Case{.name = "va35_no_dc", .film = VA35, .flags = {"--no-dc"}},
        Case{.name = "va35_cut_by_analysis", .film = VA35, .flags = {"--cut-by-analysis"},
             .signal = synth::SignalKind::File, .minCorrelation = 0.95, .joinTolerance = 3},
        Case{.name = "va35_luminance_noise", .film = VA35, .color = true,
             .flags = {"--channel", "Y"}, .noise = true},
        Case{.name = "va35_inverse", .film = VA35, .flags = {"--inverse"}, .reversedFiles = true},
        Case{.name = "vd35_up_grey", .film = VD35},
        Case{.name = "vd35_down_colour", .film = VD35, .up = false, .color = true},
        Case{.name = "va16_up_grey", .film = VA16},
        Case{.name = "va16_down_colour", .film = VA16, .up = false, .color = true},
        Case{.name = "va16_cut_by_analysis", .film = VA16, .flags = {"--cut-by-analysis"},
             .signal = synth::SignalKind::File, .minCorrelation = 0.9, .joinTolerance = 3},
        Case{.name = "va16_long_strip", .film = VA16, .longStrip = true}),
    caseName);
// clang-format on
#pragma GCC diagnostic pop

} // namespace
} // namespace veltrana
