// Delivery files: whole units at each depth, clipping at full scale, and a
// Broadcast WAV that libsndfile reads back with its bext fields.

#include "soundtrack/sound_file.h"

#include "job/md5.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>

namespace veltrana {
namespace {

struct PcmRow {
    float sample;
    int bits;
    std::int32_t value;
    bool clipped;
};

class PcmValues : public testing::TestWithParam<PcmRow> {};

TEST_P(PcmValues, KeepTheStandardScaleAndClipAtFullScale) {
    const PcmRow& r = GetParam();
    bool clipped = false;
    EXPECT_EQ(pcmValue(r.sample, r.bits, &clipped), r.value);
    EXPECT_EQ(clipped, r.clipped);
}

// one 8-bit step is 1.0: 256 units at 16 bits, 65536 at 24
INSTANTIATE_TEST_SUITE_P(
    Depths, PcmValues,
    testing::Values(PcmRow{0.0f, 24, 0, false}, PcmRow{1.0f, 24, 65536, false},
                    PcmRow{-1.5f, 24, -98304, false}, PcmRow{0.25f, 16, 64, false},
                    PcmRow{-127.99f, 16, -32765, false}, PcmRow{127.9f, 16, 32742, false},
                    PcmRow{128.0f, 16, 32767, true}, PcmRow{-128.0f, 16, -32768, false},
                    PcmRow{-129.0f, 16, -32768, true}, PcmRow{127.999f, 24, 8388542, false},
                    PcmRow{200.0f, 24, 8388607, true}, PcmRow{2.4f, 8, 2, false},
                    PcmRow{2.6f, 8, 3, false}, PcmRow{-200.0f, 8, -128, true},
                    PcmRow{std::nanf(""), 24, 0, true}));

struct Written {
    SF_INFO info{};
    SF_BROADCAST_INFO bext{};
    bool hasBext = false;
    std::vector<int> samples;
};

Written readBack(const std::filesystem::path& path) {
    Written w;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &w.info);
    if (file == nullptr) {
        return w;
    }
    w.hasBext = sf_command(file, SFC_GET_BROADCAST_INFO, &w.bext, sizeof w.bext) == SF_TRUE;
    w.samples.resize(static_cast<std::size_t>(w.info.frames));
    sf_read_int(file, w.samples.data(), w.info.frames);
    sf_close(file);
    return w;
}

// The chunks of a RIFF file by id, as its raw payloads, and their ids in order.
struct RiffChunks {
    std::uint32_t riffSize = 0;
    std::size_t fileSize = 0;
    std::vector<std::string> order;
    std::map<std::string, std::string> payload;
};

RiffChunks chunksOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto le32 = [&bytes](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) {
            v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        }
        return v;
    };
    RiffChunks c;
    c.fileSize = bytes.size();
    c.riffSize = le32(4);
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t size = le32(at + 4);
        c.order.push_back(id);
        c.payload[id] = bytes.substr(at + 8, size);
        at += 8 + size + (size & 1u);
    }
    return c;
}

// The five samples of the tests below, written at `bits` to `path`.
Result<WaveWritten> writeFiveSamples(const std::filesystem::path& path, int bits) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        return Status::failure("cannot create " + path.string());
    }
    BroadcastInfo info;
    info.description = "Optical soundtrack, 35 mm variable area";
    info.codingHistory = codingHistoryLine(48000, bits, "Veltrana test");
    info.date = "2026-12-07";
    info.time = "10:11:12";
    const std::vector<float> samples{0.0f, 1.0f, -1.0f, 100.5f, -300.0f};
    Result<WaveWritten> written = writeBroadcastWave(fd, path.string(), samples, 48000, bits, info);
    ::close(fd);
    return written;
}

class BroadcastWave : public testing::TestWithParam<int> {};

TEST_P(BroadcastWave, ReadsBackWithItsSamplesAndBext) {
    const int bits = GetParam();
    test::TempDir dir;
    const std::filesystem::path path = dir / "sound.wav";
    const Result<WaveWritten> written = writeFiveSamples(path, bits);
    ASSERT_TRUE(written.ok()) << written.message();
    EXPECT_EQ(written->samples, 5u);
    EXPECT_EQ(written->clipped, 1u); // -300 is beyond full scale at every depth

    const Written w = readBack(path);
    EXPECT_EQ(w.info.samplerate, 48000);
    EXPECT_EQ(w.info.channels, 1);
    const int subtype = bits == 8    ? SF_FORMAT_PCM_U8
                        : bits == 16 ? SF_FORMAT_PCM_16
                                     : SF_FORMAT_PCM_24;
    EXPECT_EQ(w.info.format, SF_FORMAT_WAV | subtype);
    ASSERT_TRUE(w.hasBext);
    EXPECT_STREQ(w.bext.description, "Optical soundtrack, 35 mm variable area");
    EXPECT_EQ(std::string(w.bext.originator, strnlen(w.bext.originator, 32)), "Veltrana");
    EXPECT_EQ(std::string(w.bext.origination_date, 10), "2026-12-07");
    EXPECT_EQ(std::string(w.bext.origination_time, 8), "10:11:12");
    // ours first; libsndfile adds a line of its own as the last writer
    const std::string history(w.bext.coding_history, w.bext.coding_history_size);
    EXPECT_EQ(
        history.rfind("A=PCM,F=48000,W=" + std::to_string(bits) + ",M=mono,T=Veltrana test\r\n", 0),
        0u)
        << history;
    // read back as whole units in the top bits of an int
    const int shift = 32 - bits;
    const double step = bits == 8 ? 1 : (bits == 16 ? 256 : 65536);
    ASSERT_EQ(w.samples.size(), 5u);
    EXPECT_EQ(w.samples[0] >> shift, 0);
    EXPECT_EQ(w.samples[1] >> shift, static_cast<int>(step));
    EXPECT_EQ(w.samples[2] >> shift, -static_cast<int>(step));
    EXPECT_EQ(w.samples[4] >> shift, -(1 << (bits - 1)));
}

INSTANTIATE_TEST_SUITE_P(Depths, BroadcastWave, testing::Values(8, 16, 24));

struct Md5Row {
    int bits;
    std::size_t dataBytes;
    std::string md5; // of the five samples' bytes, as md5sum gives it
};

class BroadcastWaveMd5 : public testing::TestWithParam<Md5Row> {};

// The MD5 chunk follows the data, holds the MD5 of the data payload alone,
// and the RIFF size counts it; the 8-bit file's odd data is padded before it.
TEST_P(BroadcastWaveMd5, FollowsTheDataWithTheMd5OfItsPayload) {
    const Md5Row& row = GetParam();
    test::TempDir dir;
    const std::filesystem::path path = dir / "sound.wav";
    ASSERT_TRUE(writeFiveSamples(path, row.bits).ok());
    const RiffChunks c = chunksOf(path);
    ASSERT_GE(c.order.size(), 2u);
    EXPECT_EQ(c.order[c.order.size() - 2], "data");
    EXPECT_EQ(c.order.back(), "MD5 ");
    EXPECT_EQ(c.payload.at("data").size(), row.dataBytes);
    const std::string digest = c.payload.at("MD5 ");
    ASSERT_EQ(digest.size(), 16u);
    EXPECT_EQ(md5Hex(std::as_bytes(std::span(c.payload.at("data")))), row.md5);
    EXPECT_EQ(hexDigits(std::span<const std::byte, 16>(
                  reinterpret_cast<const std::byte*>(digest.data()), 16)),
              row.md5);
    EXPECT_EQ(c.riffSize + 8u, c.fileSize);
    EXPECT_EQ(c.fileSize % 2, 0u);
    EXPECT_EQ(readBack(path).samples.size(), 5u); // libsndfile still reads it

    const std::string ffprobe = VELTRANA_FFPROBE; // found by CMake, empty if not
    if (ffprobe.empty()) {
        GTEST_SKIP() << "ffprobe was not found when the tests were configured (Debian ffmpeg)";
    }
    const auto probe = test::runProgram({ffprobe, "-v", "error", "-count_packets", "-show_entries",
                                         "stream=sample_rate,channels,duration_ts", "-of",
                                         "default=noprint_wrappers=1", path.string()});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.err, "");
    EXPECT_NE(probe.out.find("sample_rate=48000"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("duration_ts=5"), std::string::npos) << probe.out;
}

INSTANTIATE_TEST_SUITE_P(Depths, BroadcastWaveMd5,
                         testing::Values(Md5Row{8, 5, "8ec7a84c5f7c463d6e3c1b62d03b707e"},
                                         Md5Row{16, 10, "2272fee1b44760f3b708899ec7642c9c"},
                                         Md5Row{24, 15, "e2f171a4aec4346b49e3ee8a432fc367"}));

TEST(BroadcastWave, AFileThatCannotBeWrittenIsNamed) {
    const Result<WaveWritten> written =
        writeBroadcastWave(-1, "/somewhere/sound.wav", std::vector<float>{0.0f}, 48000, 24, {});
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.message().rfind("Cannot write the sound to /somewhere/sound.wav: ", 0), 0u)
        << written.message();
}

} // namespace
} // namespace veltrana
