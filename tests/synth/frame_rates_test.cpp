// The soundtrack command at film speeds other than 24 and 25: the length of
// the sound, the film's own rate where it is no whole number, and the time a
// DPX scan's time code gives the Broadcast WAV.

#include "synth/synth.h"

#include "support/command_line.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace veltrana::synth {
namespace {

// What the command wrote: the samples, their rate and bits, and the
// Broadcast WAV's time reference (0 without a "bext" chunk).
struct WavFacts {
    std::uint64_t samples = 0;
    std::uint32_t rate = 0;
    int bits = 0;
    std::uint64_t timeReference = 0;
};

std::uint64_t littleEndian(const std::vector<unsigned char>& b, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = v << 8 | b.at(at + static_cast<std::size_t>(i));
    }
    return v;
}

WavFacts wavFacts(const std::filesystem::path& wav) {
    const std::vector<unsigned char> b = test::readFileBytes(wav);
    WavFacts facts;
    std::size_t at = 12;
    std::uint64_t dataBytes = 0;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + static_cast<std::ptrdiff_t>(at),
                             b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const std::uint64_t size = littleEndian(b, at + 4, 4);
        if (id == "fmt ") {
            facts.rate = static_cast<std::uint32_t>(littleEndian(b, at + 12, 4));
            facts.bits = static_cast<int>(littleEndian(b, at + 22, 2));
        } else if (id == "bext") {
            // after the description, originator, its reference, date and time
            facts.timeReference = littleEndian(b, at + 8 + 338, 8);
        } else if (id == "data") {
            dataBytes = size;
        }
        at += 8 + size + (size % 2);
    }
    facts.samples = facts.bits > 0 ? dataBytes / static_cast<std::uint64_t>(facts.bits / 8) : 0;
    return facts;
}

class FrameRates : public testing::Test {
protected:
    void SetUp() override {
        const test::ProcessResult r =
            test::runCommandLine({"synth", scans.string(), "--frames", "4", "--dpi", "600", "--fps",
                                  "24", "--format", "dpx"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    test::ProcessResult soundtrack(std::vector<std::string> more) {
        std::vector<std::string> args = {"soundtrack", scans.string(), "-o",
                                         wav.string(), "--dpi",        "600"};
        args.insert(args.end(), more.begin(), more.end());
        return test::runCommandLine(args);
    }
    test::TempDir dir;
    std::filesystem::path scans = dir / "scans";
    std::filesystem::path wav = dir / "sound.wav";
};

TEST_F(FrameRates, A23976RunIsLongerByTheRatioOfTheSpeeds) {
    ASSERT_EQ(soundtrack({"--fps", "24", "--rate", "48000", "-q"}).status, 0);
    const WavFacts at24 = wavFacts(wav);
    ASSERT_EQ(soundtrack({"--fps", "23.976", "--rate", "48000", "-q"}).status, 0);
    const WavFacts at23976 = wavFacts(wav);
    EXPECT_EQ(at24.rate, 48000u);
    EXPECT_EQ(at23976.rate, 48000u);
    const double ratio = static_cast<double>(at23976.samples) / static_cast<double>(at24.samples);
    EXPECT_NEAR(ratio / (24.0 / 23.976), 1.0, 0.0002)
        << at23976.samples << " against " << at24.samples << " samples";
}

TEST_F(FrameRates, TheFilmsOwnRateIsRefusedWhereItIsNoWholeNumber) {
    const test::ProcessResult r = soundtrack({"--fps", "23.976", "--rate", "film", "-q"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "veltrana: The film's own rate cannot be written: 23.976 frames per second "
                     "times a frame pitch of 453 rows is 10861.14 samples per second, no whole "
                     "number; ask for 44100, 48000 or 96000 Hz\n");
    EXPECT_FALSE(std::filesystem::exists(wav));
    EXPECT_FALSE(std::filesystem::exists(scans / "leng.txt"));
}

TEST_F(FrameRates, WithoutARateTheSoundIs48000AtTheBitsAskedFor) {
    const test::ProcessResult r = soundtrack({"--fps", "29.97", "--bits", "16"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("The film's rate is no whole number (29.97 frames per second times a "
                         "frame pitch of 453 rows is 13576.42): the sound is written at 48000 Hz"),
              std::string::npos)
        << r.err;
    const WavFacts facts = wavFacts(wav);
    EXPECT_EQ(facts.rate, 48000u);
    EXPECT_EQ(facts.bits, 16);
}

TEST_F(FrameRates, TheFirstScansTimeCodeIsTheTimeReference) {
    // frame 2 of the render is 01:00:00:01, at 24 fps 3600 s and 1/24 s
    ASSERT_EQ(soundtrack({"--first", "2", "--fps", "24", "--archival", "-q"}).status, 0);
    EXPECT_EQ(wavFacts(wav).timeReference, 3600u * 48000u + 2000u);
    // at 23.976 each counted frame lasts 1001/24000 s: 86401 frames of 2002 samples
    ASSERT_EQ(soundtrack({"--first", "2", "--fps", "23.976", "--archival", "-q"}).status, 0);
    EXPECT_EQ(wavFacts(wav).timeReference, 86401u * 2002u);
}

// The transfer the header states goes into the log and the report, and a
// frame rate other than the run's into the log.
TEST_F(FrameRates, WhatTheHeaderSaysIsLoggedAndReported) {
    const std::filesystem::path report = dir / "report";
    const test::ProcessResult r = soundtrack({"--fps", "25", "--report", report.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string html = test::readFileText(report / "report.html");
    EXPECT_NE(html.find("Scans as stored (samples used as they are)"), std::string::npos);
    EXPECT_NE(html.find("10-bit DPX, grey, transfer: printing density"), std::string::npos);
    EXPECT_NE(r.err.find("Scans: 10-bit DPX, grey, transfer: printing density (samples used as "
                         "stored)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("The scan's header gives 24 frames per second; the run uses 25"),
              std::string::npos)
        << r.err;
}

TEST(FrameRatesOfTiff, HaveNoTimeReference) {
    test::TempDir dir;
    ASSERT_EQ(test::runCommandLine({"synth", (dir / "scans").string(), "--frames", "3", "--dpi",
                                    "600", "--fps", "25"})
                  .status,
              0);
    const std::filesystem::path wav = dir / "sound.wav";
    const test::ProcessResult r =
        test::runCommandLine({"soundtrack", (dir / "scans").string(), "-o", wav.string(), "--dpi",
                              "600", "--fps", "16.5", "--bits", "24"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Scans:"), std::string::npos) << r.err;
    const WavFacts facts = wavFacts(wav);
    EXPECT_EQ(facts.rate, 48000u);
    EXPECT_EQ(facts.timeReference, 0u);
}

} // namespace
} // namespace veltrana::synth
