#pragma once
// The veltrana command line, runnable in-process.
//
// Each command writes through the streams it is given, so tests read what it
// printed; main() only supplies the process's streams and returns the status.
// Exit statuses: 0 done, 1 the run failed, 2 bad usage.

#include <CLI/CLI.hpp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace veltrana::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
};

struct CommandIo {
    std::ostream& out;
    std::ostream& err;
    // Progress bars and live log lines only on a terminal.
    bool errIsTerminal = false;
    // Set asynchronously (Ctrl-C); a running job treats it as Stop.
    const std::atomic<bool>* interrupt = nullptr;
    // The program itself, for commands that start it again (batch); empty
    // in-process, where they run everything here instead.
    std::filesystem::path program = {};
    // Where a progress bar goes when not on the error stream: a batch reel's
    // log lines go to its log file, its bar to the terminal.
    std::ostream* progress = nullptr;
};

// A subcommand: its parser, and what runs once it was chosen and parsed.
struct Command {
    CLI::App* parser = nullptr;
    std::function<int(CommandIo&)> run;
};

// Each subcommand adds itself to the application. One that is not available
// adds nothing and returns an empty Command.
Command addSynthCommand(CLI::App& app);
Command addSoundtrackCommand(CLI::App& app);
Command addFilmCommand(CLI::App& app);
Command addBatchCommand(CLI::App& app);

// args[0] is the program name.
int runVeltrana(const std::vector<std::string>& args, CommandIo& io);

} // namespace veltrana::cli
