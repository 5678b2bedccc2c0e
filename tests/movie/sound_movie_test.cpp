// veltrana film --with-sound on rendered sync tests: the offset of each
// burst's onset against its white picture's frame line, measured in the
// finished file as a player decodes it (ffmpeg); and the command's refusals
// and failures, each leaving nothing behind.

#include "movie/movie_probe.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace veltrana {
namespace {

using test::folderEntries;
using test::TempDir;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kRate = 48000; // the sound is decoded at this rate whatever it holds

struct SyncRender {
    SoundtrackType film = SoundtrackType::VariableArea35;
    int frames = 0;
    std::vector<int> marks;
    int advance = -1; // -1: the film's own, for both the render and the movie
    double shrink = 0;
    synth::ScanFormat format = synth::ScanFormat::Tiff;
    int fps = 24; // the film speed, of the render and the movie
};

std::filesystem::path renderSync(const TempDir& dir, const SyncRender& s) {
    synth::SynthOptions options;
    options.film = s.film;
    options.dpi = {900, 900};
    options.frames = s.frames;
    options.color = false;
    options.syncMarks = s.marks;
    options.syncAdvance = s.advance;
    options.shrinkPercent = s.shrink;
    options.format = s.format;
    options.fps = s.fps;
    const std::filesystem::path scans = dir / "scans";
    const synth::SynthResult result = synth::renderSampleScans(options, scans);
    EXPECT_TRUE(result.ok()) << result.error;
    return scans;
}

std::vector<std::string> filmArgs(const SyncRender& s, const std::filesystem::path& scans,
                                  const std::filesystem::path& movie) {
    std::vector<std::string> args{"film",  scans.string(), "-o",          movie.string(),
                                  "--dpi", "900",          "--with-sound"};
    args.push_back("--film");
    args.push_back(s.film == SoundtrackType::VariableArea16 ? "16va" : "35va");
    if (s.fps != 24) {
        args.push_back("--fps");
        args.push_back(std::to_string(s.fps));
    }
    if (s.advance >= 0) {
        args.push_back("--advance");
        args.push_back(std::to_string(s.advance));
    }
    return args;
}

std::vector<float> floatsOf(const std::vector<unsigned char>& bytes) {
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// The movie's pictures whose middle is white (0-based), and its sound, as
// ffmpeg decodes them.
struct Decoded {
    std::vector<int> white;
    std::vector<float> sound;
};

Decoded decodeMovie(const std::string& ffmpeg, const std::filesystem::path& movie,
                    const TempDir& dir) {
    const std::filesystem::path pictures = dir / "pictures.gray";
    const std::filesystem::path sound = dir / "sound.f32";
    const test::ProcessResult r =
        test::runProgram({ffmpeg,         "-v",       "error", "-i",
                          movie.string(), "-map",     "0:v:0", "-f",
                          "rawvideo",     "-pix_fmt", "gray",  pictures.string(),
                          "-map",         "0:a:0",    "-f",    "f32le",
                          "-ac",          "1",        "-ar",   std::to_string(kRate),
                          sound.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    Decoded decoded;
    const std::vector<unsigned char> gray = test::readFileBytes(pictures);
    const std::size_t size = static_cast<std::size_t>(kWidth) * kHeight;
    for (std::size_t k = 0; k < gray.size() / size; ++k) {
        const unsigned char* middle = gray.data() + k * size + size / 2 + kWidth / 2;
        int sum = 0;
        for (int c = -50; c < 50; ++c) {
            sum += middle[c];
        }
        if (sum > 230 * 100) {
            decoded.white.push_back(static_cast<int>(k));
        }
    }
    decoded.sound = floatsOf(test::readFileBytes(sound));
    return decoded;
}

// The burst's onset near `seconds`, in seconds: the first sample above a
// quarter of the burst's peak, less the time a sine from phase 0 takes to
// get there.
double burstOnset(const std::vector<float>& sound, double seconds) {
    const auto from = static_cast<std::size_t>(std::max(0.0, (seconds - 0.03) * kRate));
    const std::size_t to = std::min(sound.size(), from + static_cast<std::size_t>(0.1 * kRate));
    float peak = 0;
    for (std::size_t i = from; i < to; ++i) {
        peak = std::max(peak, std::abs(sound[i]));
    }
    for (std::size_t i = from; i < to; ++i) {
        if (std::abs(sound[i]) > 0.25f * peak) {
            return static_cast<double>(i) / kRate -
                   std::asin(0.25) / (2 * std::numbers::pi * synth::kSyncBurstHz);
        }
    }
    return -1;
}

struct SyncCase {
    const char* name;
    SyncRender render;
    const char* container;
};

class FilmWithSoundSync : public testing::TestWithParam<SyncCase> {};

TEST_P(FilmWithSoundSync, EachBurstStartsOnItsWhitePictureWithinAMillisecond) {
    const std::string ffmpeg = VELTRANA_FFMPEG; // found by CMake, empty if not
    if (ffmpeg.empty()) {
        GTEST_SKIP() << "ffmpeg was not found when the tests were configured (Debian ffmpeg)";
    }
    const SyncCase c = GetParam();
    TempDir dir;
    const std::filesystem::path scans = renderSync(dir, c.render);
    const std::filesystem::path movie = dir / (std::string("reel.") + c.container);
    const test::ProcessResult r = test::runCommandLine(filmArgs(c.render, scans, movie));
    ASSERT_EQ(r.status, 0) << r.err;

    const Decoded decoded = decodeMovie(ffmpeg, movie, dir);
    std::vector<int> expected;
    for (int mark : c.render.marks) {
        expected.push_back(mark - 1);
    }
    ASSERT_EQ(decoded.white, expected);
    for (int picture : decoded.white) {
        const double frameLine = picture / static_cast<double>(c.render.fps);
        const double offsetMs = (burstOnset(decoded.sound, frameLine) - frameLine) * 1000;
        EXPECT_LT(std::abs(offsetMs), 1.0) << "picture " << picture;
        RecordProperty("offset_ms_picture_" + std::to_string(picture), std::to_string(offsetMs));
    }
    // nothing beside the scans
    EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(scans), {},
                            [](const auto& e) { return e.path().extension() != ".tif"; }),
              2); // truth.json and truth.wav
}

INSTANTIATE_TEST_SUITE_P(
    Renders, FilmWithSoundSync,
    testing::Values(
        SyncCase{"Area35Avi", {SoundtrackType::VariableArea35, 8, {6}, 3, 0}, "avi"},
        SyncCase{"Area35Mp4", {SoundtrackType::VariableArea35, 8, {6}, 3, 0}, "mp4"},
        // the film's own advance, 26 frames (the last picture is held after
        // the reel, so no mark on it)
        SyncCase{"Area16Mp4", {SoundtrackType::VariableArea16, 28, {27}, -1, 0}, "mp4"},
        SyncCase{"Area35Mkv", {SoundtrackType::VariableArea35, 8, {6}, 3, 0}, "mkv"},
        // a film speed of its own, rendered and played at 30 frames per second
        SyncCase{"Area35At30Avi",
                 {SoundtrackType::VariableArea35, 8, {6}, 3, 0, synth::ScanFormat::Tiff, 30},
                 "avi"},
        // shrunk 2 %: the sound keeps its pictures' pace from the first mark to
        // the last
        SyncCase{"Shrunk35Avi", {SoundtrackType::VariableArea35, 24, {4, 23}, 2, 2.0}, "avi"}),
    [](const testing::TestParamInfo<SyncCase>& info) { return info.param.name; });

// Plain scans with no soundtrack band to read.
void writePlainScans(const std::filesystem::path& dir, int count) {
    for (int k = 1; k <= count; ++k) {
        cv::Mat scan(300, 400, CV_8UC3, cv::Scalar(150, 170, 190));
        scan.colRange(0, 12).setTo(cv::Scalar::all(8));
        scan.colRange(388, 400).setTo(cv::Scalar::all(8));
        ASSERT_TRUE(cv::imwrite((dir / ("scan" + std::to_string(k) + ".tif")).string(), scan));
    }
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> args; // after the scans
    const char* message;
};

class FilmWithSoundRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(FilmWithSoundRefuses, WithOneMessageAndNothingWritten) {
    const RefusalCase c = GetParam();
    TempDir scans;
    TempDir out;
    writePlainScans(scans.path(), 3);
    std::vector<std::string> args{"film", scans.path().string(), "-o"};
    for (const std::string& a : c.args) {
        args.push_back(a.starts_with("OUT/") ? (out / a.substr(4)).string() : a);
    }
    const test::ProcessResult r = test::runCommandLine(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(folderEntries(out.path()), std::vector<std::string>{});
    EXPECT_EQ(folderEntries(scans.path()),
              (std::vector<std::string>{"scan1.tif", "scan2.tif", "scan3.tif"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilmWithSoundRefuses,
    testing::Values(RefusalCase{"UnknownContainer",
                                {"OUT/reel.mov", "--with-sound"},
                                "its name must end in .avi, .mp4 or .mkv"},
                    RefusalCase{"FpsWithoutSound", {"OUT/reel.avi", "--fps", "25"}, "--with-sound"},
                    RefusalCase{"NegativeAdvance",
                                {"OUT/reel.avi", "--with-sound", "--advance", "-1"},
                                "--advance"},
                    RefusalCase{"SoundOutputWithoutSound",
                                {"OUT/reel.avi", "--sound-output", "OUT/reel.wav"},
                                "--with-sound"},
                    RefusalCase{"NoSoundtrack",
                                {"OUT/reel.mp4", "--with-sound", "--dpi", "1200", "--sound-output",
                                 "OUT/reel.wav"},
                                "its soundtrack cannot be read"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(FilmWithSound, WritesTheSoundtrackCommandsWavOnlyWhenAsked) {
    TempDir dir;
    const SyncRender s{SoundtrackType::VariableArea35, 4, {4}, 2, 0};
    const std::filesystem::path scans = renderSync(dir, s);
    std::vector<std::string> args = filmArgs(s, scans, dir / "reel.mkv");
    args.insert(args.end(), {"--sound-output", (dir / "film.wav").string()});
    test::ProcessResult r = test::runCommandLine(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Sound: " + (dir / "film.wav").string()), std::string::npos) << r.out;
    r = test::runCommandLine({"soundtrack", scans.string(), "-o", (dir / "alone.wav").string(),
                              "--dpi", "900", "--fps", "24"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readFileBytes(dir / "film.wav"), test::readFileBytes(dir / "alone.wav"));
}

// A WAV from its "fmt " chunk on, with the Broadcast WAV's origination date
// and time blanked.
std::vector<unsigned char> fromFormatChunk(const std::vector<unsigned char>& wav) {
    const std::string id = "fmt ";
    const auto at = std::search(wav.begin(), wav.end(), id.begin(), id.end());
    std::vector<unsigned char> rest(at, wav.end());
    test::blankOriginationTime(rest);
    return rest;
}

// The soundtrack command's film speeds and their rule: at 23.976 the film's
// own rate is no whole number, so asked for by name it is refused before
// anything is written, and otherwise the sound is written at 48000 Hz as the
// soundtrack command writes it.
TEST(FilmWithSound, TakesEveryFilmSpeedAsTheSoundtrackCommandDoes) {
    TempDir dir;
    const SyncRender s{SoundtrackType::VariableArea35, 4, {4}, 2, 0};
    const std::filesystem::path scans = renderSync(dir, s);
    TempDir out;
    std::vector<std::string> args = filmArgs(s, scans, out / "reel.mkv");
    args.insert(args.end(), {"--fps", "23.976", "--rate", "film", "--sound-output",
                             (out / "film.wav").string()});
    test::ProcessResult r = test::runCommandLine(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("The film's own rate cannot be written: 23.976 frames per second times "
                         "a frame pitch of"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(folderEntries(out.path()), std::vector<std::string>{});

    args = filmArgs(s, scans, out / "reel.mkv");
    args.insert(args.end(), {"--fps", "23.976", "--sound-output", (out / "film.wav").string()});
    r = test::runCommandLine(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("at 23.976 fps"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("the sound is written at 48000 Hz"), std::string::npos) << r.err;
    r = test::runCommandLine({"soundtrack", scans.string(), "-o", (dir / "alone.wav").string(),
                              "--dpi", "900", "--fps", "23.976"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fromFormatChunk(test::readFileBytes(out / "film.wav")),
              fromFormatChunk(test::readFileBytes(dir / "alone.wav")));
}

// The Broadcast WAV's time reference: the samples since midnight of its first
// sample, after the description, originator, its reference, date and time.
std::uint64_t timeReferenceOf(const std::vector<unsigned char>& wav) {
    const std::string id = "bext";
    const auto at = std::search(wav.begin(), wav.end(), id.begin(), id.end());
    const auto offset = static_cast<std::size_t>(at - wav.begin()) + 8 + 338;
    std::uint64_t reference = 0;
    for (std::size_t i = 8; i-- > 0 && offset + i < wav.size();) {
        reference = reference << 8 | wav[offset + i];
    }
    return reference;
}

// An archival WAV beside the movie is dated by the first scan's time code, as
// the soundtrack command dates its own.
TEST(FilmWithSound, DatesTheArchivalWavByTheFirstScansTimeCode) {
    TempDir dir;
    SyncRender s{SoundtrackType::VariableArea35, 4, {4}, 2, 0};
    s.format = synth::ScanFormat::Dpx;
    const std::filesystem::path scans = renderSync(dir, s);
    std::vector<std::string> args = filmArgs(s, scans, dir / "reel.mkv");
    args.insert(args.end(),
                {"--first", "2", "--archival", "--sound-output", (dir / "film.wav").string()});
    test::ProcessResult r = test::runCommandLine(args);
    ASSERT_EQ(r.status, 0) << r.err;
    r = test::runCommandLine({"soundtrack", scans.string(), "-o", (dir / "alone.wav").string(),
                              "--dpi", "900", "--fps", "24", "--first", "2", "--archival"});
    ASSERT_EQ(r.status, 0) << r.err;
    // frame 2 of the render is 01:00:00:01: 3600 s and 1/24 s at 48 kHz
    EXPECT_EQ(timeReferenceOf(test::readFileBytes(dir / "film.wav")), 3600u * 48000u + 2000u);
    EXPECT_EQ(fromFormatChunk(test::readFileBytes(dir / "film.wav")),
              fromFormatChunk(test::readFileBytes(dir / "alone.wav")));
}

TEST(FilmWithSound, AFullDiskLeavesNothingBehind) {
    TempDir dir;
    const SyncRender s{SoundtrackType::VariableArea35, 4, {4}, 2, 0};
    const std::filesystem::path scans = renderSync(dir, s);
    TempDir out;
    std::vector<std::string> args = filmArgs(s, scans, out / "reel.avi");
    args.insert(args.begin(), VELTRANA_EXE);
    test::RunOptions limited;
    limited.fileSizeLimit = 64 * 1024; // the pictures fit, the movie with its sound does not
    const test::ProcessResult r = test::runProgram(args, limited);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Cannot write the movie to " + (out / "reel.avi").string() + ": "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(folderEntries(out.path()), std::vector<std::string>{});
}

} // namespace
} // namespace veltrana
