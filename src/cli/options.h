#pragma once
// Options and helpers shared by the job commands (soundtrack, film).

#include "cli/command.h"
#include "geometry/film_standard.h"
#include "job/folder_lock.h"
#include "job/run_settings.h"
#include "reading/scan_limits.h"
#include "report/report_settings.h"
#include "report/run_report.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrana::cli {

// What both jobs read from the command line.
struct JobOptions {
    std::filesystem::path frames; // the frame directory or any .tif in it
    std::filesystem::path output;
    int first = 1;
    int last = 0; // 0: the last scan of the directory
    std::string film = "35va";
    bool longStrip = false;
    std::string dpi; // empty: measured on the first frame
    bool inverse = false;
    std::string track = "top"; // the edge the soundtrack runs along (soundtrack: --rotation too)
    bool trace = false;
    bool quiet = false;
    double maxMegapixels = 100.0; // the largest scan read
    int threads = 0;              // 0: every core
    std::int64_t maxMemoryMb = 0; // 0: half of what the process may use
    std::filesystem::path report; // empty: no run report
};

// Adds <frames>, -o, --first, --last, --film, --long-strip, --dpi, --inverse, --track,
// --max-megapixels, --threads, --max-memory, --report, --trace and --quiet. `outputHelp` describes
// -o for this command.
void addJobOptions(CLI::App& command, JobOptions& options, const std::string& outputHelp);

// A manual resolution given as "X" (both axes) or "X:Y".
std::optional<ScanResolution> parseDpi(std::string_view text);

// The resolution given with --dpi, if any (validated when parsed).
std::optional<ScanResolution> manualResolution(const JobOptions& options);

// The last frame asked for with --last, or else the last scan of the frame
// directory (1 when it holds none: the job then says so).
int lastFrame(const JobOptions& options);

// What a scan may be, from --max-megapixels.
ScanLimits scanLimits(const JobOptions& options);

// The memory budget --max-memory gives, in bytes, or the default one.
std::int64_t memoryBudgetBytes(const JobOptions& options);

// The settings both jobs share, from the options; Ctrl-C (`interrupt`)
// stops the run as Stop does.
ScanRunSettings scanRunSettings(const JobOptions& options, const std::atomic<bool>* interrupt);

// What is refused before a job runs, beyond what each option checks on its
// own: --long-strip without 16 mm film (bad usage), an output (`what`: "the
// sound") or scans that the run report would replace, and folders another
// run is writing into (the run fails). Takes the run's folder locks into
// `locks`, to hold while the job runs. Says why on the error stream and
// returns the exit status, or kExitOk to go on.
int checkBeforeRun(const JobOptions& options, std::string_view what, bool sideFilesBesideScans,
                   FolderLocks& locks, CommandIo& io);

// The film type of a validated --film value.
SoundtrackType filmType(const std::string& name);

// Switches the trace lines on for the lifetime of the object when asked.
class ScopedTrace {
public:
    explicit ScopedTrace(bool on);
    ~ScopedTrace();
    ScopedTrace(const ScopedTrace&) = delete;
    ScopedTrace& operator=(const ScopedTrace&) = delete;

private:
    bool previous;
};

} // namespace veltrana::cli
