// Which extremum wins when several are exactly equal (geometry/profile.h):
// the value from riseMaximum / fallMinimum, the position from the first or
// the last entry exactly equal to it. Each input below holds tied extrema,
// or a higher entry that is no rise, so that std::max_element,
// cv::minMaxLoc or a reduction in place of these loops gives another
// position than the one stated.

#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "movie/frame_geometry.h"
#include "soundtrack/strip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace veltrana {
namespace {

TEST(ExtremumTies, FirstAndLastOfTiedMaxima) {
    // rises to 7 at 1 and 3; the 7 at 4 follows a 7 and is no rise
    const std::vector<float> v{0, 7, 3, 7, 7, 1};
    const float highest = riseMaximum(v, 0, 6);
    EXPECT_EQ(highest, 7.0f);
    EXPECT_EQ(firstIndexOf(v, highest, 0, 6), 1);
    EXPECT_EQ(lastIndexOf(v, highest, 0, 6), 4);
}

TEST(ExtremumTies, TheHighestEntryCountsOnlyWhenItRises) {
    // 9 has no predecessor: the highest rise is the 6 at 2
    const std::vector<float> v{9, 5, 6, 6};
    EXPECT_EQ(riseMaximum(v, 0, 4), 6.0f);
    EXPECT_EQ(firstIndexOf(v, riseMaximum(v, 0, 4), 0, 4), 2);
    // and the lowest fall is the 5 at 1, not a lower first entry
    const std::vector<float> w{1, 9, 5, 6};
    EXPECT_EQ(fallMinimum(w, 0, 4), 5.0f);
    EXPECT_EQ(firstIndexOf(w, fallMinimum(w, 0, 4), 0, 4), 2);
}

TEST(ExtremumTies, EqualityIsExactInSinglePrecision) {
    const float justAbove = std::nextafter(1.0f, 2.0f);
    const std::vector<float> v{0, 1.0f, 0, justAbove, 0};
    const float highest = riseMaximum(v, 0, 5);
    EXPECT_EQ(highest, justAbove);
    EXPECT_EQ(firstIndexOf(v, highest, 0, 5), 3);
    EXPECT_EQ(lastIndexOf(v, 1.0f, 0, 5), 1);
}

TEST(ExtremumTies, PositionIsTheFirstEqualEntryEvenWhenItIsNoRise) {
    // the rise to 200 is at 2, but 200 stands at 0 already
    const std::vector<float> v{200, 20, 200, 200};
    EXPECT_EQ(firstIndexOf(v, riseMaximum(v, 0, 4), 0, 4), 0);
}

// A trim profile 100 columns wide: margins [0, 7) and [93, 100), half 50.
std::vector<float> flatTrimProfile() {
    return std::vector<float>(100, 200.0f);
}

TEST(ExtremumTies, TrimTakesTheFirstOfTiedRisesOnTheLeft) {
    std::vector<float> q = flatTrimProfile();
    // 250 at 0 is the brightest but no rise; rises to 200 at 2 and 4
    q[0] = 250;
    q[1] = 20;
    q[3] = 20;
    const FrameBounds b = frameBoundsFromProfile(q, SoundtrackType::VariableArea35, false);
    EXPECT_EQ(b.left, 2);
    EXPECT_EQ(b.right, 99);
}

TEST(ExtremumTies, TrimTakesTheFirstOfTiedFallsOnTheRight) {
    std::vector<float> q = flatTrimProfile();
    // falls of -180 from column 94 to 95 and from 96 to 97
    q[95] = 20;
    q[97] = 20;
    const FrameBounds b = frameBoundsFromProfile(q, SoundtrackType::VariableArea35, false);
    EXPECT_EQ(b.left, 0);
    EXPECT_EQ(b.right, 94);
}

TEST(ExtremumTies, FilmCutStartsAtTheFirstOfTiedRises) {
    // 100 rows: the frame start is searched in rows [5, 35); the rows' bright
    // fraction rises by 0.5 from row 10 to 11 and again from row 20 to 21
    FrameCutProfiles p;
    p.width = 40;
    p.height = 100;
    p.mean = 120;
    p.rowBright.assign(100, 0.0f);
    for (int r = 11; r < 100; ++r) {
        p.rowBright[static_cast<std::size_t>(r)] = r <= 20 ? 0.5f : 1.0f;
    }
    FrameGeometry geometry;
    geometry.image_length = 50;
    const FrameCut cut =
        frameCutFromProfiles(p, geometry, SoundtrackType::VariableArea35, false, false);
    EXPECT_EQ(cut.frameStart, 10);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0], cv::Rect(0, 10, 40, 50));
}

const SoundtrackGeometry kWs227{227, 1813};

TEST(ExtremumTies, EdgeCutterTakesTheLastOfTiedBrightenings) {
    // 500 columns, 35 mm: the brightening is looked for in the first 10
    // columns; brightness steps up by 10 from column 2 to 3 and from 5 to 6
    std::vector<float> brightness(500, 20.0f);
    for (int c = 0; c < 6; ++c) {
        brightness[static_cast<std::size_t>(c)] = c < 3 ? 0.0f : 10.0f;
    }
    EXPECT_EQ(
        stripRangeFromBrightness(brightness, 500, SoundtrackType::VariableArea35, kWs227, true),
        (StripRange{5, 232}));
}

TEST(ExtremumTies, DensitySearchTakesTheLastOfTiedBrightenings) {
    // 100 columns: looked for in the first 20; the bright fraction rises by
    // 0.5 from column 4 to 5 and from 12 to 13. Column 12 gives the band
    // round(0.1 x 12)..round(0.85 x 12); column 4 would give 0..3.
    std::vector<float> bright(100, 1.0f);
    for (int c = 0; c < 13; ++c) {
        bright[static_cast<std::size_t>(c)] = c < 5 ? 0.0f : 0.5f;
    }
    EXPECT_EQ(stripRangeFromBrightFraction(bright, 100, SoundtrackType::VariableDensity35,
                                           {240, 1813}, true),
              (StripRange{1, 10}));
}

} // namespace
} // namespace veltrana
