#include "soundtrack/sound_delivery.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrana {
namespace {

TEST(SoundtrackBytes, ConversionTruncatesAndKeepsTheLowByte) {
    EXPECT_EQ(sampleToByte(127.9f), 127);
    EXPECT_EQ(sampleToByte(-0.5f), 0);
    EXPECT_EQ(sampleToByte(-1.0f), 255);
    EXPECT_EQ(sampleToByte(300.0f), 44);
    EXPECT_EQ(sampleToByte(-256.0f), 0);
}

TEST(SoundtrackBytes, SamplesSaturateInsteadOfWrapping) {
    // centred on -128: a row far above its frame's mean stays at full scale
    const std::vector<float> dc{-128.0f, 0.5f, 200.0f, -300.0f, -1.5f};
    EXPECT_EQ(soundtrackBytes(dc, true), (std::vector<std::uint8_t>{128, 255, 255, 0, 255}));
    const std::vector<float> plain{128.0f, -3.0f, 300.0f, 254.9f};
    EXPECT_EQ(soundtrackBytes(plain, false), (std::vector<std::uint8_t>{128, 0, 255, 254}));
}

// The one decision on how the sound is written.
struct KindRow {
    const char* name;
    SoundFormat format;
    bool centredOnZero;
    WavKind kind;
};

class WavKindFor : public testing::TestWithParam<KindRow> {};

TEST_P(WavKindFor, FollowsTheFormat) {
    const KindRow& row = GetParam();
    EXPECT_EQ(wavKindFor(row.format, row.centredOnZero), row.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WavKindFor,
    testing::Values(KindRow{"StandardFile", {8, 0}, false, WavKind::Standard},
                    KindRow{"SixteenBits", {16, 0}, false, WavKind::Broadcast},
                    KindRow{"AnotherRate", {8, 44100}, false, WavKind::Broadcast},
                    KindRow{"ArchivalLevelsAtEightBits", {8, 0}, true, WavKind::Broadcast},
                    KindRow{"ArchivalPreset", kArchivalSoundFormat, true, WavKind::Broadcast}),
    [](const testing::TestParamInfo<KindRow>& info) { return info.param.name; });

TEST(ArchivalSoundFormat, IsTwentyFourBitsAt48kHz) {
    EXPECT_EQ(kArchivalSoundFormat.bitsPerSample, 24);
    EXPECT_EQ(kArchivalSoundFormat.outputRate, 48000);
}

} // namespace
} // namespace veltrana
