#include "soundtrack/precise_join.h"

#include "constructed_film.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

namespace veltrana {
namespace {

using test::ConstructedFilm;
using test::FilmOptions;

ArchivalFrame frameOf(const ConstructedFilm& film, const FilmOptions& o,
                      SoundtrackType type = SoundtrackType::VariableArea35,
                      bool longStrip = false) {
    return archivalFrame(film.image(o), ConstructedFilm::trackCut(o), ColorElement::R, type,
                         o.rotationUp, longStrip);
}

struct JoinCase {
    const char* name;
    double join;         // strip position of the current frame's row 0, from the previous one's
    int weave = 0;       // of the current frame
    double falloff = 0;  // of both frames
    bool silent = false; // no sound on the track
    bool rotationUp = true;
    bool color = false;
    SearchBand band = SearchBand::Track; // the band that should settle it
    double tolerance = 0.03;             // rows
    // of both frames: the advance differs by this many rows between the
    // track and the picture (a photographed frame, see FilmOptions::slant)
    double slant = 0;
};

void PrintTo(const JoinCase& c, std::ostream* out) {
    *out << c.name;
}

class PreciseJoinOnConstructedFilm : public testing::TestWithParam<JoinCase> {};

TEST_P(PreciseJoinOnConstructedFilm, FindsTheFractionalJoin) {
    const JoinCase& c = GetParam();
    const ConstructedFilm film;
    FilmOptions previous;
    previous.start = 1000.0;
    previous.falloff = c.falloff;
    previous.silentTrack = c.silent;
    previous.rotationUp = c.rotationUp;
    previous.color = c.color;
    previous.slant = c.slant;
    FilmOptions current = previous;
    current.start = previous.start + c.join;
    current.weave = c.weave;
    const PreciseJoin join = findPreciseJoin(frameOf(film, previous), frameOf(film, current),
                                             SoundtrackType::VariableArea35, false);
    ASSERT_TRUE(join.found);
    EXPECT_NEAR(join.position, c.join, c.tolerance);
    EXPECT_GE(join.score, kWeakJoinScore);
    EXPECT_EQ(join.band, c.band) << searchBandName(join.band);
    EXPECT_FALSE(join.loose);
    EXPECT_LE(join.precision, kLoosePrecisionRows);
    // the precision it claims covers the error it makes
    EXPECT_LE(std::abs(join.position - c.join), 4 * join.precision + 0.005);
    EXPECT_EQ(join.trackUsed, !c.silent);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Overlaps, PreciseJoinOnConstructedFilm,
    testing::Values(
        JoinCase{"whole_row", 410.0},
        JoinCase{"quarter", 410.25},
        JoinCase{"half", 387.5},
        JoinCase{"three_quarters", 433.73},
        JoinCase{"near_the_guard", 330.1},
        JoinCase{"short_overlap", 540.6},
        JoinCase{"weave", 410.37, 4},
        JoinCase{"weave_down_colour", 410.37, 3, 0, false, false, true},
        // strong quadratic fall-off over short frames bends the sound a little
        JoinCase{"falloff", 420.62, 0, 0.5, false, true, false, SearchBand::Track, 0.05},
        JoinCase{"falloff_and_weave", 401.18, 2, 0.6, false, true, false, SearchBand::Track, 0.05},
        JoinCase{"silent_track", 410.4, 0, 0, true, true, false, SearchBand::Edge},
        JoinCase{"silent_track_falloff", 395.85, 0, 0.4, true, true, false, SearchBand::Edge},
        // a photographed frame: the picture's join lies rows away from the
        // track's; the bands beside the track are read at its column, along
        // their line across the film
        JoinCase{"slanted_silent", 410.37, 0, 0, true, true, false, SearchBand::Edge, 0.15, 4},
        JoinCase{"slanted_back_silent", 410.37, 0, 0, true, true, false, SearchBand::Edge, 0.15, -4},
        JoinCase{"slanted_with_sound", 410.37, 0, 0, false, true, false, SearchBand::Track, 0.05, 4}),
    [](const testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(PreciseJoin, ARepeatingToneIsNotTakenAPeriodAway) {
    // a tone of 4.3 rows matches itself a period either side of the join,
    // almost as well: the peak nearest what the other bands read is the one
    const ConstructedFilm film;
    FilmOptions previous;
    previous.start = 1000.0;
    previous.tonePeriod = 4.3;
    FilmOptions current = previous;
    current.start = previous.start + 410.37;
    const PreciseJoin join = findPreciseJoin(frameOf(film, previous), frameOf(film, current),
                                             SoundtrackType::VariableArea35, false);
    ASSERT_TRUE(join.found);
    EXPECT_NEAR(join.position, 410.37, 0.05);
}

TEST(PreciseJoin, FramesThatShareNoFilmGiveNoJoin) {
    const ConstructedFilm film;
    FilmOptions previous;
    previous.start = 1000.0;
    FilmOptions current = previous;
    current.start = 5000.5;
    const PreciseJoin join = findPreciseJoin(frameOf(film, previous), frameOf(film, current),
                                             SoundtrackType::VariableArea35, false);
    EXPECT_TRUE(isWeak(join)) << "score " << join.score << " at " << join.position;
    EXPECT_LT(join.score, kWeakJoinScore - 0.1) << "too close to the threshold";
}

TEST(PreciseJoin, SearchesOnlyPastTheStandardGuard) {
    // a join at 0.45 of the previous frame lies before the guard (0.52): the
    // best the search can do there is weak or elsewhere, never that position
    const ConstructedFilm film;
    FilmOptions previous;
    previous.start = 1000.0;
    FilmOptions current = previous;
    current.start = previous.start + 270.3;
    const PreciseJoin join = findPreciseJoin(frameOf(film, previous), frameOf(film, current),
                                             SoundtrackType::VariableArea35, false);
    EXPECT_GE(join.position, 312.0);
}

TEST(PreciseJoin, LongStripGuardAllowsOnlyTheLastPartOfTheFrame) {
    const ConstructedFilm film;
    FilmOptions previous;
    previous.start = 1000.0;
    previous.rows = 1500;
    FilmOptions current = previous;
    current.start = previous.start + 1412.64; // 88 rows of overlap
    const ArchivalFrame a = frameOf(film, previous, SoundtrackType::VariableArea16, true);
    const ArchivalFrame b = frameOf(film, current, SoundtrackType::VariableArea16, true);
    const PreciseJoin join = findPreciseJoin(a, b, SoundtrackType::VariableArea16, true);
    ASSERT_TRUE(join.found);
    EXPECT_NEAR(join.position, 1412.64, 0.05);
    // the same pair on 35 mm film: the wider guard does not matter here
    current.start = previous.start + 1100.2; // before the long strip's guard at 1230
    const PreciseJoin early =
        findPreciseJoin(a, frameOf(film, current, SoundtrackType::VariableArea16, true),
                        SoundtrackType::VariableArea16, true);
    EXPECT_GE(early.position, 1230.0);
}

TEST(PreciseJoin, WeakScoreRuleOnBothSidesOfTheThreshold) {
    PreciseJoin join;
    join.found = true;
    join.score = kWeakJoinScore + 0.01;
    EXPECT_FALSE(isWeak(join));
    join.score = kWeakJoinScore - 0.01;
    EXPECT_TRUE(isWeak(join));
    join.score = 1.0;
    join.found = false;
    EXPECT_TRUE(isWeak(join));
}

TEST(PreciseJoin, EmptyOrTinyFramesGiveNoJoin) {
    const PreciseJoin none =
        findPreciseJoin(ArchivalFrame{}, ArchivalFrame{}, SoundtrackType::VariableArea35, false);
    EXPECT_FALSE(none.found);
    const ConstructedFilm film;
    FilmOptions tiny;
    tiny.rows = 20;
    const PreciseJoin small = findPreciseJoin(frameOf(film, tiny), frameOf(film, tiny),
                                              SoundtrackType::VariableArea35, false);
    EXPECT_FALSE(small.found);
}

} // namespace
} // namespace veltrana
