#include "soundtrack/fractional_shift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace veltrana {
namespace {

std::vector<float> sine(int count, double cyclesPerSample, double amplitude, double phase = 0) {
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        v[static_cast<std::size_t>(i)] = static_cast<float>(
            amplitude * std::sin(2 * std::numbers::pi * cyclesPerSample * i + phase));
    }
    return v;
}

TEST(ShiftKernel, SumsToOneAndIsASampleAtWholePositions) {
    for (double fraction : {0.0, 0.1, 0.5, 0.77}) {
        const std::vector<double> w = shiftKernel(fraction);
        ASSERT_EQ(w.size(), 2u * kShiftKernelReach);
        double sum = 0;
        for (double v : w) {
            sum += v;
        }
        EXPECT_NEAR(sum, 1.0, 1e-12) << fraction;
    }
    // at a fraction of 0 only the sample itself counts
    const std::vector<double> w = shiftKernel(0.0);
    EXPECT_NEAR(w[kShiftKernelReach - 1], 1.0, 1e-12);
    EXPECT_NEAR(w[kShiftKernelReach], 0.0, 1e-12);
    // half way, the two nearest samples weigh the same
    const std::vector<double> h = shiftKernel(0.5);
    EXPECT_NEAR(h[kShiftKernelReach - 1], h[kShiftKernelReach], 1e-12);
}

struct ShiftCase {
    double cyclesPerSample;
    double shift;
    double tolerance; // 8-bit steps, on an amplitude of 100
};

class ShiftedSine : public testing::TestWithParam<ShiftCase> {};

// A sine moved by a fraction is the same sine read further on, away from the
// ends; the pass band reaches well beyond the soundtrack's frequencies.
TEST_P(ShiftedSine, IsTheSineReadFurtherOn) {
    const ShiftCase c = GetParam();
    const std::vector<float> v = sine(400, c.cyclesPerSample, 100.0);
    const std::vector<float> moved = shiftedSamples(v, c.shift);
    ASSERT_EQ(moved.size(), v.size());
    double worst = 0;
    for (int i = 40; i < 360; ++i) {
        const double expected =
            100.0 * std::sin(2 * std::numbers::pi * c.cyclesPerSample * (i + c.shift));
        worst = std::max(worst, std::abs(moved[static_cast<std::size_t>(i)] - expected));
        EXPECT_NEAR(valueAt(v, i + c.shift), expected, c.tolerance) << i;
    }
    EXPECT_LT(worst, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Shifts, ShiftedSine,
                         testing::Values(ShiftCase{0.01, 0.3, 0.001}, ShiftCase{0.05, 0.5, 0.005},
                                         ShiftCase{0.05, -0.25, 0.005}, ShiftCase{0.1, 2.7, 0.005},
                                         ShiftCase{0.25, 0.5, 0.05}, ShiftCase{0.02, -3.0, 1e-4}));

TEST(ShiftedSamples, EndsContinueWithTheEndValues) {
    const std::vector<float> v{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const std::vector<float> left = shiftedSamples(v, -20.0);
    const std::vector<float> right = shiftedSamples(v, 20.0);
    for (float x : left) {
        EXPECT_EQ(x, 1.0f);
    }
    for (float x : right) {
        EXPECT_EQ(x, 10.0f);
    }
    // a constant stays exactly constant, fraction or not
    const std::vector<float> flat(50, 42.5f);
    for (float x : shiftedSamples(flat, 0.37)) {
        EXPECT_NEAR(x, 42.5f, 1e-5);
    }
    EXPECT_TRUE(shiftedSamples(std::vector<float>{}, 0.5).empty());
}

} // namespace
} // namespace veltrana
