#include "base/standard_streams.h"
#include "cli/command.h"
#include "movie/movie_check.h"
#include "reading/scan_reader.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted.store(true);
}

} // namespace

int main(int argc, char** argv) {
    // before anything is opened: a closed stderr must not become an output
    if (!veltrana::openClosedStandardStreams()) {
        return veltrana::cli::kExitFailed;
    }
    veltrana::reuseLargeImageBuffers();
    veltrana::silenceImageLibraryLog();
    veltrana::silenceMovieLibraryLog();
    // Ctrl-C, kill and a closed terminal stop a run like the Stop button:
    // nothing half-written is left behind
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    std::signal(SIGHUP, onInterrupt);
    // a closed standard output (veltrana ... | head) ends the output, not the run
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv, argv + argc);
    // the image library's own lines about a damaged scan go nowhere: the job says it
    veltrana::cli::CommandIo io{std::cout, veltrana::ownErrorStream(), isatty(STDERR_FILENO) != 0,
                                &interrupted};
    // batch starts itself again, one process a reel
    std::error_code ec;
    io.program = std::filesystem::read_symlink("/proc/self/exe", ec);
    return veltrana::cli::runVeltrana(args, io);
}
