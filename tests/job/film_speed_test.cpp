// Film speeds as users write them, and what a time code means at each.

#include "job/film_speed.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace veltrana {
namespace {

struct SpeedRow {
    const char* text;
    std::optional<FilmSpeed> speed; // none: refused
    const char* shown;              // filmSpeedText of it
};

void PrintTo(const SpeedRow& row, std::ostream* out) {
    *out << '"' << row.text << '"';
}

class FilmSpeedText : public testing::TestWithParam<SpeedRow> {};

TEST_P(FilmSpeedText, IsReadAsWritten) {
    const SpeedRow& row = GetParam();
    const std::optional<FilmSpeed> speed = parseFilmSpeed(row.text);
    ASSERT_EQ(speed.has_value(), row.speed.has_value());
    if (speed) {
        EXPECT_EQ(speed->numerator, row.speed->numerator);
        EXPECT_EQ(speed->denominator, row.speed->denominator);
        EXPECT_EQ(filmSpeedText(*speed), row.shown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, FilmSpeedText,
    testing::Values(SpeedRow{"24", FilmSpeed(24), "24"}, SpeedRow{"25", FilmSpeed(25), "25"},
                    SpeedRow{"16", FilmSpeed(16), "16"}, SpeedRow{"60", FilmSpeed(60), "60"},
                    SpeedRow{"23.976", FilmSpeed(24000, 1001), "23.976"},
                    SpeedRow{"23.98", FilmSpeed(24000, 1001), "23.976"},
                    SpeedRow{"29.97", FilmSpeed(30000, 1001), "29.97"},
                    SpeedRow{"59.94", FilmSpeed(60000, 1001), "59.94"},
                    SpeedRow{"24000/1001", FilmSpeed(24000, 1001), "23.976"},
                    SpeedRow{"16.5", FilmSpeed(33, 2), "16.5"},
                    SpeedRow{"24.0", FilmSpeed(24), "24"},
                    SpeedRow{"50/3", FilmSpeed(50, 3), "50/3"}, SpeedRow{"15", std::nullopt, ""},
                    SpeedRow{"61", std::nullopt, ""}, SpeedRow{"60.5", std::nullopt, ""},
                    SpeedRow{"24/0", std::nullopt, ""}, SpeedRow{"-24", std::nullopt, ""},
                    SpeedRow{"24fps", std::nullopt, ""}, SpeedRow{"", std::nullopt, ""},
                    SpeedRow{"24.", std::nullopt, ""}));

TEST(FilmSpeed, SaysWhetherTheFilmRateIsWhole) {
    EXPECT_TRUE(FilmSpeed(25).givesWholeRate(907));
    EXPECT_FALSE(FilmSpeed(24000, 1001).givesWholeRate(907)); // 21746.25...
    EXPECT_TRUE(FilmSpeed(24000, 1001).givesWholeRate(1001));
    EXPECT_DOUBLE_EQ(FilmSpeed(33, 2).rate(906), 14949.0);
}

TEST(FilmSpeed, TimecodeCountsFramesOfTheSpeedInUse) {
    DpxTimecode t;
    t.hours = 1;
    t.frames = 12;
    EXPECT_DOUBLE_EQ(secondsOfTimecode(t, FilmSpeed(24)), 3600.5);
    EXPECT_DOUBLE_EQ(secondsOfTimecode(t, FilmSpeed(25)), 3600.48);
    // 86412 frames of 1001/24000 s each
    EXPECT_DOUBLE_EQ(secondsOfTimecode(t, FilmSpeed(24000, 1001)), 86412 * 1001.0 / 24000.0);
    // drop frame: 01:00:00;12 at 29.97 is frame 107892 + 12
    t.dropFrame = true;
    EXPECT_DOUBLE_EQ(secondsOfTimecode(t, FilmSpeed(30000, 1001)), 107904 * 1001.0 / 30000.0);
}

} // namespace
} // namespace veltrana
