#include "cli/command.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace veltrana::cli {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun runInProcess(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    CommandIo io{out, err};
    args.insert(args.begin(), "veltrana");
    const int status = runVeltrana(args, io);
    return {status, out.str(), err.str()};
}

TEST(CommandLine, VersionAndHelp) {
    CliRun r = runInProcess({"--version"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out, std::string("veltrana ") + VELTRANA_VERSION + "\n");
    r = runInProcess({"--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("soundtrack"), std::string::npos);
}

TEST(CommandLine, UnknownOptionIsBadUsage) {
    const CliRun r = runInProcess({"--no-such-flag"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("--no-such-flag"), std::string::npos);
}

TEST(CommandLine, TheProgramItselfAnswers) {
    const test::ProcessResult r = test::runProgram({VELTRANA_EXE, "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("veltrana ") + VELTRANA_VERSION + "\n");
}

} // namespace
} // namespace veltrana::cli
