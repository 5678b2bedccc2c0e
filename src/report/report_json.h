#pragma once
// report.json: what the run report shows, for programs to read (the batch
// summary, an archive's records). The HTML page's badges and the desktop
// program's marks come from the same flags and warnings.
//
// Keys (the README lists them for users):
//   program, job ("soundtrack" | "film"), ended ("finished", "stopped",
//   "unreadable-frame", "refused", "output-not-written",
//   "side-files-not-written", "error", "usage-refused"), message, first, last,
//   resolution {x, y} | null, settings {key: value},
//   frames [{frame, file, trim {left, right}, band {first, last} | null,
//            join {used, standard, precise} | null, score, correlation,
//            flags [{flag, reason}]}],
//   warnings [{warning, reason}],
//   lost_frames [{frame, file, cause, joins_not_searched [frame]}]
//     (scans not read, silence in their place: --on-unreadable silence),
//   outputs [{path, md5}]
// Numbers that were not measured are null; every frame read is listed, its
// flags empty when nothing speaks against its join.

#include "base/status.h"
#include "report/run_report.h"

#include <filesystem>
#include <string>

namespace veltrana {

// The MD5 digest of a file's bytes in lower-case hex, or why it cannot be read
// (md5HexOfFile, job/md5.h).
Result<std::string> fileMd5(const std::filesystem::path& file);

// report.json's text (UTF-8, one object).
std::string reportJson(const RunRecord& run);

} // namespace veltrana
