#include "cli/command.h"

#include <ostream>
#include <utility>

namespace veltrana::cli {

int runVeltrana(const std::vector<std::string>& args, CommandIo& io) {
    CLI::App app{"Veltrana: recovers the optical soundtrack of motion-picture film from "
                 "frame scans, and turns the scans into a movie.",
                 "veltrana"};
    app.set_version_flag("--version", std::string("veltrana ") + VELTRANA_VERSION);
    app.require_subcommand(0, 1);

    std::vector<Command> commands;
    for (auto add : {addSoundtrackCommand, addFilmCommand, addSynthCommand, addBatchCommand}) {
        Command command = add(app);
        if (command.parser != nullptr && command.run) {
            commands.push_back(std::move(command));
        }
    }

    // CLI11 parses in reverse order from a vector
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    if (!reversed.empty()) {
        reversed.pop_back();
    }
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        io.out << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        io.out << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::CallForVersion&) {
        io.out << app.version() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        io.err << "veltrana: " << e.what() << "\n";
        io.err << "Run with --help for more information.\n";
        return kExitUsage;
    }

    for (Command& command : commands) {
        if (command.parser->parsed()) {
            return command.run(io);
        }
    }
    // no command: nothing to do is a usage error
    io.err << app.help();
    return kExitUsage;
}

} // namespace veltrana::cli
