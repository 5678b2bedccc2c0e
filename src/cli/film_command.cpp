#include "cli/command.h"

namespace veltrana::cli {

// Not available yet: adds nothing.
Command addFilmCommand(CLI::App&) {
    return {};
}

} // namespace veltrana::cli
