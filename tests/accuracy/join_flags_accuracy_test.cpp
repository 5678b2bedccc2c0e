// The standard run's judgement of its own joins on realistic renders (uneven
// light, weave, grain, blur, scans starting between rows, silent passages,
// colour): the command line run in-process with --report, its report.json
// read back and set against the truth. Every join more than 2 rows from the
// truth is flagged, at most one right join in ten is, and the band draws no
// warning that it is not a soundtrack.

#include "cli/command.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

namespace veltrana::synth {
namespace {

namespace fs = std::filesystem;

// The scans of a reel's few seconds: enough silent passages to matter.
constexpr int kFrames = 24;
// A join this far from the truth (rows) is wrong.
constexpr double kWrongJoinRows = 2.0;

struct FlagsCase {
    const char* name;
    SoundtrackType film;
    const char* filmName;
};

void PrintTo(const FlagsCase& c, std::ostream* out) {
    *out << c.name;
}

class JoinFlagsOnRealisticRenders : public testing::TestWithParam<FlagsCase> {
protected:
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    fs::path dir = fs::temp_directory_path() /
                   ("veltrana-flags-" + std::to_string(::getpid()) + "-" + GetParam().name);
};

nlohmann::json readJson(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str());
}

TEST_P(JoinFlagsOnRealisticRenders, FlagEveryWrongJoinAndFewRightOnes) {
    SynthOptions options;
    options.film = GetParam().film;
    options.frames = kFrames;
    options.falloffPercent = 30;
    options.weave = 4;
    options.noise = true;
    options.blur = true;
    options.fractionalStarts = true;
    options.silence = true;
    options.color = true;
    const SynthResult rendered = renderSampleScans(options, dir / "scans");
    ASSERT_TRUE(rendered.ok()) << rendered.error;

    std::ostringstream out, err;
    cli::CommandIo io{out, err};
    const int status = cli::runVeltrana({"veltrana", "soundtrack", (dir / "scans").string(), "-o",
                                         (dir / "sound.wav").string(), "--film",
                                         GetParam().filmName, "--fps", "24", "--side-files",
                                         dir.string(), "--report", (dir / "report").string()},
                                        io);
    ASSERT_EQ(status, 0) << err.str();
    EXPECT_EQ(err.str().find("Warning: The band read"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("Warning: The joins do not follow"), std::string::npos) << err.str();

    const nlohmann::json report = readJson(dir / "report" / "report.json");
    for (const nlohmann::json& w : report["warnings"]) {
        EXPECT_NE(w["warning"], "band") << w.dump();
    }
    const SynthTruth& truth = rendered.truth;
    int wrong = 0, wrongFlagged = 0, right = 0, rightFlagged = 0;
    const nlohmann::json& frames = report["frames"];
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
    for (std::size_t k = 1; k < frames.size(); ++k) {
        const nlohmann::json& f = frames[k];
        // the truth in trimmed rows: row 0 of a trimmed scan is its last column
        const auto startOf = [&](std::size_t i) {
            return truth.scans[i].startExact + truth.layout.scanRows - 1 -
                   frames[i]["trim"]["right"].get<int>();
        };
        const double error = f["join"]["used"].get<double>() - (startOf(k) - startOf(k - 1));
        const bool flagged = !f["flags"].empty();
        if (std::abs(error) > kWrongJoinRows) {
            ++wrong;
            wrongFlagged += flagged;
            EXPECT_TRUE(flagged) << "frame " << f["frame"] << " joins " << error
                                 << " rows from the truth, unflagged";
        } else {
            ++right;
            rightFlagged += flagged;
        }
    }
    std::printf("[ figures  ] %s: %d wrong joins, %d flagged; %d right, %d flagged\n",
                GetParam().name, wrong, wrongFlagged, right, rightFlagged);
    EXPECT_LE(10 * rightFlagged, right);
}

INSTANTIATE_TEST_SUITE_P(
    Films, JoinFlagsOnRealisticRenders,
    testing::Values(FlagsCase{"VariableArea35", SoundtrackType::VariableArea35, "35va"},
                    FlagsCase{"VariableDensity35", SoundtrackType::VariableDensity35, "35vd"},
                    FlagsCase{"VariableArea16", SoundtrackType::VariableArea16, "16va"}),
    [](const testing::TestParamInfo<FlagsCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrana::synth
