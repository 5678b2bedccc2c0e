#pragma once
// The veltrana command line run in-process, as main() runs it but with its
// standard output and error captured in strings. Most command tests read
// what a run printed and wrote this way, without starting the program; those
// that need a real process (signals, file-size limits, the trace lines of
// --trace, which go to the process's own standard output) use runProgram on
// VELTRANA_EXE instead.
//
// Header-only: the test programs that use it link veltrana_cli.

#include "cli/command.h"
#include "support/test_support.h"

#include <sstream>
#include <string>
#include <vector>

namespace veltrana::test {

// Runs `veltrana args...` (without the program name) through runVeltrana.
// Standard error is no terminal (log lines, no progress bar) and nothing
// interrupts the run. The status and streams as runProgram gives them.
inline ProcessResult runCommandLine(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    cli::CommandIo io{out, err};
    args.insert(args.begin(), "veltrana");
    const int status = cli::runVeltrana(args, io);
    return {status, out.str(), err.str()};
}

} // namespace veltrana::test
