#include "report/delivered_sound.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <fstream>

namespace veltrana {
namespace {

using test::TempDir;

// A mono WAV of the given PCM format holding `values` (-1..1).
void writeWav(const std::filesystem::path& path, int format, const std::vector<double>& values) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_double(file, values.data(), static_cast<sf_count_t>(values.size()));
    sf_close(file);
}

struct Width {
    int format;
    int bits;
    double fullScale;
    double silence; // in the file's units
};

class DeliveredSoundWidths : public testing::TestWithParam<Width> {};

TEST_P(DeliveredSoundWidths, GivesEachStretchInTheFilesUnits) {
    const Width w = GetParam();
    TempDir dir;
    // two stretches: silence then a half-scale swing
    writeWav(dir / "s.wav", w.format, {0, 0, 0, 0, 0.5, -0.5, 0.25, -0.25});
    const Result<DeliveredSound> s = readDeliveredSound(dir / "s.wav", 2);
    ASSERT_TRUE(s) << s.message();
    EXPECT_EQ(s->bits, w.bits);
    EXPECT_EQ(s->sampleRate, 48000);
    EXPECT_EQ(s->samples, 8);
    EXPECT_EQ(s->fullScale, w.fullScale);
    ASSERT_EQ(s->low.size(), 2u);
    EXPECT_EQ(s->low[0], w.silence);
    EXPECT_EQ(s->high[0], w.silence);
    EXPECT_NEAR(s->high[1], w.silence + w.fullScale / 2, 1.0);
    EXPECT_NEAR(s->low[1], w.silence - w.fullScale / 2, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Pcm, DeliveredSoundWidths,
                         testing::Values(Width{SF_FORMAT_PCM_U8, 8, 128, 128},
                                         Width{SF_FORMAT_PCM_16, 16, 32768, 0},
                                         Width{SF_FORMAT_PCM_24, 24, 8388608, 0}));

TEST(DeliveredSound, FewerStretchesThanSamplesAsked) {
    TempDir dir;
    writeWav(dir / "s.wav", SF_FORMAT_PCM_16, {0.5, -0.5, 0});
    const Result<DeliveredSound> s = readDeliveredSound(dir / "s.wav", 1000);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->low.size(), 3u);
}

TEST(DeliveredSound, SaysWhatIsWrongWithAFile) {
    TempDir dir;
    { std::ofstream(dir / "bad.wav") << "not a sound"; }
    const Result<DeliveredSound> bad = readDeliveredSound(dir / "bad.wav", 10);
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.message().find("bad.wav"), std::string::npos) << bad.message();
    EXPECT_FALSE(readDeliveredSound(dir / "missing.wav", 10));
}

} // namespace
} // namespace veltrana
