#include "cli/command.h"

namespace veltrana::cli {

// Not available yet: adds nothing.
Command addSynthCommand(CLI::App&) {
    return {};
}

} // namespace veltrana::cli
