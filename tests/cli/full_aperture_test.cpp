// veltrana soundtrack --full-aperture on renders of the film's whole width
// whose film weaves within the gate: the sound matches that of the same film
// scanned in the standard window (the renderer draws the window's pixels,
// noise included, as it draws the narrow scan's), and a scan without a band
// where the film is said to carry it ends the run with nothing written.

#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

std::vector<double> readSamples(const fs::path& wav) {
    SF_INFO info{};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<double> samples(static_cast<std::size_t>(info.frames));
    sf_read_double(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

// The correlation of two sounds of the same length, over their middle 90 %.
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    int count = 0;
    for (std::size_t i = n / 20; i < n - n / 20; ++i) {
        sa += a[i];
        sb += b[i];
        saa += a[i] * a[i];
        sbb += b[i] * b[i];
        sab += a[i] * b[i];
        ++count;
    }
    const double ca = saa - sa * sa / count;
    const double cb = sbb - sb * sb / count;
    return (sab - sa * sb / count) / std::sqrt(ca * cb);
}

struct Case {
    const char* name;
    SoundtrackType film;
    TrackSide side;
    bool color;
    std::vector<std::string> flags;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

synth::SynthOptions optionsOf(const Case& c, bool fullAperture) {
    synth::SynthOptions options;
    options.film = c.film;
    options.frames = 4;
    options.color = c.color;
    options.noise = true;
    options.rotationUp = c.side == TrackSide::Top || c.side == TrackSide::Left;
    options.upright = isUpright(c.side);
    options.fullAperture = fullAperture;
    // 15 columns at 1200 dpi: as far as scanners let the film weave
    options.weave = fullAperture ? 15 : 0;
    return options;
}

test::ProcessResult soundOf(const Case& c, const fs::path& scans, const fs::path& wav,
                            bool fullAperture) {
    std::vector<std::string> args{"soundtrack", scans.string(),
                                  "-o",         wav.string(),
                                  "--film",     std::string(soundtrackTypeName(c.film)),
                                  "--track",    std::string(trackSideName(c.side))};
    if (fullAperture) {
        args.push_back("--full-aperture");
    }
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    return test::runCommandLine(args);
}

class FullAperture : public testing::TestWithParam<Case> {};

TEST_P(FullAperture, SoundsAsTheStandardWindowDoes) {
    const Case& c = GetParam();
    const test::TempDir dir;
    ASSERT_TRUE(synth::renderSampleScans(optionsOf(c, false), dir / "narrow").ok());
    ASSERT_TRUE(synth::renderSampleScans(optionsOf(c, true), dir / "full").ok());
    const test::ProcessResult narrow = soundOf(c, dir / "narrow", dir / "narrow.wav", false);
    ASSERT_EQ(narrow.status, 0) << narrow.err;
    const test::ProcessResult full = soundOf(c, dir / "full", dir / "full.wav", true);
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_NE(full.err.find("Full aperture: the film's edge at "), std::string::npos) << full.err;

    const std::vector<double> a = readSamples(dir / "narrow.wav");
    const std::vector<double> b = readSamples(dir / "full.wav");
    ASSERT_GT(a.size(), 1000u);
    EXPECT_EQ(a.size(), b.size());
    EXPECT_GE(correlation(a, b), 0.9);
    if (c.flags.empty()) {
        // the window found is the narrow scan, noise and all: the standard
        // sound is the same, byte for byte
        EXPECT_TRUE(test::readFileBytes(dir / "narrow.wav") ==
                    test::readFileBytes(dir / "full.wav"));
        EXPECT_EQ(test::readFileText(dir / "narrow" / "leng.txt"),
                  test::readFileText(dir / "full" / "leng.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Films, FullAperture,
    testing::Values(
        Case{"area35_archival",
             SoundtrackType::VariableArea35,
             TrackSide::Top,
             true,
             {"--archival"}},
        Case{"area35_standard_left", SoundtrackType::VariableArea35, TrackSide::Left, false, {}},
        Case{"density35_archival_bottom",
             SoundtrackType::VariableDensity35,
             TrackSide::Bottom,
             false,
             {"--archival"}},
        Case{"area16_archival_right",
             SoundtrackType::VariableArea16,
             TrackSide::Right,
             false,
             {"--archival"}},
        Case{"area16_standard", SoundtrackType::VariableArea16, TrackSide::Top, true, {}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct NoTrackCase {
    const char* name;
    SoundtrackType film;
    bool fullAperture; // the render
    const char* track; // the side the run is told
    const char* why;   // what the message says is missing
};

class NoTrack : public testing::TestWithParam<NoTrackCase> {};

TEST_P(NoTrack, EndsTheRunWithNothingWritten) {
    const NoTrackCase& c = GetParam();
    const test::TempDir dir;
    synth::SynthOptions options;
    options.film = c.film;
    options.dpi = {600, 600};
    options.frames = 3;
    options.fullAperture = c.fullAperture;
    const fs::path scans = dir / "scans";
    ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    const test::ProcessResult run = test::runCommandLine(
        {"soundtrack", scans.string(), "-o", (dir / "out.wav").string(), "--film",
         std::string(soundtrackTypeName(c.film)), "--track", c.track, "--full-aperture"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Frame 1 (frame_0001.tif): no soundtrack found in the full-aperture "
                           "scan: " +
                           std::string(c.why)),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
    EXPECT_FALSE(fs::exists(scans / "leng.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Scans, NoTrack,
    testing::Values(
        // the side away from the band: perforations and picture, no band
        NoTrackCase{"area35_other_side", SoundtrackType::VariableArea35, true, "bottom",
                    "no soundtrack band beside the film's edge"},
        NoTrackCase{"area16_other_side", SoundtrackType::VariableArea16, true, "bottom",
                    "no soundtrack band beside the film's edge"},
        NoTrackCase{"density35_other_side", SoundtrackType::VariableDensity35, true, "bottom",
                    "no soundtrack band beside the film's edge"},
        // a standard scan: no gate, no edges
        NoTrackCase{"standard_scan", SoundtrackType::VariableArea35, false, "top",
                    "the film's two edges beside a dark gate were not both found"}),
    [](const testing::TestParamInfo<NoTrackCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrana
