#pragma once
// One reel of a batch, from its manifest line to its folder DIR/ID.
//
// The reel is written in a temporary folder beside DIR/ID and swapped in
// whole when finished (job/folder_swap.h): a kill at any moment leaves the
// earlier folder or the new one. A failed run swaps in a folder with its log
// and its record, which says "failed", and nothing else. A reel whose record
// says done, read from the same inputs with the same settings by the same
// program version, whose outputs still have their recorded MD5s, is left as
// it is ("done earlier").
//
// The folder holds ID.wav and ID.wav.md5 (md5sum's format), ID.leng.txt,
// ID.joins.csv (archival sound), the diagnostics v.txt, z.txt and r.txt, the
// run report in report/, ID.avi (with "movie"), ID.log and the record ID.json.

#include "base/status.h"
#include "batch/manifest.h"
#include "batch/reel_record.h"

#include <filesystem>
#include <functional>
#include <string>

namespace veltrana::batch {

// Where the job of a reel writes, all inside the reel's temporary folder.
struct ReelJobPaths {
    std::filesystem::path folder;    // the side files (leng.txt, v.txt, ...)
    std::filesystem::path sound;     // ID.wav
    std::filesystem::path movie;     // ID.avi, when the reel asks for one
    std::filesystem::path reportDir; // report/
};

// How the reel's job ended: the command line's exit status and what it said.
struct ReelJobEnd {
    int exitStatus = 1;
    std::string log; // everything the job said
};

// Runs the reel's job(s); supplied by the front end.
using ReelJobRunner = std::function<ReelJobEnd(const Reel&, const ReelJobPaths&)>;

enum class ReelEnd { Done, DoneEarlier, Failed, Busy };

struct ReelOutcome {
    ReelEnd end = ReelEnd::Failed;
    std::string message; // one sentence for the log
    ReelRecord record;   // as written (or as found, done earlier)
};

// Runs `reel` into `outputFolder`/ID unless it is done already. `version`
// is the program's ("veltrana 0.4.0").
ReelOutcome runReel(const Reel& reel, const std::filesystem::path& outputFolder,
                    const std::string& version, const ReelJobRunner& runner);

// The record of reel `id` in `outputFolder`, if one can be read.
Result<ReelRecord> readReelRecord(const std::filesystem::path& outputFolder, const std::string& id);

// The scans a reel reads, by name, size and time (and MD5 with fixity).
Result<std::vector<RecordedInput>> reelInputs(const std::filesystem::path& scans, bool fixity);

// "2026-12-07T10:00:00Z" for a time in seconds since 1970.
std::string utcTimeText(std::int64_t secondsSinceEpoch);

} // namespace veltrana::batch
