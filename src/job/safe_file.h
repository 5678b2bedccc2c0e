#pragma once
// Output files that appear complete or not at all.
//
// Each output is written to a temporary file beside its target and renamed
// over the target only once it is complete: a crash or a stop never leaves a
// partial file, and an old file is only replaced by a complete new one.

#include <filesystem>
#include <string>

namespace veltrana {

// A name for the temporary file beside `target`, unique within this process
// and unlikely to meet another's. `suffix` ends the name (some writers choose
// the format by the extension).
std::filesystem::path temporaryPathFor(const std::filesystem::path& target,
                                       const std::string& suffix = ".partial");

// Renames the complete temporary file over the target. On failure removes the
// temporary file and returns the reason; an empty string on success.
std::string commitTemporary(const std::filesystem::path& temporary,
                            const std::filesystem::path& target);

// Removes a temporary file that will not be completed.
void discardTemporary(const std::filesystem::path& temporary);

// Writes `text` to `target` through a temporary file; an empty string on
// success, otherwise the reason.
std::string writeTextFile(const std::filesystem::path& target, const std::string& text);

} // namespace veltrana
