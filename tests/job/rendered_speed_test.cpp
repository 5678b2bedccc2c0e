// A render's truth.json, read for its film speed: only the renderer's own
// file with a speed a film can run at counts; anything else is no truth.

#include "job/rendered_speed.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace veltrana {
namespace {

TEST(RenderedFilmSpeed, IsReadFromTheRenderersTruth) {
    const auto speed = renderedFilmSpeedOf(
        R"({"format": "veltrana-synth-truth", "version": 3, "options": {"fps": 24}})");
    ASSERT_TRUE(speed);
    EXPECT_EQ(*speed, FilmSpeed(24));
}

TEST(RenderedFilmSpeed, IsNothingForAnyOtherText) {
    for (const char* text : {
             "",
             "not json",
             "[24]",
             R"({"options": {"fps": 24}})",
             R"({"format": "something-else", "options": {"fps": 24}})",
             R"({"format": "veltrana-synth-truth"})",
             R"({"format": "veltrana-synth-truth", "options": [24]})",
             R"({"format": "veltrana-synth-truth", "options": {"fps": "24"}})",
             R"({"format": "veltrana-synth-truth", "options": {"fps": 24.5}})",
             R"({"format": "veltrana-synth-truth", "options": {"fps": 15}})",
             R"({"format": "veltrana-synth-truth", "options": {"fps": 61}})",
             R"({"format": "veltrana-synth-truth", "options": {"fps": 1e300}})",
             R"({"format": "veltrana-synth-truth", "options": {"fps": -24}})",
         }) {
        EXPECT_FALSE(renderedFilmSpeedOf(text)) << text;
    }
}

TEST(RenderedFilmSpeed, IsNothingWithoutATruthFile) {
    const test::TempDir dir;
    EXPECT_FALSE(renderedFilmSpeed(dir.path()));
    std::filesystem::create_directory(dir / "truth.json");
    EXPECT_FALSE(renderedFilmSpeed(dir.path()));
}

TEST(FilmSpeedWarning, SaysHowFastOrSlowAndTheOption) {
    EXPECT_FALSE(filmSpeedWarning(24, 24));
    const auto fast = filmSpeedWarning(24, 25);
    ASSERT_TRUE(fast);
    EXPECT_EQ(fast->kind, "speed");
    EXPECT_EQ(fast->reason, "The scans were rendered at 24 fps (truth.json beside them) but are "
                            "read at 25 fps, so their sound plays 4.2 % fast: read them with "
                            "--fps 24.");
    const auto slow = filmSpeedWarning(25, FilmSpeed(24000, 1001));
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->reason, "The scans were rendered at 25 fps (truth.json beside them) but are "
                            "read at 23.976 fps, so their sound plays 4.1 % slow: read them with "
                            "--fps 25.");
}

} // namespace
} // namespace veltrana
