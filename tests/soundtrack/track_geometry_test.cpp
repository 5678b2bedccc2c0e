#include "soundtrack/track_geometry.h"

#include <gtest/gtest.h>

#include <tuple>

namespace veltrana {
namespace {

// dpi, variable-area width, 35 mm variable-density width, 35 mm pitch, 16 mm pitch
class WorkedGeometry : public testing::TestWithParam<std::tuple<int, int, int, int, int>> {};

TEST_P(WorkedGeometry, MatchesTheTable) {
    const auto [dpi, widthVa, widthVd, pitch35, pitch16] = GetParam();
    const ScanResolution r{dpi, dpi};
    EXPECT_EQ(computeSoundtrackGeometry(SoundtrackType::VariableArea35, r),
              (SoundtrackGeometry{widthVa, pitch35}));
    EXPECT_EQ(computeSoundtrackGeometry(SoundtrackType::VariableDensity35, r),
              (SoundtrackGeometry{widthVd, pitch35}));
    EXPECT_EQ(computeSoundtrackGeometry(SoundtrackType::VariableArea16, r),
              (SoundtrackGeometry{widthVa, pitch16}));
}

INSTANTIATE_TEST_SUITE_P(Table, WorkedGeometry,
                         testing::Values(std::tuple{1200, 113, 120, 907, 360},
                                         std::tuple{2400, 227, 240, 1813, 720},
                                         std::tuple{4000, 378, 400, 3022, 1200}));

TEST(SoundtrackGeometry, EdgeValues) {
    EXPECT_EQ(computeSoundtrackGeometry(SoundtrackType::VariableArea35, {0, 0}),
              (SoundtrackGeometry{0, 0}));
    // the 16 mm pitch is 0.3 inch
    EXPECT_EQ(computeSoundtrackGeometry(SoundtrackType::VariableArea16, {1000, 1000})->framePitch,
              300);
    // uneven resolutions: width from dpiX, pitch from dpiY
    EXPECT_EQ(computeSoundtrackGeometry(SoundtrackType::VariableArea35, {2400, 1200}),
              (SoundtrackGeometry{227, 907}));
    EXPECT_FALSE(computeSoundtrackGeometry(static_cast<SoundtrackType>(7), {1200, 1200}));
}

} // namespace
} // namespace veltrana
