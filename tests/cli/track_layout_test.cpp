// Every layout a scanner writes, rendered from the same film, gives the
// standard sound of the scans with the band along the top edge, byte for
// byte: the WAV and leng.txt.

#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    SoundtrackType film;
    bool color;
    std::vector<std::string> flags;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// The soundtrack run's WAV and leng.txt on the film rendered with the band
// along `side`.
struct Outputs {
    std::vector<unsigned char> wav;
    std::string lengths;
};

Outputs soundOf(const Case& c, TrackSide side, const test::TempDir& dir,
                synth::ScanFormat format = synth::ScanFormat::Tiff) {
    const std::string name = std::string(trackSideName(side)) + "-" + synth::scanFormatName(format);
    synth::SynthOptions options;
    options.film = c.film;
    options.dpi = {600, 600};
    options.frames = 4;
    options.color = c.color;
    options.noise = true;
    options.rotationUp = side == TrackSide::Top || side == TrackSide::Left;
    options.upright = isUpright(side);
    options.format = format;
    const fs::path scans = dir / ("scans-" + name);
    const synth::SynthResult rendered = synth::renderSampleScans(options, scans);
    EXPECT_TRUE(rendered.ok()) << rendered.error;

    std::vector<std::string> args{"soundtrack", scans.string(),
                                  "-o",         (dir / (name + ".wav")).string(),
                                  "--film",     std::string(soundtrackTypeName(c.film)),
                                  "--track",    std::string(trackSideName(side))};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    const test::ProcessResult run = test::runCommandLine(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return {test::readFileBytes(dir / (name + ".wav")), test::readFileText(scans / "leng.txt")};
}

class EveryLayout : public testing::TestWithParam<Case> {};

TEST_P(EveryLayout, GivesTheSoundOfTheTopLayout) {
    const test::TempDir dir;
    const Outputs top = soundOf(GetParam(), TrackSide::Top, dir);
    ASSERT_FALSE(top.wav.empty());
    for (const TrackSide side : {TrackSide::Bottom, TrackSide::Left, TrackSide::Right}) {
        const Outputs other = soundOf(GetParam(), side, dir);
        EXPECT_TRUE(other.wav == top.wav) << trackSideName(side);
        EXPECT_EQ(other.lengths, top.lengths) << trackSideName(side);
    }
}

// What scanners write: upright 10-bit DPX and mirrored 16-bit TIFF, read in
// the standard mode, round to the 8-bit top-layout render's samples.
TEST_P(EveryLayout, GivesTheSoundOfTheTopLayoutFromDeeperFormats) {
    const test::TempDir dir;
    const Outputs top = soundOf(GetParam(), TrackSide::Top, dir);
    ASSERT_FALSE(top.wav.empty());
    const Outputs dpx = soundOf(GetParam(), TrackSide::Left, dir, synth::ScanFormat::Dpx);
    EXPECT_TRUE(dpx.wav == top.wav);
    EXPECT_EQ(dpx.lengths, top.lengths);
    const Outputs tiff16 = soundOf(GetParam(), TrackSide::Right, dir, synth::ScanFormat::Tiff16);
    EXPECT_TRUE(tiff16.wav == top.wav);
    EXPECT_EQ(tiff16.lengths, top.lengths);
}

INSTANTIATE_TEST_SUITE_P(
    Films, EveryLayout,
    testing::Values(
        Case{"area35_colour_Y", SoundtrackType::VariableArea35, true, {"--channel", "Y"}},
        Case{"density35_grey_inverse", SoundtrackType::VariableDensity35, false, {"--inverse"}},
        Case{
            "area16_cut_by_analysis", SoundtrackType::VariableArea16, true, {"--cut-by-analysis"}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(TrackOption, KeepsRotationAsItsOldName) {
    const test::TempDir dir;
    const Case c{"area35", SoundtrackType::VariableArea35, false, {}};
    synth::SynthOptions options;
    options.dpi = {600, 600};
    options.frames = 3;
    options.rotationUp = false;
    const fs::path scans = dir / "scans";
    ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    const auto run = [&](const std::string& option, const std::string& value,
                         const std::string& wav) {
        return test::runCommandLine(
            {"soundtrack", scans.string(), "-o", (dir / wav).string(), option, value});
    };
    ASSERT_EQ(run("--rotation", "down", "a.wav").status, 0);
    ASSERT_EQ(run("--track", "bottom", "b.wav").status, 0);
    EXPECT_TRUE(test::readFileBytes(dir / "a.wav") == test::readFileBytes(dir / "b.wav"));
    // one name or the other, and each with its own words
    const test::ProcessResult both =
        test::runCommandLine({"soundtrack", scans.string(), "-o", (dir / "c.wav").string(),
                              "--rotation", "down", "--track", "bottom"});
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(run("--track", "down", "d.wav").status, 2);
    EXPECT_EQ(run("--rotation", "left", "e.wav").status, 2);
}

} // namespace
} // namespace veltrana
