// The soundtrack command on one film rendered in every scan format: the
// standard sound must not depend on the format, and archival sound must hear
// what a deeper scan holds below its eighth bit.

#include "synth/synth.h"

#include "support/command_line.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace veltrana::synth {
namespace {

// Renders the same film into `dir` in `format`; the options every case shares.
void render(const std::filesystem::path& dir, const std::vector<std::string>& format) {
    std::vector<std::string> args = {"synth",   dir.string(), "--frames", "4",
                                     "--dpi",   "600",        "--fps",    "25",
                                     "--color", "--noise",    "--signal", "tone"};
    args.insert(args.end(), format.begin(), format.end());
    const test::ProcessResult r = test::runCommandLine(args);
    ASSERT_EQ(r.status, 0) << r.err;
}

TEST(DeepScans, GiveTheStandardSoundOfTheirEightBitTwin) {
    test::TempDir dir;
    const std::vector<std::vector<std::string>> formats = {
        {},
        {"--format", "tiff16"},
        {"--format", "dpx"},
        {"--format", "dpx", "--dpx-bits", "12", "--dpx-packing", "packed", "--dpx-byte-order",
         "little"},
        {"--format", "dpx", "--dpx-bits", "16", "--dpx-packing", "b"},
        {"--format", "exr", "--exr-half", "--exr-tiled"},
    };
    std::vector<unsigned char> twinWav;
    std::string twinJoins;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const std::filesystem::path scans = dir / ("scans" + std::to_string(i));
        render(scans, formats[i]);
        const std::filesystem::path wav = dir / ("sound" + std::to_string(i) + ".wav");
        const test::ProcessResult r = test::runCommandLine(
            {"soundtrack", scans.string(), "-o", wav.string(), "--dpi", "600", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<unsigned char> bytes = test::readFileBytes(wav);
        const std::string joins = test::readFileText(scans / "leng.txt");
        if (i == 0) {
            twinWav = bytes;
            twinJoins = joins;
            continue;
        }
        EXPECT_TRUE(bytes == twinWav) << "the sound of " << formats[i][1] << " " << i;
        EXPECT_EQ(joins, twinJoins) << formats[i][1] << " " << i;
    }
}

// The best normalised correlation of the sound with the truth over the
// shifts that can align them, as a signal-to-noise ratio in dB.
double snrAgainstTruth(const std::vector<float>& sound, const std::vector<float>& truth) {
    const int n = static_cast<int>(sound.size());
    const int margin = n / 10; // the ends lean on a shortened smoothing
    double best = 0.0;
    for (int shift = 0; shift + n <= static_cast<int>(truth.size()); ++shift) {
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        const int count = n - 2 * margin;
        for (int i = margin; i < n - margin; ++i) {
            const double x = sound[static_cast<std::size_t>(i)];
            const double y = truth[static_cast<std::size_t>(shift + i)];
            sx += x;
            sy += y;
            sxx += x * x;
            syy += y * y;
            sxy += x * y;
        }
        const double cxy = sxy - sx * sy / count;
        const double cxx = sxx - sx * sx / count;
        const double cyy = syy - sy * sy / count;
        best = std::max(best, cxy * cxy / (cxx * cyy));
    }
    return 10.0 * std::log10(best / (1.0 - best));
}

TEST(DeepScans, ArchivalSoundUsesTheBitsBelowTheEighth) {
    test::TempDir dir;
    std::vector<std::vector<float>> sounds;
    std::vector<float> truth;
    for (const std::vector<std::string>& format :
         {std::vector<std::string>{}, std::vector<std::string>{"--format", "tiff16"}}) {
        const std::filesystem::path scans = dir / ("scans" + std::to_string(sounds.size()));
        render(scans, format);
        const std::filesystem::path wav = dir / ("sound" + std::to_string(sounds.size()) + ".wav");
        const test::ProcessResult r =
            test::runCommandLine({"soundtrack", scans.string(), "-o", wav.string(), "--dpi", "600",
                                  "--archival", "--rate", "film", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        const TruthSignal sound = readTruthSignal(wav);
        ASSERT_TRUE(sound.ok()) << sound.error;
        sounds.push_back(sound.samples);
        truth = readTruthSignal(scans / "truth.wav").samples;
    }
    ASSERT_EQ(sounds[0].size(), sounds[1].size());
    EXPECT_NE(sounds[0], sounds[1]);
    const double eightBit = snrAgainstTruth(sounds[0], truth);
    const double sixteenBit = snrAgainstTruth(sounds[1], truth);
    EXPECT_GE(sixteenBit, eightBit);
    RecordProperty("snr_8bit_db", std::to_string(eightBit));
    RecordProperty("snr_16bit_db", std::to_string(sixteenBit));
}

// A folder as archives leave them: a DPX scan among the TIFF ones and a
// scan gone. The run reads the TIFF scans it has and says what it left out
// and which numbers are missing.
TEST(DeepScans, AFolderOfMixedOrMissingScansSaysSoAndGoesOn) {
    test::TempDir dir;
    render(dir / "scans", {});
    render(dir / "dpx", {"--format", "dpx"});
    std::filesystem::copy_file(dir / "dpx" / "frame_0001.dpx", dir / "scans" / "frame_0001.dpx");
    std::filesystem::remove(dir / "scans" / "frame_0003.tif");
    const test::ProcessResult r =
        test::runCommandLine({"soundtrack", (dir / "scans").string(), "-o",
                              (dir / "sound.wav").string(), "--dpi", "600", "--fps", "25"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string said = r.out + r.err;
    EXPECT_NE(said.find("The folder also holds 1 DPX scan; only its TIFF scans are read"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("The scans' numbers skip 3: a scan may be missing"), std::string::npos)
        << said;
    // one length for each of the three scans there are
    std::istringstream lengths(test::readFileText(dir / "scans" / "leng.txt"));
    int count = 0;
    for (int length = 0; lengths >> length;) {
        ++count;
    }
    EXPECT_EQ(count, 3) << lengths.str();
}

} // namespace
} // namespace veltrana::synth
