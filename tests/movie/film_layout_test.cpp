// The film job on upright and mirrored scans gives the movie frames of the
// same film scanned with the band along the top edge; the band along the
// bottom edge gives them mirrored, as it always has.

#include "movie/movie_probe.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    SoundtrackType film;
    bool color;
    bool longStrip;
    std::vector<std::string> flags;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

std::vector<cv::Mat> movieOf(const Case& c, TrackSide side, const test::TempDir& dir) {
    const std::string name(trackSideName(side));
    synth::SynthOptions options;
    options.film = c.film;
    options.dpi = {600, 600};
    options.frames = c.longStrip ? 2 : 3;
    options.color = c.color;
    options.longStrip = c.longStrip;
    options.rotationUp = side == TrackSide::Top || side == TrackSide::Left;
    options.upright = isUpright(side);
    const fs::path scans = dir / ("scans-" + name);
    const synth::SynthResult rendered = synth::renderSampleScans(options, scans);
    EXPECT_TRUE(rendered.ok()) << rendered.error;
    const fs::path movie = dir / (name + ".avi");
    std::vector<std::string> args{"film",    scans.string(),
                                  "-o",      movie.string(),
                                  "--film",  std::string(soundtrackTypeName(c.film)),
                                  "--track", name};
    if (c.longStrip) {
        args.push_back("--long-strip");
    }
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    const test::ProcessResult run = test::runCommandLine(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return test::probeMovie(movie, true).images;
}

bool sameFrames(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size() || cv::norm(a[i], b[i], cv::NORM_INF) != 0) {
            return false;
        }
    }
    return true;
}

class FilmOnEveryLayout : public testing::TestWithParam<Case> {};

TEST_P(FilmOnEveryLayout, UprightAndMirroredGiveTheTopLayoutsFrames) {
    const test::TempDir dir;
    const std::vector<cv::Mat> top = movieOf(GetParam(), TrackSide::Top, dir);
    ASSERT_FALSE(top.empty());
    EXPECT_TRUE(sameFrames(movieOf(GetParam(), TrackSide::Left, dir), top));
    EXPECT_TRUE(sameFrames(movieOf(GetParam(), TrackSide::Right, dir), top));
    // the standard movie has never turned a bottom-layout scan round
    EXPECT_FALSE(sameFrames(movieOf(GetParam(), TrackSide::Bottom, dir), top));
}

INSTANTIATE_TEST_SUITE_P(
    Films, FilmOnEveryLayout,
    testing::Values(
        Case{
            "area35_colour_cut", SoundtrackType::VariableArea35, true, false, {"--cut-soundtrack"}},
        Case{"density35_grey_inverse",
             SoundtrackType::VariableDensity35,
             false,
             false,
             {"--inverse"}},
        Case{"area16_long_strip", SoundtrackType::VariableArea16, false, true, {}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrana
