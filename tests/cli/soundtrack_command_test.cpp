// veltrana soundtrack's ends, run in-process; the trace lines and Ctrl-C
// through the real program.

#include "cli/command.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

class SoundtrackCommand : public testing::Test {
protected:
    void SetUp() override {
        synth::SynthOptions options;
        options.frames = 3;
        ASSERT_TRUE(synth::renderSampleScans(options, scans).ok());
    }

    std::vector<std::string> args(std::vector<std::string> extra) const {
        std::vector<std::string> all{"soundtrack", scans.string(), "-o", wav.string()};
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }

    test::ProcessResult run(std::vector<std::string> extra) {
        return test::runCommandLine(args(std::move(extra)));
    }

    // The real program: the trace lines go to the process's standard output,
    // which runCommandLine does not capture.
    test::ProcessResult runRealProgram(std::vector<std::string> extra) {
        std::vector<std::string> all = args(std::move(extra));
        all.insert(all.begin(), VELTRANA_EXE);
        return test::runProgram(all);
    }

    // Files in the output folder other than the sound itself: temporaries left behind.
    int strayFiles() const {
        int count = 0;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            if (e.path() != wav && e.path() != scans) {
                ++count;
            }
        }
        return count;
    }

    test::TempDir dir;
    fs::path scans = dir / "scans";
    fs::path wav = dir / "sound.wav";
};

TEST_F(SoundtrackCommand, WritesTheSoundAndSaysWhere) {
    const test::ProcessResult r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Sound: " + wav.string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find((scans / "leng.txt").string()), std::string::npos);
    EXPECT_NE(r.err.find("Picture resolution (dpi) x=1200,y=1200 and color depth=8"),
              std::string::npos);
    EXPECT_EQ(strayFiles(), 0);
}

// On a terminal the progress bar is drawn beneath the log lines, on the same
// stream; -q draws none.
TEST_F(SoundtrackCommand, ATerminalShowsTheBarBeneathTheLog) {
    const auto onTerminal = [&](std::vector<std::string> extra) {
        std::ostringstream out;
        std::ostringstream terminal;
        cli::CommandIo io{out, terminal, true};
        std::vector<std::string> all = args(std::move(extra));
        all.insert(all.begin(), "veltrana");
        EXPECT_EQ(cli::runVeltrana(all, io), 0) << terminal.str();
        return terminal.str();
    };
    const std::string shown = onTerminal({"--fps", "24"});
    EXPECT_NE(shown.find("Translating frame number : 3..."), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r[#"), std::string::npos) << shown;
    EXPECT_EQ(onTerminal({"--fps", "24", "-q"}).find("\r["), std::string::npos);
}

TEST_F(SoundtrackCommand, QuietPrintsNothingAndTraceGoesToStandardOutput) {
    // at the render's speed: read at another, the run warns even when quiet
    test::ProcessResult r = runRealProgram({"--quiet", "--fps", "24"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    r = runRealProgram({"--quiet", "--trace"});
    EXPECT_NE(r.out.find("frameCorrection"), std::string::npos);
    EXPECT_NE(r.out.find("x="), std::string::npos);
}

TEST_F(SoundtrackCommand, BadUsageExitsWithTwo) {
    for (const auto& extra : std::vector<std::vector<std::string>>{{"--film", "70mm"},
                                                                   {"--fps", "61"},
                                                                   {"--channel", "Q"},
                                                                   {"--dpi", "12x"},
                                                                   {"--rotation", "left"},
                                                                   {"--first", "0"},
                                                                   {"--max-memory", "0"},
                                                                   {"--max-memory", "lots"}}) {
        const test::ProcessResult r = run(extra);
        EXPECT_EQ(r.status, 2) << extra.front();
    }
    EXPECT_EQ(test::runCommandLine({"soundtrack", scans.string()}).status, 2);
    EXPECT_FALSE(fs::exists(wav));
}

TEST_F(SoundtrackCommand, HelpNamesEveryFlagWithItsDefault) {
    const test::ProcessResult r = test::runCommandLine({"soundtrack", "--help"});
    ASSERT_EQ(r.status, 0);
    const char* const expected[] = {"--first",
                                    "--last",
                                    "--film",
                                    "--fps",
                                    "--long-strip",
                                    "--dpi",
                                    "--track",
                                    "--rotation",
                                    "--full-aperture",
                                    "--channel",
                                    "--no-dc",
                                    "--no-crossfade",
                                    "--inverse",
                                    "--cut-by-analysis",
                                    "--trace",
                                    "--quiet",
                                    "--max-memory",
                                    "35va",
                                    "=25",
                                    "=top",
                                    "=R"};
    for (const char* flag : expected) {
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
    }
}

// A budget smaller than one scan reads the scans one at a time, on any of
// the threads: the same sound as a run that reads four at once.
TEST_F(SoundtrackCommand, AMemoryBudgetForOneScanGivesTheSameSound) {
    ASSERT_EQ(run({"--threads", "4"}).status, 0);
    const std::vector<unsigned char> atOnce = test::readFileBytes(wav);
    const test::ProcessResult r = run({"--threads", "4", "--max-memory", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readFileBytes(wav), atOnce);
    EXPECT_EQ(strayFiles(), 0);
}

TEST_F(SoundtrackCommand, ARangePastTheLastScanIsRefused) {
    const test::ProcessResult r = run({"--first", "2", "--last", "5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("found 3 scans"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_FALSE(fs::exists(scans / "leng.txt"));
}

TEST_F(SoundtrackCommand, AZeroManualResolutionIsRefused) {
    const test::ProcessResult r = run({"--dpi", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(wav));
}

TEST_F(SoundtrackCommand, AnUnreadableFrameNamesTheFileAndWritesNothing) {
    std::ofstream(scans / "frame_0002.tif") << "not a scan";
    const test::ProcessResult r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Wrong file format !!!"), std::string::npos);
    EXPECT_NE(r.err.find("frame_0002.tif"), std::string::npos);
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_FALSE(fs::exists(scans / "leng.txt"));
}

TEST_F(SoundtrackCommand, AnUnwritableOutputIsNamed) {
    wav = dir / "missing" / "sound.wav";
    const test::ProcessResult r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(wav.string()), std::string::npos) << r.err;
}

TEST_F(SoundtrackCommand, LengthsThatCannotBeWrittenFailTheRunButKeepTheSound) {
    // where leng.txt belongs there is a directory (permissions do not stop root)
    fs::create_directory(scans / "leng.txt");
    const test::ProcessResult r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("leng.txt"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_regular_file(wav));
}

// A real process: what is tested is the program's answer to SIGINT.
TEST(SoundtrackInterrupt, CtrlCStopsTheRunAndKeepsTheOldSound) {
    test::TempDir dir;
    synth::SynthOptions options;
    options.frames = 40;
    ASSERT_TRUE(synth::renderSampleScans(options, dir / "scans").ok());
    const fs::path wav = dir / "sound.wav";
    std::ofstream(wav) << "old sound";
    const fs::path errPath = dir / "err.txt";

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::freopen(errPath.c_str(), "w", stderr) == nullptr ||
            std::freopen("/dev/null", "w", stdout) == nullptr) {
            ::_exit(127);
        }
        ::execl(VELTRANA_EXE, VELTRANA_EXE, "soundtrack", (dir / "scans").c_str(), "-o",
                wav.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // interrupt once the run is under way
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (test::readFileText(errPath).find("Translating frame number : 3...") ==
               std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(test::readFileText(errPath).find("Operation stopped !!!!"), std::string::npos);
    EXPECT_EQ(test::readFileText(wav), "old sound");
    EXPECT_FALSE(fs::exists(dir / "scans" / "leng.txt"));
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 3); // scans, sound.wav, err.txt
}

} // namespace
} // namespace veltrana
