#pragma once
// Runs of the real program stopped part-way, by a signal or killed: forty
// rendered scans made once per test suite, so that a run is still reading
// when the signal comes, and a run started in the background that is
// signalled once its log reaches a given line.
//
// Header-only: the test programs that use it link veltrana_synth.

#include "support/output_checks.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrana::test {

// What a signalled run ended with.
struct StoppedRun {
    int status = -1;
    std::string err;
};

// Forty scans, rendered once for the suite; each case copies them into its
// own folder, `dir`.
class StoppedRunTest : public testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        rendered = std::make_unique<TempDir>();
        synth::SynthOptions options;
        options.frames = 40;
        ASSERT_TRUE(synth::renderSampleScans(options, rendered->path() / "scans").ok());
    }
    static void TearDownTestSuite() { rendered.reset(); }

    void SetUp() override { std::filesystem::copy(rendered->path() / "scans", scans); }

    // Starts `veltrana <command> scans -o output`, waits until its log shows
    // `line`, does `action` and waits for the end.
    StoppedRun runUntil(const std::string& command, const std::filesystem::path& output,
                        const std::string& line,
                        const std::function<void(BackgroundProgram&)>& action) {
        BackgroundProgram program({VELTRANA_EXE, command, scans.string(), "-o", output.string()},
                                  logs / "err.txt");
        if (!program.waitForError(line)) {
            ADD_FAILURE() << "the run never showed " << line << ": " << program.errorText();
        }
        action(program);
        StoppedRun run;
        run.status = program.wait();
        run.err = program.errorText();
        return run;
    }

    // The same, with `signal` sent at that line.
    StoppedRun stopAt(const std::string& command, const std::filesystem::path& output,
                      const std::string& line, int signal) {
        return runUntil(command, output, line,
                        [signal](BackgroundProgram& program) { program.signal(signal); });
    }

    static void writeText(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    static inline std::unique_ptr<TempDir> rendered;
    TempDir dir;
    TempDir logs;
    std::filesystem::path scans = dir / "scans";
};

inline std::string signalName(const testing::TestParamInfo<int>& info) {
    return sigabbrev_np(info.param);
}

} // namespace veltrana::test
