// Cutting a scan as it lies gives exactly the movie frames the turned
// working image gives.

#include "movie/film_frame.h"

#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <random>

namespace veltrana {
namespace {

struct Case {
    const char* name;
    SoundtrackType film = SoundtrackType::VariableArea35;
    bool color = true;
    bool up = true;
    bool longStrip = false;
    bool inverse = false;
    bool cutSoundtrack = false;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

void expectSame(const FilmFrames& fast, const FilmFrames& turned) {
    EXPECT_EQ(fast.bounds.left, turned.bounds.left);
    EXPECT_EQ(fast.bounds.right, turned.bounds.right);
    EXPECT_EQ(fast.cut.frameStart, turned.cut.frameStart);
    EXPECT_EQ(fast.cut.pictureEdge, turned.cut.pictureEdge);
    EXPECT_EQ(fast.cut.pieces, turned.cut.pieces);
    EXPECT_EQ(fast.regions, turned.regions);
    ASSERT_EQ(fast.frames.size(), turned.frames.size());
    for (std::size_t i = 0; i < fast.frames.size(); ++i) {
        EXPECT_EQ(cv::norm(fast.frames[i], turned.frames[i], cv::NORM_INF), 0.0) << "piece " << i;
    }
}

class FilmFramesOnRenders : public testing::TestWithParam<Case> {};

TEST_P(FilmFramesOnRenders, AreTheTurnedImagesFramesExactly) {
    const Case& c = GetParam();
    synth::SynthOptions options;
    options.film = c.film;
    options.frames = 2;
    options.color = c.color;
    options.rotationUp = c.up;
    options.longStrip = c.longStrip;
    options.noise = true;
    const synth::SynthPlanResult planned = synth::planSampleScans(options);
    ASSERT_TRUE(planned.ok()) << planned.error;
    const FilmCutting cutting{c.film, c.longStrip, c.inverse, c.cutSoundtrack};

    const cv::Mat first = synth::renderScan(planned.plan, 0);
    const cv::Mat working =
        filmWorkingImage(frameCorrection(first, c.film, c.longStrip), c.film, c.inverse);
    const FrameGeometry geometry =
        measureFrameGeometry(c.film, detectResolution(working, c.film), c.cutSoundtrack, working);
    for (int k = 0; k < 2; ++k) {
        const cv::Mat scan = synth::renderScan(planned.plan, k);
        expectSame(movieFramesOf(scan, cutting, geometry),
                   movieFramesOfTurned(scan, cutting, geometry));
        const cv::Mat trimmed = frameCorrection(scan, c.film, c.longStrip);
        EXPECT_EQ(detectFilmResolution(trimmed, cutting),
                  detectResolution(filmWorkingImage(trimmed, c.film, c.inverse), c.film));
    }
}

const SoundtrackType VA35 = SoundtrackType::VariableArea35;
const SoundtrackType VD35 = SoundtrackType::VariableDensity35;
const SoundtrackType VA16 = SoundtrackType::VariableArea16;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Films, FilmFramesOnRenders,
    testing::Values(
        Case{.name = "va35_colour"},
        Case{.name = "va35_grey_cut", .color = false, .cutSoundtrack = true},
        Case{.name = "va35_down_inverse_cut", .up = false, .inverse = true, .cutSoundtrack = true},
        Case{.name = "vd35_grey", .film = VD35, .color = false},
        Case{.name = "vd35_grey_inverse_cut", .film = VD35, .color = false, .inverse = true, .cutSoundtrack = true},
        Case{.name = "vd35_colour_cut", .film = VD35, .cutSoundtrack = true},
        Case{.name = "va16", .film = VA16},
        Case{.name = "va16_cut_inverse", .film = VA16, .inverse = true, .cutSoundtrack = true},
        Case{.name = "va16_long_strip", .film = VA16, .longStrip = true},
        Case{.name = "va16_long_strip_grey_cut", .film = VA16, .color = false, .longStrip = true, .cutSoundtrack = true}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });
// clang-format on
#pragma GCC diagnostic pop

TEST(FilmFramesOnOddScans, AreTheTurnedImagesFramesExactly) {
    std::mt19937 random(3);
    const std::vector<cv::Size> sizes{{64, 64}, {400, 64}, {64, 300}, {333, 211}};
    for (const cv::Size size : sizes) {
        for (int channels : {1, 3}) {
            cv::Mat scan(size, CV_8UC(channels));
            cv::randu(scan, 0, 256);
            for (int type = 1; type <= 3; ++type) {
                for (int flags = 0; flags < 8; ++flags) {
                    const FilmCutting cutting{static_cast<SoundtrackType>(type), (flags & 1) != 0,
                                              (flags & 2) != 0, (flags & 4) != 0};
                    FrameGeometry geometry;
                    geometry.image_length = 20 + static_cast<int>(random() % 300);
                    geometry.image_width = static_cast<int>(random() % 200);
                    SCOPED_TRACE(testing::Message() << size << " x" << channels << " type " << type
                                                    << " flags " << flags);
                    expectSame(movieFramesOf(scan, cutting, geometry),
                               movieFramesOfTurned(scan, cutting, geometry));
                    EXPECT_EQ(
                        detectFilmResolution(scan, cutting),
                        detectResolution(filmWorkingImage(scan, cutting.type, cutting.inverse),
                                         cutting.type));
                }
            }
        }
    }
}

// --- the working image -----------------------------------------------------------

// A corrected frame of 4 columns (along the film) by 3 rows, pixel (r, c)
// = 10 r + c; its working image is 4 rows by 3 columns.
cv::Mat corrected(int channels) {
    cv::Mat grey(3, 4, CV_8UC1);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            grey.at<uchar>(r, c) = static_cast<uchar>(10 * r + c);
        }
    }
    if (channels == 1) {
        return grey;
    }
    cv::Mat colour;
    cv::merge(std::vector<cv::Mat>{grey, grey + 100, grey + 200}, colour);
    return colour;
}

struct TurnRow {
    const char* name;
    SoundtrackType type;
    bool inverse;
    int channels;
    bool rowsMirrored;
    bool columnsMirrored;
};

class FilmWorkingImage : public testing::TestWithParam<TurnRow> {};

TEST_P(FilmWorkingImage, TurnsAndMirrors) {
    const TurnRow& row = GetParam();
    const cv::Mat working = filmWorkingImage(corrected(row.channels), row.type, row.inverse);
    ASSERT_EQ(working.rows, 4);
    ASSERT_EQ(working.cols, 3);
    ASSERT_EQ(working.channels(), row.channels);
    const int frameWidth = 4;
    const int frameHeight = 3;
    for (int a = 0; a < 4; ++a) {
        for (int j = 0; j < 3; ++j) {
            // the turn: working (a, j) is corrected (j, W - 1 - a)
            const int ta = row.rowsMirrored ? frameWidth - 1 - a : a;
            const int tj = row.columnsMirrored ? frameHeight - 1 - j : j;
            const int expected = 10 * tj + (frameWidth - 1 - ta);
            EXPECT_EQ(working.ptr<uchar>(a)[j * row.channels], expected) << a << "," << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilmWorkingImage,
    testing::Values(TurnRow{"Area35", SoundtrackType::VariableArea35, false, 1, false, false},
                    TurnRow{"Area35Inverse", SoundtrackType::VariableArea35, true, 3, true, false},
                    TurnRow{"DensityGreyMirrorsColumns", SoundtrackType::VariableDensity35, false,
                            1, false, true},
                    TurnRow{"DensityGreyInverse", SoundtrackType::VariableDensity35, true, 1, true,
                            true},
                    TurnRow{"DensityColourKeepsColumns", SoundtrackType::VariableDensity35, false,
                            3, false, false},
                    TurnRow{"Area16Grey", SoundtrackType::VariableArea16, false, 1, false, false}),
    [](const testing::TestParamInfo<TurnRow>& info) { return info.param.name; });

} // namespace
} // namespace veltrana
