// veltrana soundtrack --archival on one film rendered as scanners lay it
// (upright, mirrored, full aperture with the film weaving in the gate), with
// fractional frame starts: upright and mirrored scans give the top layout's
// joins exactly, and every layout's joins lie within half a row of the true
// fractional ones.

#include "geometry/frame_correction.h"
#include "reading/scan_reader.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Layout {
    const char* name;
    TrackSide side;
    bool fullAperture;
};

void PrintTo(const Layout& l, std::ostream* out) {
    *out << l.name;
}

synth::SynthOptions filmOf(const Layout& l) {
    synth::SynthOptions options;
    options.film = SoundtrackType::VariableArea35;
    options.dpi = {600, 600};
    options.frames = 5;
    options.color = true;
    options.noise = true;
    options.fractionalStarts = true;
    options.rotationUp = l.side == TrackSide::Top || l.side == TrackSide::Left;
    options.upright = isUpright(l.side);
    options.fullAperture = l.fullAperture;
    // at 600 dpi, about as far as scanners let the film weave in the gate
    options.weave = l.fullAperture ? 8 : 0;
    return options;
}

// The precise joins of joins.csv (frame,...,precise,...): the fourth field.
std::vector<double> preciseJoins(const fs::path& csv) {
    std::istringstream in(test::readFileText(csv));
    std::string line;
    std::getline(in, line); // the header
    std::vector<double> joins;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        std::string field;
        for (int k = 0; k < 4; ++k) {
            std::getline(row, field, ',');
        }
        joins.push_back(field.empty() ? -1e9 : std::stod(field));
    }
    return joins;
}

std::vector<double> archivalJoins(const Layout& l, const fs::path& scans, const fs::path& out) {
    std::vector<std::string> args{"soundtrack", scans.string(),
                                  "-o",         (out / "reel.wav").string(),
                                  "--track",    std::string(trackSideName(l.side)),
                                  "--archival", "-q"};
    if (l.fullAperture) {
        args.push_back("--full-aperture");
    }
    const test::ProcessResult run = test::runCommandLine(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return preciseJoins(out / "joins.csv");
}

class ArchivalJoins : public testing::TestWithParam<Layout> {};

TEST_P(ArchivalJoins, LieWithinHalfARowOfTheTruth) {
    const Layout& l = GetParam();
    const test::TempDir dir;
    const Layout top{"top", TrackSide::Top, false};
    const synth::SynthResult narrow = synth::renderSampleScans(filmOf(top), dir / "top");
    ASSERT_TRUE(narrow.ok()) << narrow.error;
    ASSERT_TRUE(synth::renderSampleScans(filmOf(l), dir / "layout").ok());
    fs::create_directories(dir / "out-top");
    fs::create_directories(dir / "out-layout");
    const std::vector<double> expected = archivalJoins(top, dir / "top", dir / "out-top");
    const std::vector<double> joins = archivalJoins(l, dir / "layout", dir / "out-layout");
    ASSERT_EQ(joins.size(), 4u);
    if (!l.fullAperture) {
        // the same pixel sums, as they lie: the same joins to the last digit
        EXPECT_EQ(joins, expected);
    }

    // the truth, on the film as the top layout's scans hold it
    const synth::SynthTruth& truth = narrow.truth;
    std::vector<FrameBounds> bounds;
    for (const synth::SynthScan& s : truth.scans) {
        const LoadedScan scan = loadScan(dir / "top" / s.file);
        ASSERT_TRUE(scan.ok()) << scan.message();
        bounds.push_back(findFrameBounds(scan.value(), truth.options.film, false));
    }
    double worst = 0;
    for (std::size_t k = 0; k < joins.size(); ++k) {
        const double exact =
            synth::trimmedJoinExact(truth, static_cast<int>(k), bounds[k], bounds[k + 1]);
        EXPECT_NEAR(joins[k], exact, 0.5) << "the join of scans " << k + 1 << " and " << k + 2;
        worst = std::max(worst, std::abs(joins[k] - exact));
    }
    std::printf("[ figures  ] %s: archival joins within %.3f rows of the truth\n", l.name, worst);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ArchivalJoins,
                         testing::Values(Layout{"left", TrackSide::Left, false},
                                         Layout{"right", TrackSide::Right, false},
                                         Layout{"full_aperture_left", TrackSide::Left, true},
                                         Layout{"full_aperture_top", TrackSide::Top, true}),
                         [](const testing::TestParamInfo<Layout>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace veltrana
