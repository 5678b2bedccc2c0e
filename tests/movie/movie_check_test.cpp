// Reading a finished movie back: movies the film job wrote, then damaged as a
// full disk damages them, and a sweep of free space around a movie's size on
// a small filesystem, where every run must either fail and leave no movie or
// leave one that decodes whole.

#include "movie/movie_check.h"

#include "movie/movie_probe.h"
#include "support/command_line.h"
#include "support/output_checks.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// Scans with a frame line at each end and a different grain each, so that
// every movie frame carries some data.
void writeScans(const fs::path& dir, int count) {
    fs::create_directories(dir);
    cv::RNG random(7);
    for (int k = 1; k <= count; ++k) {
        cv::Mat scan(300, 400, CV_8UC3);
        random.fill(scan, cv::RNG::UNIFORM, 100, 200);
        scan.colRange(0, 12).setTo(cv::Scalar::all(8));
        scan.colRange(388, 400).setTo(cv::Scalar::all(8));
        char name[32];
        std::snprintf(name, sizeof name, "scan%02d.tif", k);
        ASSERT_TRUE(cv::imwrite((dir / name).string(), scan));
    }
}

std::string readAll(const fs::path& path) {
    return test::readFileText(path);
}

void writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void putLittleEndian32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) {
        bytes[at + static_cast<std::size_t>(k)] = static_cast<char>((value >> (8 * k)) & 0xff);
    }
}

class MovieCheck : public testing::Test {
protected:
    static void SetUpTestSuite() {
        made = std::make_unique<test::TempDir>();
        writeScans(made->path() / "scans", 4);
        const test::ProcessResult r = test::runCommandLine(
            {"film", (made->path() / "scans").string(), "-o", (made->path() / "m.avi").string()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() { made.reset(); }

    static fs::path good() { return made->path() / "m.avi"; }
    static inline std::unique_ptr<test::TempDir> made;
    test::TempDir dir;
};

TEST_F(MovieCheck, AWholeMoviePassesWithItsFrameCountOnly) {
    EXPECT_TRUE(checkFinishedMovie(good(), 4).ok());
    const Status three = checkFinishedMovie(good(), 3);
    ASSERT_FALSE(three.ok());
    EXPECT_EQ(three.message(), "its header counts 4 of its 3 frames");
}

// What a full disk leaves of a movie, each alone.
struct DamageRow {
    const char* name;
    std::function<std::string(std::string)> damage;
    const char* says;
};

class DamagedMovie : public MovieCheck, public testing::WithParamInterface<DamageRow> {};

TEST_P(DamagedMovie, IsRefusedWithTheCause) {
    const fs::path movie = dir / "damaged.avi";
    writeAll(movie, GetParam().damage(readAll(good())));
    const Status checked = checkFinishedMovie(movie, 4);
    ASSERT_FALSE(checked.ok());
    EXPECT_NE(checked.message().find(GetParam().says), std::string::npos) << checked.message();
}

std::size_t find(const std::string& bytes, const char* fourcc) {
    return bytes.find(fourcc);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedMovie,
    testing::Values(DamageRow{"RiffSizeNeverFilledIn",
                              [](std::string b) {
                                  putLittleEndian32(b, 4, 0xffffffffu);
                                  return b;
                              },
                              "its RIFF size was never filled in"},
                    DamageRow{"MoviSizeNeverFilledIn",
                              [](std::string b) {
                                  putLittleEndian32(b, find(b, "movi") - 4, 0xffffffffu);
                                  return b;
                              },
                              "the size of its LIST chunk was never filled in"},
                    DamageRow{"NoIndex",
                              [](std::string b) {
                                  const std::size_t index = find(b, "idx1");
                                  b.resize(index);
                                  putLittleEndian32(b, 4, static_cast<std::uint32_t>(index - 8));
                                  return b;
                              },
                              "it has no index"},
                    DamageRow{"HeaderCountsNoFrames",
                              [](std::string b) {
                                  putLittleEndian32(b, find(b, "avih") + 8 + 16, 0);
                                  return b;
                              },
                              "its header counts 0 of its 4 frames"},
                    DamageRow{"CutShort",
                              [](std::string b) {
                                  b.resize(b.size() - 2000);
                                  return b;
                              },
                              "its RIFF size was never filled in"},
                    DamageRow{"LastFrameDamaged",
                              [](std::string b) {
                                  // the last frame's data overwritten where it lies, sizes intact
                                  const std::size_t index = find(b, "idx1");
                                  for (std::size_t at = index - 600; at < index - 8; ++at) {
                                      b[at] = static_cast<char>(0xff);
                                  }
                                  return b;
                              },
                              "frame 4 is damaged"},
                    DamageRow{"NoAviAtAll",
                              [](std::string b) {
                                  b.replace(8, 4, "WAVE");
                                  return b;
                              },
                              "it is no AVI file"}),
    [](const testing::TestParamInfo<DamageRow>& info) { return info.param.name; });

// The sweep: free space around the size of the movie on a small tmpfs. Every
// run either fails, naming the movie, and leaves none, or leaves one that
// decodes whole.
TEST_F(MovieCheck, ANearlyFullDiskGivesAWholeMovieOrNone) {
    if (!test::runningAsRoot()) {
        GTEST_SKIP() << "mounting a small filesystem needs root";
    }
    writeScans(dir / "scans", 8);
    const fs::path full = dir / "full.avi";
    ASSERT_EQ(test::runCommandLine({"film", (dir / "scans").string(), "-o", full.string()}).status,
              0);
    const std::size_t size = fs::file_size(full);
    const fs::path small = dir / "small";
    fs::create_directory(small);
    test::ScopedMount mount;
    if (!mount.mountTmpfs(small, size + 256 * 1024)) {
        GTEST_SKIP() << mount.whyNot();
    }
    const fs::path movie = small / "reel.avi";
    int failed = 0;
    for (std::size_t room = size - 28 * 1024; room <= size + 8 * 1024; room += 4096) {
        fs::remove(movie);
        ASSERT_TRUE(test::fillDisk(small / "filler", room)) << room;
        const test::ProcessResult r =
            test::runCommandLine({"film", (dir / "scans").string(), "-o", movie.string(), "-q"});
        if (r.status != 0) {
            ++failed;
            EXPECT_NE(r.err.find("Cannot write the movie to " + movie.string()), std::string::npos)
                << room << ": " << r.err;
            EXPECT_FALSE(fs::exists(movie)) << room;
        } else {
            EXPECT_TRUE(checkFinishedMovie(movie, 8).ok()) << room;
            EXPECT_EQ(test::probeMovie(movie).frames, 8) << room;
        }
        EXPECT_EQ(test::temporariesUnder(small), std::vector<std::string>{}) << room;
    }
    EXPECT_GT(failed, 0) << "the sweep never reached a disk too full";
}

// A movie never takes a sound's place; a new file of that name still gets it.
TEST_F(MovieCheck, AMovieNeverReplacesAWavFile) {
    writeScans(dir / "scans", 2);
    const fs::path wav = dir / "sound.wav";
    // the start of a WAV file is all that tells it
    std::string riff = "RIFF";
    riff += std::string("\x24\0\0\0", 4) + "WAVEfmt ";
    writeAll(wav, riff);
    const test::ProcessResult r =
        test::runCommandLine({"film", (dir / "scans").string(), "-o", wav.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write the movie to " + wav.string() +
                         ": it is a WAV file, and a movie never replaces a sound"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readAll(wav), riff);
    EXPECT_EQ(test::temporariesUnder(dir.path()), std::vector<std::string>{});

    const fs::path fresh = dir / "new.wav";
    EXPECT_EQ(test::runCommandLine({"film", (dir / "scans").string(), "-o", fresh.string()}).status,
              0);
    EXPECT_TRUE(checkFinishedMovie(fresh, 2).ok());
    writeAll(dir / "notes.wav", "not a sound");
    EXPECT_EQ(
        test::runCommandLine({"film", (dir / "scans").string(), "-o", (dir / "notes.wav").string()})
            .status,
        0);
}

} // namespace
} // namespace veltrana
