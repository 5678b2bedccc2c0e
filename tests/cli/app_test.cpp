#include "cli/command.h"

#include "support/command_line.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace veltrana::cli {
namespace {

using test::runCommandLine;

TEST(CommandLine, VersionAndHelp) {
    test::ProcessResult r = runCommandLine({"--version"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(r.out, std::string("veltrana ") + VELTRANA_VERSION + "\n");
    r = runCommandLine({"--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_NE(r.out.find("soundtrack"), std::string::npos);
}

TEST(CommandLine, UnknownOptionIsBadUsage) {
    const test::ProcessResult r = runCommandLine({"--no-such-flag"});
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
