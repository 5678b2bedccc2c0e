// Resampling to the delivery rates keeps a tone's frequency and level.

#include "soundtrack/resample.h"

#include <gtest/gtest.h>

#include <soxr.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace veltrana {
namespace {

struct RateRow {
    double from;
    double to;
};

class Resampling : public testing::TestWithParam<RateRow> {};

TEST_P(Resampling, KeepsAToneAndItsLevel) {
    const auto [from, to] = GetParam();
    constexpr double kHz = 1000.0;
    constexpr double kAmplitude = 100.0;                     // 8-bit steps
    std::vector<float> tone(static_cast<std::size_t>(from)); // one second
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<float>(
            kAmplitude * std::sin(2 * std::numbers::pi * kHz * static_cast<double>(i) / from));
    }
    const Result<std::vector<float>> out = resampleSound(tone, from, to);
    ASSERT_TRUE(out.ok()) << out.message();
    EXPECT_EQ(out->size(), static_cast<std::size_t>(to));
    // in the middle, away from the filter's run-in: the tone as it should be
    // at the new rate, to well within a hundredth of an 8-bit step
    double worst = 0;
    for (std::size_t i = out->size() / 4; i < 3 * out->size() / 4; ++i) {
        const double expected =
            kAmplitude * std::sin(2 * std::numbers::pi * kHz * static_cast<double>(i) / to);
        worst = std::max(worst, std::abs((*out)[i] - expected));
    }
    EXPECT_LT(worst, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Rates, Resampling,
                         testing::Values(RateRow{22675, 48000}, RateRow{45350, 48000},
                                         RateRow{22675, 44100}, RateRow{45350, 96000},
                                         RateRow{21744, 48000}));

TEST(Resampling, TheSameRateGivesTheSamplesBack) {
    const std::vector<float> samples{1.0f, -2.5f, 3.25f};
    const Result<std::vector<float>> out = resampleSound(samples, 48000, 48000);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(*out, samples);
}

// The same samples as libsoxr gives for the whole sound in one call, to the
// bit, on lengths below, at and across the blocks it is fed in: the sound of
// a reel must not change with how it was handed over.
struct BlockRow {
    std::size_t count;
    double from;
    double to;
};

class BlockResampling : public testing::TestWithParam<BlockRow> {};

TEST_P(BlockResampling, GivesWhatOneCallGives) {
    const BlockRow row = GetParam();
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    std::vector<float> samples(row.count);
    for (float& s : samples) {
        s = level(noise);
    }
    const Result<std::vector<float>> blocks = resampleSound(samples, row.from, row.to);
    ASSERT_TRUE(blocks.ok());

    std::vector<float> whole(
        static_cast<std::size_t>(std::llround(static_cast<double>(row.count) * row.to / row.from)));
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    std::size_t done = 0;
    ASSERT_EQ(soxr_oneshot(row.from, row.to, 1, samples.data(), samples.size(), nullptr,
                           whole.data(), whole.size(), &done, &io, &quality, &runtime),
              nullptr);
    whole.resize(done);
    EXPECT_EQ(blocks->size(), whole.size());
    EXPECT_TRUE(*blocks == whole);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BlockResampling,
                         testing::Values(BlockRow{1, 22675, 48000}, BlockRow{1000, 22675, 48000},
                                         BlockRow{65536, 22675, 48000},
                                         BlockRow{65537, 45350, 48000},
                                         BlockRow{300000, 22675, 48000},
                                         BlockRow{300000, 48000, 22675.4},
                                         BlockRow{200000, 21744, 48000}));

} // namespace
} // namespace veltrana
