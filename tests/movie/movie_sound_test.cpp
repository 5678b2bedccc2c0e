// The sound of a movie with sound timed against its pictures: the reel's
// frame advance from its joins, the silence under the first pictures, the
// fraction of a row placed, and the container a name asks for.

#include "movie/film_sound.h"
#include "movie/movie_container.h"
#include "movie/movie_sound.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrana {
namespace {

TEST(FrameAdvance, IsTheMeanOfTheJoinsNearTheirMedian) {
    // scans placed with errors of a few rows: the consecutive joins lose them
    // but the first's and the last's (888.5 + (3 - 0) / 6)
    const std::vector<double> joins{890.5, 886.5, 891.5, 885.5, 889.5, 889.5};
    const Result<FrameAdvance> advance = measuredFrameAdvance(joins, 1);
    ASSERT_TRUE(advance.ok()) << advance.message();
    EXPECT_DOUBLE_EQ(advance->rows, 888.8333333333334);
    EXPECT_EQ(advance->joinsUsed, 6);
    EXPECT_EQ(advance->joinsCounted, 6);
}

TEST(FrameAdvance, LeavesOutAMisjoinAndSharesALongStripScanByItsFrames) {
    const std::vector<double> joins{1800, 1802, 1100, 1798, 1804};
    const Result<FrameAdvance> advance = measuredFrameAdvance(joins, 4);
    ASSERT_TRUE(advance.ok()) << advance.message();
    EXPECT_DOUBLE_EQ(advance->rows, 450.25);
    EXPECT_EQ(advance->joinsUsed, 4);
    EXPECT_EQ(advance->joinsCounted, 5);
}

TEST(FrameAdvance, FailsWithoutAJoin) {
    EXPECT_FALSE(measuredFrameAdvance({}, 1).ok());
}

SoundPlacement placement(int advance, double firstFrameLine) {
    SoundPlacement p;
    p.pictureRate = FrameRate{24, 1};
    p.advance = advance;
    p.rowsPerFrame = 100;
    p.firstFrameLine = firstFrameLine;
    p.sampleRate = 4800; // two samples a row
    return p;
}

// A stream of 1000 rows that is silent but for one loud row.
std::vector<float> streamWithClickAt(std::size_t row) {
    std::vector<float> stream(1000, 0.0f);
    stream[row] = 1.0f;
    return stream;
}

std::size_t loudestSample(const std::vector<float>& samples) {
    std::size_t loudest = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i] > samples[loudest]) {
            loudest = i;
        }
    }
    return loudest;
}

struct PlacementCase {
    int advance;
    double firstFrameLine;
    std::size_t click;           // stream row
    std::size_t silence;         // leading silent samples
    std::size_t expectedLoudest; // movie sample
};

class MovieSoundPlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(MovieSoundPlacement, PutsTheFirstFrameLineAfterTheAdvance) {
    const PlacementCase c = GetParam();
    const Result<std::vector<float>> samples =
        movieSoundSamples(streamWithClickAt(c.click), placement(c.advance, c.firstFrameLine));
    ASSERT_TRUE(samples.ok()) << samples.message();
    for (std::size_t i = 0; i < c.silence; ++i) {
        ASSERT_EQ((*samples)[i], 0.0f) << i;
    }
    EXPECT_EQ(loudestSample(*samples), c.expectedLoudest);
    // the rows from the first frame line on, all of them, after the silence
    const std::size_t rowsPlayed = 1000 - static_cast<std::size_t>(std::ceil(c.firstFrameLine));
    EXPECT_NEAR(static_cast<double>(samples->size()),
                static_cast<double>(c.silence + 2 * rowsPlayed), 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MovieSoundPlacement,
    testing::Values(
        // no advance, the frame line on row 0: the click at row 10 is sample 20
        PlacementCase{0, 0.0, 10, 0, 20},
        // 20 pictures of 200 samples of silence first
        PlacementCase{20, 0.0, 10, 4000, 4020},
        // the rows before the frame line are the frame before the reel's
        PlacementCase{3, 40.0, 50, 600, 620},
        // a frame line half a row before row 41: row 41 plays one sample late
        PlacementCase{3, 40.5, 50, 601, 619}));

TEST(MovieSoundSamples, RefusesATimingThatCannotBe) {
    SoundPlacement bad = placement(0, 0);
    bad.rowsPerFrame = 0;
    EXPECT_FALSE(movieSoundSamples(streamWithClickAt(1), bad).ok());
    bad = placement(-1, 0);
    EXPECT_FALSE(movieSoundSamples(streamWithClickAt(1), bad).ok());
}

TEST(PicturesCovering, HoldsTheLastPictureWhileTheSoundPlays) {
    // 2 s of sound at 48 kHz is 48 pictures at 24 fps, 50 at 25
    EXPECT_EQ(picturesCovering(96000, 48000, FrameRate{24, 1}, 30), 48);
    EXPECT_EQ(picturesCovering(96001, 48000, FrameRate{24, 1}, 30), 49);
    EXPECT_EQ(picturesCovering(96000, 48000, FrameRate{25, 1}, 30), 50);
    EXPECT_EQ(picturesCovering(96000, 48000, FrameRate{24, 1}, 60), 60);
}

TEST(MovieSoundLevels, CentresTheStandardBytesAndKeepsArchivalFractions) {
    const std::vector<float> archival{-200.0f, -64.0f, 0.5f, 64.0f};
    const std::vector<float> levels = movieSoundLevels(archival, true, true);
    EXPECT_EQ(levels, (std::vector<float>{-1.0f, -0.5f, 0.00390625f, 0.5f}));
}

TEST(SoundAdvance, IsTheFilmsOwnByDefault) {
    EXPECT_EQ(defaultSoundAdvance(SoundtrackType::VariableArea35), 20);
    EXPECT_EQ(defaultSoundAdvance(SoundtrackType::VariableDensity35), 20);
    EXPECT_EQ(defaultSoundAdvance(SoundtrackType::VariableArea16), 26);
}

struct ContainerCase {
    const char* name;
    bool known;
    MovieContainer container;
};

class MovieContainerName : public testing::TestWithParam<ContainerCase> {};

TEST_P(MovieContainerName, ComesFromTheFileName) {
    const ContainerCase c = GetParam();
    const Result<MovieContainer> container = movieContainerOf(c.name);
    ASSERT_EQ(container.ok(), c.known) << c.name;
    if (c.known) {
        EXPECT_EQ(*container, c.container);
    } else {
        EXPECT_NE(container.message().find(c.name), std::string::npos) << container.message();
        EXPECT_NE(container.message().find(".avi, .mp4 or .mkv"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, MovieContainerName,
                         testing::Values(ContainerCase{"reel.avi", true, MovieContainer::Avi},
                                         ContainerCase{"reel.MP4", true, MovieContainer::Mp4},
                                         ContainerCase{"a/b.mkv", true, MovieContainer::Mkv},
                                         ContainerCase{"reel.mov", false, MovieContainer::Avi},
                                         ContainerCase{"reel", false, MovieContainer::Avi}));

TEST(MovieSoundFormat, IsFortyEightKilohertzForAacAndTheAskedRateElsewhere) {
    EXPECT_EQ(movieSoundFormat(MovieContainer::Mp4, 96000, false).sampleRate, 48000);
    EXPECT_EQ(movieSoundFormat(MovieContainer::Mkv, 96000, true).sampleRate, 96000);
    EXPECT_EQ(movieSoundFormat(MovieContainer::Mkv, 96000, true).bits, 24);
    EXPECT_EQ(movieSoundFormat(MovieContainer::Avi, 0, false).sampleRate, 48000);
    EXPECT_EQ(movieSoundFormat(MovieContainer::Avi, 0, false).bits, 16);
}

} // namespace
} // namespace veltrana
