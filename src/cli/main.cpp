#include "cli/command.h"
#include "geometry/scan.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted.store(true);
}

} // namespace

int main(int argc, char** argv) {
    veltrana::reuseLargeImageBuffers();
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    std::vector<std::string> args(argv, argv + argc);
    veltrana::cli::CommandIo io{std::cout, std::cerr, isatty(STDERR_FILENO) != 0, &interrupted};
    return veltrana::cli::runVeltrana(args, io);
}
