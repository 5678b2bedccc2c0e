#include "geometry/film_standard.h"

#include <gtest/gtest.h>

namespace veltrana {
namespace {

TEST(FilmStandard, SizesOfEachStandardInCentimetres) {
    const FilmStandard& area35 = filmStandard(SoundtrackType::VariableArea35);
    EXPECT_EQ(area35.scanWidthCm, 2.09);
    EXPECT_EQ(area35.framePitchCm, 1.919);
    EXPECT_EQ(area35.soundtrackCutWidthCm, 0.24);
    EXPECT_EQ(area35.bandLeftOutOfMovieCm, 0.2);
    EXPECT_EQ(area35.movieFrameWidthCm, 2.1);
    EXPECT_EQ(area35.movieFrameLengthCm, 1.9);
    EXPECT_EQ(area35.movieFramePictureLengthCm, 1.52);

    const FilmStandard& density35 = filmStandard(SoundtrackType::VariableDensity35);
    EXPECT_EQ(density35.framePitchCm, 1.919);
    EXPECT_EQ(density35.soundtrackCutWidthCm, 0.254);
    EXPECT_EQ(density35.bandLeftOutOfMovieCm, 0.2);
    EXPECT_EQ(density35.movieFrameWidthCm, 2.05);

    const FilmStandard& area16 = filmStandard(SoundtrackType::VariableArea16);
    EXPECT_EQ(area16.scanWidthCm, 0.96);
    EXPECT_EQ(area16.framePitchCm, 0.762);
    EXPECT_EQ(area16.soundtrackCutWidthCm, 0.24);
    EXPECT_EQ(area16.bandLeftOutOfMovieCm, 0.254);
    EXPECT_EQ(area16.movieFrameWidthCm, 0.7);
}

TEST(FilmStandard, AValueOutsideTheEnumerationGetsThe16mmSizes) {
    const FilmStandard& unknown = filmStandard(static_cast<SoundtrackType>(9));
    EXPECT_EQ(&unknown, &kVariableArea16Standard);
}

} // namespace
} // namespace veltrana
