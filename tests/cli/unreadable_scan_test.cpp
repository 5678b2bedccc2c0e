// veltrana soundtrack --on-unreadable on a rendered reel with one scan cut
// short: by default the run stops with nothing written; with silence the
// frame's place holds silence one frame pitch long, the joins beside it lie at
// the pitch unsearched, and the log, report.json and report.html list them.

#include "job/md5.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// The render's joins (35 mm at 1200 dpi, 24 fps) with frame 3 lost: an
// intact run finds "0 905 907 912 907 908 "; frame 3's and frame 4's joins
// lie beside the lost scan, at the frame pitch.
constexpr const char* kJoinsWithFrame3Lost = "0 905 907 907 907 908 ";
constexpr int kPitchRows = 907;
constexpr int kFrame3Start = 905 + 907; // stream sample where frame 3 starts

// Six rendered scans, the third cut short, as a damaged file on a reel.
class UnreadableScan : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new test::TempDir;
        synth::SynthOptions options;
        options.frames = 6;
        const synth::SynthResult rendered = synth::renderSampleScans(options, scans());
        ASSERT_TRUE(rendered.ok()) << rendered.error;
        fs::resize_file(scans() / "frame_0003.tif", 2000);
    }
    static void TearDownTestSuite() { delete dir; }

    static fs::path scans() { return *dir / "scans"; }

    static test::ProcessResult run(const fs::path& wav, std::vector<std::string> extra) {
        std::vector<std::string> args{"soundtrack", scans().string(), "-o",
                                      wav.string(), "--fps",          "24"};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runCommandLine(args);
    }

    // The scans folder's leng.txt, then removed so the next run writes its own.
    static std::string takeLengths() {
        const std::string text = test::readFileText(scans() / "leng.txt");
        fs::remove(scans() / "leng.txt");
        return text;
    }

    static test::TempDir* dir;
};

test::TempDir* UnreadableScan::dir = nullptr;

// Samples as libsndfile reads them, scaled to -1..1.
std::vector<double> soundSamples(const fs::path& wav, int* rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<double> samples(static_cast<std::size_t>(info.frames));
    sf_read_double(file, samples.data(), info.frames);
    sf_close(file);
    *rate = info.samplerate;
    return samples;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(UnreadableScan, StopsTheRunByDefaultWithNothingWritten) {
    test::TempDir out;
    const test::ProcessResult r = run(out / "reel.wav", {});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("frame_0003.tif"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out / "reel.wav"));
    EXPECT_FALSE(fs::exists(scans() / "leng.txt"));
}

// The first scan settles the resolution: it must be read whatever is asked.
TEST_F(UnreadableScan, ALostFirstScanStillStopsTheRun) {
    test::TempDir out;
    const test::ProcessResult r =
        run(out / "reel.wav", {"--first", "3", "--on-unreadable", "silence"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(out / "reel.wav"));
}

TEST_F(UnreadableScan, SilenceHoldsTheFramesPlaceOnePitchLong) {
    test::TempDir out;
    const fs::path wav = out / "reel.wav";
    const test::ProcessResult r = run(
        wav, {"--on-unreadable", "silence", "--no-crossfade", "--report", (out / "r").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(takeLengths(), kJoinsWithFrame3Lost);
    EXPECT_NE(r.err.find("Frame 3 cannot be read (Cannot read the scan "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("its place holds silence, one frame pitch (907 rows) long"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Warning: 1 frame lost, silence in its place: 3; joins not searched "
                         "(frame pitch in leng.txt): 3, 4"),
              std::string::npos)
        << r.err;

    // without a crossfade the frame's place is silence exactly, the byte 128
    int rate = 0;
    const std::vector<double> samples = soundSamples(wav, &rate);
    ASSERT_GT(samples.size(), static_cast<std::size_t>(kFrame3Start + kPitchRows));
    const auto place = samples.begin() + kFrame3Start;
    EXPECT_EQ(std::count(place, place + kPitchRows, 0.0), kPitchRows);
    EXPECT_NE(samples[kFrame3Start - 1], 0.0);
    EXPECT_NE(samples[kFrame3Start + kPitchRows], 0.0);

    const std::string json = fileText(out / "r" / "report.json");
    EXPECT_NE(json.find("\"lost_frames\": [\n    {\"frame\": 3, \"file\": \"frame_0003.tif\", "
                        "\"cause\": \"Cannot read the scan "),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"joins_not_searched\": [3, 4]}\n  ]"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"warning\": \"frames-lost\""), std::string::npos) << json;
    const std::string html = fileText(out / "r" / "report.html");
    EXPECT_NE(html.find("<h2>Frames lost</h2>"), std::string::npos);
    EXPECT_NE(html.find("<tr><td>3</td><td>frame_0003.tif</td>"), std::string::npos);
}

TEST_F(UnreadableScan, ArchivalJoinsBesideTheLostFrameAreNamedAndItsPlaceIsQuiet) {
    test::TempDir out;
    const fs::path wav = out / "reel.wav";
    const test::ProcessResult r = run(wav, {"--on-unreadable", "silence", "--archival", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(takeLengths(), kJoinsWithFrame3Lost);
    const std::string joins = test::readFileText(out / "joins.csv");
    for (const char* line :
         {"\n3,frame_0003.tif,907,,0.000,frame pitch (beside a lost frame, not "
          "searched),907.000,\n",
          "\n4,frame_0004.tif,907,,0.000,frame pitch (beside a lost frame, not searched),907.000,"
          "\n"}) {
        EXPECT_NE(joins.find(line), std::string::npos) << joins;
    }
    // the middle of the frame's place at 48 kHz (24 fps x 907 rows is the
    // film's 21768 Hz) is quiet beside the sound around it
    int rate = 0;
    const std::vector<double> samples = soundSamples(wav, &rate);
    ASSERT_EQ(rate, 48000);
    const double toOutput = 48000.0 / (24.0 * kPitchRows);
    const auto from = static_cast<std::ptrdiff_t>((kFrame3Start + 400) * toOutput);
    const auto to = static_cast<std::ptrdiff_t>((kFrame3Start + kPitchRows - 400) * toOutput);
    ASSERT_GT(samples.size(), static_cast<std::size_t>(to));
    const auto [quietLow, quietHigh] =
        std::minmax_element(samples.begin() + from, samples.begin() + to);
    const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    EXPECT_LT(*quietHigh - *quietLow, 0.01 * (*high - *low));
    EXPECT_EQ(r.err, "veltrana: warning: 1 frame lost, silence in its place: 3; joins not "
                     "searched (frame pitch in leng.txt): 3, 4\n");
}

TEST_F(UnreadableScan, ALostLastFrameLeavesOneUnsearchedJoin) {
    test::TempDir out;
    const test::ProcessResult r =
        run(out / "reel.wav",
            {"--last", "3", "--on-unreadable", "silence", "-q", "--report", (out / "r").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(takeLengths(), "0 905 907 ");
    EXPECT_NE(fileText(out / "r" / "report.json").find("\"joins_not_searched\": [3]}"),
              std::string::npos);
}

// The Broadcast WAV the command line writes carries its audio's MD5.
TEST_F(UnreadableScan, TheArchivalWavCarriesTheMd5OfItsAudioData) {
    test::TempDir out;
    const fs::path wav = out / "reel.wav";
    ASSERT_EQ(run(wav, {"--last", "2", "--archival", "-q"}).status, 0);
    fs::remove(scans() / "leng.txt");
    const std::string bytes = fileText(wav);
    const std::size_t data = bytes.find("data");
    const std::size_t md5 = bytes.rfind("MD5 ");
    ASSERT_NE(data, std::string::npos);
    ASSERT_NE(md5, std::string::npos);
    std::uint32_t size = 0;
    std::memcpy(&size, bytes.data() + data + 4, 4); // little-endian, as the machine
    const std::string payload = bytes.substr(data + 8, size);
    EXPECT_EQ(md5, data + 8 + size + (size & 1u));
    EXPECT_EQ(md5 + 24, bytes.size());
    std::array<std::byte, 16> stored{};
    std::memcpy(stored.data(), bytes.data() + md5 + 8, 16);
    EXPECT_EQ(hexDigits(stored), md5Hex(std::as_bytes(std::span(payload))));
}

} // namespace
} // namespace veltrana
