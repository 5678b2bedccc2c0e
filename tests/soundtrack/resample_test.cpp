// Resampling to the delivery rates keeps a tone's frequency and level.

#include "soundtrack/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

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

} // namespace
} // namespace veltrana
