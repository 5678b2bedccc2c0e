// The make-film job on rendered scans, whose layout is known: in-process for
// the measures, through the command line (run in-process) for the movie it
// writes, and once through the real program, its movie read back by ffprobe.

#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "job/frame_sequence.h"
#include "movie/film_frame.h"
#include "movie/film_job.h"
#include "movie/frame_geometry.h"
#include "movie/movie_file.h"
#include "movie/movie_probe.h"
#include "reading/scan_reader.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <memory>
#include <utility>

namespace veltrana {
namespace {

using test::probeMovie;
using test::TempDir;

constexpr SoundtrackType kArea35 = SoundtrackType::VariableArea35;
constexpr SoundtrackType kDensity35 = SoundtrackType::VariableDensity35;
constexpr SoundtrackType kArea16 = SoundtrackType::VariableArea16;

struct Rendered {
    TempDir dir;
    std::filesystem::path scans;
    synth::SynthTruth truth;
};

std::unique_ptr<Rendered> render(SoundtrackType film, int frames, bool colour,
                                 bool longStrip = false, int dpi = 900) {
    auto r = std::make_unique<Rendered>();
    synth::SynthOptions options;
    options.film = film;
    options.dpi = {dpi, dpi};
    options.frames = frames;
    options.color = colour;
    options.longStrip = longStrip;
    r->scans = r->dir / "scans";
    const synth::SynthResult result = synth::renderSampleScans(options, r->scans);
    EXPECT_TRUE(result.ok()) << result.error;
    r->truth = result.truth;
    return r;
}

// Scan k (1-based) as the film job sees it.
cv::Mat workingImageOf(const Rendered& r, int k, SoundtrackType type, bool longStrip,
                       bool inverse) {
    const Result<FrameSequence> sequence = listFrameSequence(r.scans);
    const LoadedScan scan = loadScan(sequence->frames.at(static_cast<std::size_t>(k - 1)));
    EXPECT_TRUE(scan.ok()) << scan.message();
    return filmWorkingImage(frameCorrection(scan.value(), type, longStrip), type, inverse);
}

// The movie frame the job should write for scan k, computed in-process.
cv::Mat expectedMovieFrame(const Rendered& r, int k, SoundtrackType type, bool cutSoundtrack,
                           bool inverse) {
    const cv::Mat working = workingImageOf(r, k, type, false, inverse);
    const cv::Mat first = workingImageOf(r, 1, type, false, inverse);
    const FrameGeometry geometry =
        measureFrameGeometry(type, detectResolution(first, type), cutSoundtrack, first);
    const std::vector<cv::Mat> pieces = cutFrame(working, geometry, type, false, cutSoundtrack);
    return movieFrame(pieces.at(0));
}

// --- measures against the rendered layout --------------------------------------

// Working rows lost at the top of the working image by the trim: its row 0 is
// the right-most kept column of the scan file.
int trimmedRows(const Rendered& r, int k, SoundtrackType type, bool longStrip) {
    const Result<FrameSequence> sequence = listFrameSequence(r.scans);
    const LoadedScan scan = loadScan(sequence->frames.at(static_cast<std::size_t>(k - 1)));
    return scan.value().cols - 1 - findFrameBounds(scan.value(), type, longStrip).right;
}

struct LayoutRow {
    const char* name;
    SoundtrackType type;
    bool colour;
    bool longStrip;
};

class FilmOnRenderedScans : public testing::TestWithParam<LayoutRow> {};

TEST_P(FilmOnRenderedScans, FrameStartsAtTheEndOfTheFrameLine) {
    const LayoutRow& row = GetParam();
    const auto r = render(row.type, 2, row.colour, row.longStrip);
    for (int k = 1; k <= 2; ++k) {
        const cv::Mat working = workingImageOf(*r, k, row.type, row.longStrip, false);
        const FrameGeometry geometry = measureFrameGeometry(row.type, {900, 900}, false, working);
        const FrameCut cut = findFrameCut(working, geometry, row.type, row.longStrip, false);
        // the first frame line whose end lies in the search window: its last
        // dark row, the row before the picture brightens
        const int shift = trimmedRows(*r, k, row.type, row.longStrip);
        const int lastDarkRow =
            r->truth.scans.at(static_cast<std::size_t>(k - 1)).frameLines.at(0).second - 1 - shift;
        EXPECT_NEAR(cut.frameStart, lastDarkRow, 1) << "scan " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Films, FilmOnRenderedScans,
                         testing::Values(LayoutRow{"Area35Grey", kArea35, false, false},
                                         LayoutRow{"Area35Colour", kArea35, true, false},
                                         LayoutRow{"Density35Colour", kDensity35, true, false},
                                         LayoutRow{"Area16Grey", kArea16, false, false},
                                         LayoutRow{"Area16LongStripGrey", kArea16, false, true},
                                         LayoutRow{"Area16LongStripColour", kArea16, true, true}),
                         [](const testing::TestParamInfo<LayoutRow>& info) {
                             return info.param.name;
                         });

class SixteenMillimetrePitch : public testing::TestWithParam<bool> {};

TEST_P(SixteenMillimetrePitch, IsMeasuredOnALongStrip) {
    const auto r = render(kArea16, 1, GetParam(), true);
    const cv::Mat working = workingImageOf(*r, 1, kArea16, true, false);
    const FrameGeometry geometry = measureFrameGeometry(kArea16, {900, 900}, true, working);
    EXPECT_FALSE(geometry.nominalPitch);
    EXPECT_NEAR(geometry.image_length, 4 * r->truth.layout.framePitch, 4);
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, SixteenMillimetrePitch, testing::Bool());

struct BandRow {
    const char* name;
    SoundtrackType type;
    bool colour;
};

class CutSoundtrackOnRenderedScans : public testing::TestWithParam<BandRow> {};

TEST_P(CutSoundtrackOnRenderedScans, LeavesTheBandOut) {
    const BandRow& row = GetParam();
    const auto r = render(row.type, 1, row.colour);
    const cv::Mat working = workingImageOf(*r, 1, row.type, false, false);
    const FrameGeometry geometry =
        measureFrameGeometry(row.type, detectResolution(working, row.type), true, working);
    const FrameCut cut = findFrameCut(working, geometry, row.type, false, true);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_GE(cut.pieces[0].x, r->truth.layout.trackEndColumn);
    EXPECT_EQ(cut.pieces[0].x + cut.pieces[0].width, working.cols); // clipped at the right
    // and without the cut the band is in
    const FrameCut whole = findFrameCut(working, geometry, row.type, false, false);
    EXPECT_EQ(whole.pieces.at(0).x, 0);
    EXPECT_EQ(whole.pieces.at(0).width, working.cols);
}

INSTANTIATE_TEST_SUITE_P(Films, CutSoundtrackOnRenderedScans,
                         testing::Values(BandRow{"Area35Grey", kArea35, false},
                                         BandRow{"Area35Colour", kArea35, true},
                                         BandRow{"Density35Colour", kDensity35, true}),
                         [](const testing::TestParamInfo<BandRow>& info) {
                             return info.param.name;
                         });

// --- the command line -------------------------------------------------------------

std::vector<std::string> filmArgs(const Rendered& r, const std::filesystem::path& movie,
                                  std::vector<std::string> extra) {
    std::vector<std::string> args{"film", r.scans.string(), "-o", movie.string(), "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

test::ProcessResult film(const Rendered& r, const std::filesystem::path& movie,
                         std::vector<std::string> extra) {
    return test::runCommandLine(filmArgs(r, movie, std::move(extra)));
}

// The same through the real program.
test::ProcessResult filmProgram(const Rendered& r, const std::filesystem::path& movie,
                                std::vector<std::string> extra) {
    std::vector<std::string> args = filmArgs(r, movie, std::move(extra));
    args.insert(args.begin(), VELTRANA_EXE);
    return test::runProgram(args);
}

struct MovieRow {
    const char* name;
    SoundtrackType type;
    const char* film;
    bool colour;
    bool longStrip;
    int scans;
    int movieFrames;
};

class FilmCommandOnRenderedScans : public testing::TestWithParam<MovieRow> {};

TEST_P(FilmCommandOnRenderedScans, WritesTheMovie) {
    const MovieRow& row = GetParam();
    const auto r = render(row.type, row.scans, row.colour, row.longStrip);
    TempDir out;
    std::vector<std::string> extra{"--film", row.film};
    if (row.longStrip) {
        extra.push_back("--long-strip");
    }
    const auto p = film(*r, out / "reel.avi", extra);
    ASSERT_EQ(p.status, 0) << p.err;
    const auto probe = probeMovie(out / "reel.avi", true);
    ASSERT_TRUE(probe.opened);
    EXPECT_EQ(probe.frames, row.movieFrames);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_EQ(probe.fps, 24.0);
    EXPECT_EQ(probe.fourcc, "DIVX");
    for (const cv::Mat& frame : probe.images) {
        // film, not an empty frame
        EXPECT_GT(cv::mean(frame)[1], 20.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Films, FilmCommandOnRenderedScans,
    testing::Values(MovieRow{"Area35Colour", kArea35, "35va", true, false, 3, 3},
                    MovieRow{"Area35Grey", kArea35, "35va", false, false, 3, 3},
                    MovieRow{"Density35Grey", kDensity35, "35vd", false, false, 2, 2},
                    MovieRow{"Area16Grey", kArea16, "16va", false, false, 3, 3},
                    MovieRow{"Area16LongStripColour", kArea16, "16va", true, true, 2, 8},
                    MovieRow{"Area16LongStripGrey", kArea16, "16va", false, true, 1, 4}),
    [](const testing::TestParamInfo<MovieRow>& info) { return info.param.name; });

struct FrameRow {
    const char* name;
    bool cutSoundtrack;
    bool inverse;
};

class FilmCommandFrames : public testing::TestWithParam<FrameRow> {};

// Each movie frame is the cut region of its scan (MPEG-4 loses a little:
// about 39 dB against the in-process cut, while any other choice of cut or
// direction is below 13 dB).
TEST_P(FilmCommandFrames, AreTheCutRegions) {
    const FrameRow& row = GetParam();
    const auto r = render(kArea35, 2, true);
    TempDir out;
    std::vector<std::string> extra;
    if (row.cutSoundtrack) {
        extra.push_back("--cut-soundtrack");
    }
    if (row.inverse) {
        extra.push_back("--inverse");
    }
    const auto p = film(*r, out / "m.avi", extra);
    ASSERT_EQ(p.status, 0) << p.err;
    const auto probe = probeMovie(out / "m.avi", true);
    ASSERT_EQ(probe.images.size(), 2u);
    for (int k = 1; k <= 2; ++k) {
        const cv::Mat& frame = probe.images[static_cast<std::size_t>(k - 1)];
        for (const bool cut : {false, true}) {
            for (const bool inverse : {false, true}) {
                const double db = cv::PSNR(frame, expectedMovieFrame(*r, k, kArea35, cut, inverse));
                if (cut == row.cutSoundtrack && inverse == row.inverse) {
                    EXPECT_GT(db, 30.0) << "scan " << k;
                } else {
                    EXPECT_LT(db, 20.0) << "scan " << k << " cut " << cut << " inverse " << inverse;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, FilmCommandFrames,
    testing::Values(FrameRow{"Whole", false, false}, FrameRow{"CutSoundtrack", true, false},
                    FrameRow{"Inverse", false, true}, FrameRow{"CutSoundtrackInverse", true, true}),
    [](const testing::TestParamInfo<FrameRow>& info) { return info.param.name; });

// The film command's end-to-end run of the real program.
TEST(FilmCommandRendered, AnyExtensionHoldsAnAviMovie) {
    const std::string ffprobe = VELTRANA_FFPROBE; // found by CMake, empty if not
    if (ffprobe.empty()) {
        GTEST_SKIP() << "ffprobe was not found when the tests were configured (Debian ffmpeg)";
    }
    const auto r = render(kArea35, 2, false);
    TempDir out;
    ASSERT_EQ(filmProgram(*r, out / "sound.wav", {}).status, 0);
    const auto probe = test::runProgram(
        {ffprobe, "-v", "error", "-count_frames", "-show_entries",
         "stream=codec_tag_string,width,height,r_frame_rate,nb_read_frames:format=format_name",
         "-of", "default=noprint_wrappers=1", (out / "sound.wav").string()});
    ASSERT_EQ(probe.status, 0) << probe.err;
    for (const char* line : {"codec_tag_string=DIVX", "width=640", "height=480",
                             "r_frame_rate=24/1", "nb_read_frames=2", "format_name=avi"}) {
        EXPECT_NE(probe.out.find(line), std::string::npos) << line << "\n" << probe.out;
    }
    EXPECT_EQ(test::folderEntries(out.path()), std::vector<std::string>{"sound.wav"});
}

TEST(FilmCommandRendered, FramesComeFromTheScansOfTheRange) {
    const auto r = render(kArea35, 3, true);
    TempDir out;
    ASSERT_EQ(film(*r, out / "m.avi", {"--first", "2", "--last", "3"}).status, 0);
    const auto probe = probeMovie(out / "m.avi", true);
    ASSERT_EQ(probe.images.size(), 2u);
    // movie frame m shows scan m + 2 (about 38 dB), not a neighbour (below 19 dB)
    for (int k = 1; k <= 3; ++k) {
        const cv::Mat expected = expectedMovieFrame(*r, k, kArea35, false, false);
        for (int m = 0; m < 2; ++m) {
            const double db = cv::PSNR(probe.images[static_cast<std::size_t>(m)], expected);
            if (k == m + 2) {
                EXPECT_GT(db, 30.0) << "movie frame " << m << ", scan " << k;
            } else {
                EXPECT_LT(db, 25.0) << "movie frame " << m << ", scan " << k;
            }
        }
    }
}

TEST(FilmCommandRendered, RangePastTheLastScanReadsNothing) {
    const auto r = render(kArea35, 2, true);
    TempDir out;
    const auto p = film(*r, out / "m.avi", {"--first", "2", "--last", "3"});
    EXPECT_EQ(p.status, 1);
    EXPECT_NE(p.err.find("found 2 scans"), std::string::npos) << p.err;
    EXPECT_TRUE(test::folderEntries(out.path()).empty());
}

} // namespace
} // namespace veltrana
