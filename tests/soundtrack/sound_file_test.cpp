// Delivery files: whole units at each depth, clipping at full scale, and a
// Broadcast WAV that libsndfile reads back with its bext fields.

#include "soundtrack/sound_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
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

class BroadcastWave : public testing::TestWithParam<int> {};

TEST_P(BroadcastWave, ReadsBackWithItsSamplesAndBext) {
    const int bits = GetParam();
    test::TempDir dir;
    const std::filesystem::path path = dir / "sound.wav";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    BroadcastInfo info;
    info.description = "Optical soundtrack, 35 mm variable area";
    info.codingHistory = codingHistoryLine(48000, bits, "Veltrana test");
    info.date = "2026-12-07";
    info.time = "10:11:12";
    const std::vector<float> samples{0.0f, 1.0f, -1.0f, 100.5f, -300.0f};
    const Result<WaveWritten> written =
        writeBroadcastWave(fd, path.string(), samples, 48000, bits, info);
    ::close(fd);
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

TEST(BroadcastWave, AFileThatCannotBeWrittenIsNamed) {
    const Result<WaveWritten> written =
        writeBroadcastWave(-1, "/somewhere/sound.wav", std::vector<float>{0.0f}, 48000, 24, {});
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.message().rfind("Cannot write the sound to /somewhere/sound.wav: ", 0), 0u)
        << written.message();
}

} // namespace
} // namespace veltrana
