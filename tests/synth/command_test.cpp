// `veltrana synth` through the command line, run in-process (one render
// through the real program): bad options and failed runs end with a clear
// message and exit 2 (usage) or 1 (run failed), and never leave a directory
// that looks like a render.

#include "synth/synth.h"

#include "job/safe_file.h"
#include "support/command_line.h"
#include "support/output_checks.h"
#include "support/test_support.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

namespace veltrana::synth {
namespace {

namespace fs = std::filesystem;

test::ProcessResult synth(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"synth"};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runCommandLine(args);
}

// The same through the real program.
test::ProcessResult synthProgram(const std::vector<std::string>& extra) {
    std::vector<std::string> args{VELTRANA_EXE, "synth"};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runProgram(args);
}

// Nothing in `dir` but `expected`: no render, no hidden staging directory.
void expectOnly(const fs::path& dir, std::vector<std::string> expected) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

// The synth command's end-to-end run of the real program.
TEST(SynthCommand, WritesScansAndTruth) {
    test::TempDir dir;
    const test::ProcessResult r = synthProgram(
        {(dir / "s").string(), "--frames", "3", "--dpi", "1200x2400", "--variant", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Wrote 3 scans"), std::string::npos) << r.out;
    const SynthTruthRead truth = readSynthTruth(dir / "s" / "truth.json");
    ASSERT_TRUE(truth.ok()) << truth.error;
    EXPECT_EQ(truth.truth.options.dpi, (ScanResolution{1200, 2400}));
    EXPECT_EQ(truth.truth.options.variant, 4u);
    EXPECT_EQ(truth.truth.scans.size(), 3u);
    expectOnly(dir / "s",
               {"frame_0001.tif", "frame_0002.tif", "frame_0003.tif", "truth.json", "truth.wav"});
}

TEST(SynthCommand, SaysWhenDetectionCannotReadTheRenderedResolution) {
    test::TempDir dir;
    const test::ProcessResult r = synth({(dir / "s").string(), "--film", "16va", "--frames", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: resolution detection cannot read these scans as 1200 x 1200 "
                         "dpi: it will read 1201 x 1200 dpi"),
              std::string::npos)
        << r.err;
    const SynthTruthRead truth = readSynthTruth(dir / "s" / "truth.json");
    ASSERT_TRUE(truth.ok());
    EXPECT_EQ(truth.truth.detected, (ScanResolution{1201, 1200}));
    EXPECT_EQ(truth.truth.warnings.size(), 1u);
}

TEST(SynthCommand, HelpNamesTheOptions) {
    const test::ProcessResult r = synth({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* option :
         {"--film", "--dpi", "--frames", "--fps", "--signal", "--color", "--grey", "--rotation",
          "--long-strip", "--noise", "--blur", "--jitter", "--variant", "--force"}) {
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
}

struct BadUsage {
    const char* name;
    std::vector<std::string> args;
    const char* says;
};

class SynthBadUsage : public testing::TestWithParam<BadUsage> {};

TEST_P(SynthBadUsage, ExitsTwoAndWritesNothing) {
    test::TempDir dir;
    std::vector<std::string> args{(dir / "s").string()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const test::ProcessResult r = synth(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    expectOnly(dir.path(), {});
}

INSTANTIATE_TEST_SUITE_P(
    Options, SynthBadUsage,
    testing::Values(BadUsage{"unknown_film", {"--film", "70mm"}, "unknown film '70mm'"},
                    BadUsage{"dpi_zero", {"--dpi", "0"}, "resolution must be 300 to 9600 dpi"},
                    BadUsage{"dpi_text", {"--dpi", "fine"}, "--dpi takes a number"},
                    BadUsage{"frames_zero", {"--frames", "0"}, "number of frames"},
                    BadUsage{"fps", {"--fps", "61"}, "whole 16 to 60"},
                    BadUsage{"long_strip_35", {"--long-strip"}, "16 mm"},
                    BadUsage{"jitter", {"--jitter", "400"}, "allow at most"},
                    BadUsage{"rotation", {"--rotation", "left"}, "--rotation"},
                    BadUsage{"colour_and_grey", {"--color", "--grey"}, "excludes"},
                    BadUsage{"no_directory", {"--frames"}, "--frames"},
                    BadUsage{"advance_without_mark", {"--advance", "3"}, "--sync-mark"},
                    BadUsage{"mark_within_advance", {"--sync-mark", "5"}, "advance of 20"},
                    BadUsage{"shrink", {"--shrink", "9"}, "shrink must be 0 to"}),
    [](const testing::TestParamInfo<BadUsage>& info) { return std::string(info.param.name); });

TEST(SynthCommand, AnUnreadableSoundFileFailsTheRun) {
    test::TempDir dir;
    std::ofstream(dir / "garbage.wav") << "RIFF but not really";
    for (const char* name : {"garbage.wav", "missing.wav"}) {
        const test::ProcessResult r =
            synth({(dir / "s").string(), "--signal", (dir / name).string(), "--frames", "2"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("cannot read the sound file"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    }
    expectOnly(dir.path(), {"garbage.wav"});
}

TEST(SynthCommand, AnUnwritableDirectoryFailsTheRun) {
    test::TempDir dir;
    // a regular file where a directory should be: no permission trick, which
    // would not stop a test run as root
    std::ofstream(dir / "file") << "x";
    const test::ProcessResult r = synth({(dir / "file" / "s").string(), "--frames", "2"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
    expectOnly(dir.path(), {"file"});
}

TEST(SynthCommand, ANonEmptyDirectoryNeedsForce) {
    test::TempDir dir;
    ASSERT_EQ(synth({(dir / "s").string(), "--frames", "3"}).status, 0);
    const auto before = test::readFileBytes(dir / "s" / "truth.json");
    test::ProcessResult r = synth({(dir / "s").string(), "--frames", "2", "--variant", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFileBytes(dir / "s" / "truth.json"), before);

    r = synth({(dir / "s").string(), "--frames", "2", "--variant", "2", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectOnly(dir / "s", {"frame_0001.tif", "frame_0002.tif", "truth.json", "truth.wav"});
    expectOnly(dir.path(), {"s"});
}

// A FIFO as the signal would block the open for good, Ctrl-C or not.
TEST(SynthCommand, ASignalThatIsNoRegularFileIsRefused) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0644), 0);
    fs::create_directory(dir / "folder.wav");
    for (const char* name : {"pipe.wav", "folder.wav"}) {
        const test::ProcessResult r =
            synth({(dir / "s").string(), "--signal", (dir / name).string(), "--frames", "2"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("cannot read the sound file " + (dir / name).string() +
                             ": it is not a regular file"),
                  std::string::npos)
            << r.err;
    }
    expectOnly(dir.path(), {"folder.wav", "pipe.wav"});
}

// What a killed render left beside its target goes with the next render
// there; another machine's, or a live one's, stays.
TEST(SynthCommand, AKilledRendersStagingIsRemovedByTheNext) {
    test::TempDir dir;
    const std::string host = temporaryHostName();
    const std::string dead =
        ".veltrana-" + host + "-" + std::to_string(test::unusedProcessId()) + "-00aa.tmp";
    const std::string elsewhere =
        ".veltrana-other-" + std::to_string(test::unusedProcessId()) + "-00bb.tmp";
    for (const std::string& name : {dead, elsewhere}) {
        fs::create_directory(dir / name);
        std::ofstream(dir / name / "frame_0001.tif") << "half a scan";
    }
    ASSERT_EQ(synth({(dir / "s").string(), "--frames", "2"}).status, 0);
    expectOnly(dir.path(), {elsewhere, "s"});
}

// A full disk is named; nothing of the render is left.
TEST(SynthCommand, AFullDiskIsNamed) {
    if (!test::runningAsRoot()) {
        GTEST_SKIP() << "mounting a small filesystem needs root";
    }
    test::TempDir dir;
    test::ScopedMount mount;
    if (!mount.mountTmpfs(dir.path(), 256 * 1024)) {
        GTEST_SKIP() << mount.whyNot();
    }
    // the program itself: the image library's own lines would reach its stderr
    const test::ProcessResult r = synthProgram({(dir / "s").string(), "--frames", "8"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("TIFF"), std::string::npos) << r.err;
    expectOnly(dir.path(), {});
}

} // namespace
} // namespace veltrana::synth
