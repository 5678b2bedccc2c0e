// veltrana batch: many reels from a manifest, one reel per task of a
// scheduler (--index) or all of them here, in turn or --jobs at a time.
//
// A reel's job is `veltrana soundtrack` (and `veltrana film` for a movie)
// run in-process with the manifest line's options: the manifest's keys are
// whatever the soundtrack command offers, read from its own definition.
// Without --index, and when the program's own path is known, each reel runs
// in a process of its own (this program with --index): a reel that crashes
// or runs out of memory cannot take the others down, and --jobs N runs N
// such processes at once, sharing the cores among them.

#include "batch/batch_lock.h"
#include "batch/manifest.h"
#include "batch/reel_report.h"
#include "batch/reel_run.h"
#include "batch/summary.h"
#include "cli/command.h"
#include "job/md5.h"
#include "job/safe_file.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace veltrana::cli {

namespace {

namespace fs = std::filesystem;
using batch::Reel;

// The options the batch sets for every reel itself.
const std::vector<std::string> kBatchSetOptions = {"output",  "report",     "quiet",
                                                   "threads", "side-files", "help"};

struct BatchOptions {
    fs::path manifest;
    fs::path output;
    std::optional<int> index;
    int jobs = 1;
    int threads = 0; // per reel; 0: the cores shared among the jobs
    bool summary = false;
    bool quiet = false;
};

std::string programVersion() {
    return std::string("veltrana ") + VELTRANA_VERSION;
}

std::string nowText() {
    return batch::utcTimeText(std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count());
}

// The long options of a command, as the manifest names them.
std::vector<batch::ManifestOption> commandOptions(Command (*add)(CLI::App&)) {
    CLI::App app;
    const Command command = add(app);
    std::vector<batch::ManifestOption> options;
    for (const CLI::Option* option : command.parser->get_options()) {
        if (!option->get_lnames().empty()) {
            options.push_back({option->get_lnames().front(), option->get_expected_max() == 0,
                               !option->get_needs().empty()});
        }
    }
    return options;
}

// The arguments of a reel's soundtrack run, before the batch's own.
std::vector<std::string> soundtrackArguments(const Reel& reel) {
    std::vector<std::string> args = {"veltrana", "soundtrack", reel.scans.string()};
    const std::vector<std::string> given = batch::optionArguments(reel.options);
    args.insert(args.end(), given.begin(), given.end());
    return args;
}

// Parses a reel's soundtrack options as the command will, without running
// it: a bad value fails the manifest before any reel runs.
Status checkReelValues(const Reel& reel) {
    CLI::App app;
    // kept: the parser writes into the options the command holds
    const Command command = addSoundtrackCommand(app);
    std::vector<std::string> args = soundtrackArguments(reel);
    args.insert(args.end(), {"-o", "checked.wav"});
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return Status::failure("Manifest line " + std::to_string(reel.line) + ": " + e.what() +
                               ".");
    }
    return {};
}

// A scans folder that holds the output folder would gain files: refused.
Status checkOutputOutsideScans(const Reel& reel, const fs::path& output) {
    std::error_code ec;
    if (!fs::exists(reel.scans, ec)) {
        return {}; // missing scans fail their own reel
    }
    const fs::path scans = fs::is_directory(reel.scans, ec) ? reel.scans : reel.scans.parent_path();
    const fs::path scansFolder = fs::weakly_canonical(scans, ec);
    const fs::path outputFolder = fs::weakly_canonical(output, ec);
    const auto [inScans, inOutput] = std::mismatch(scansFolder.begin(), scansFolder.end(),
                                                   outputFolder.begin(), outputFolder.end());
    if (inScans == scansFolder.end()) {
        return Status::failure("The output folder " + output.string() +
                               " is inside the scans folder " + scans.string() + " of line " +
                               std::to_string(reel.line) +
                               "; the batch writes nothing among the scans.");
    }
    return {};
}

// The whole manifest, read and checked; kExitOk or why not, said on `err`.
int readReels(const BatchOptions& o, std::vector<Reel>& reels, std::string& text,
              std::ostream& err) {
    Result<std::string> read = batch::readSmallFile(o.manifest, batch::kManifestBytesMax);
    Result<std::vector<Reel>> manifest =
        read ? batch::readManifest(*read, o.manifest.parent_path(),
                                   commandOptions(addSoundtrackCommand), kBatchSetOptions)
             : Result<std::vector<Reel>>(read.status());
    Status checked = manifest.status();
    for (std::size_t i = 0; checked && i < manifest->size(); ++i) {
        checked = checkReelValues((*manifest)[i]);
        if (checked) {
            checked = checkOutputOutsideScans((*manifest)[i], o.output);
        }
    }
    if (checked && o.index && (*o.index < 0 || *o.index >= static_cast<int>(manifest->size()))) {
        checked = Status::failure("--index " + std::to_string(*o.index) + ": the manifest has " +
                                  std::to_string(manifest->size()) + " reels, indexed from 0.");
    }
    if (!checked) {
        err << "veltrana: " << checked.message() << "\n";
        return kExitUsage;
    }
    reels = std::move(manifest).value();
    text = std::move(read).value();
    return kExitOk;
}

// The film command's arguments for a reel's movie: the options the film
// command shares with the soundtrack's, and with its sound those that go
// only beside --with-sound too.
std::vector<std::string> movieArguments(const Reel& reel, const batch::ReelJobPaths& paths,
                                        int threads) {
    const bool withSound = reel.movie == batch::ReelMovie::WithSound;
    const std::vector<batch::ManifestOption> film = commandOptions(addFilmCommand);
    std::vector<std::string> args = {
        "veltrana",           "film",      reel.scans.string(),    "-o",
        paths.movie.string(), "--threads", std::to_string(threads)};
    if (withSound) {
        args.emplace_back("--with-sound");
    }
    for (const batch::ReelOption& option : reel.options) {
        const auto taken =
            std::find_if(film.begin(), film.end(),
                         [&](const batch::ManifestOption& f) { return f.name == option.name; });
        if (taken != film.end() && (withSound || !taken->needsAnother)) {
            const std::vector<std::string> one = batch::optionArguments({option});
            args.insert(args.end(), one.begin(), one.end());
        }
    }
    return args;
}

// Runs a reel's jobs in-process, everything they say going to its log, and
// their progress bar to `bar` (a terminal) when there is one.
batch::ReelJobEnd runReelJobs(const Reel& reel, const batch::ReelJobPaths& paths, int threads,
                              const std::atomic<bool>* interrupt, std::ostream* bar) {
    std::ostringstream log;
    CommandIo io{log, log, bar != nullptr, interrupt, {}, bar};
    std::vector<std::string> args = soundtrackArguments(reel);
    args.insert(args.end(),
                {"-o", paths.sound.string(), "--report", paths.reportDir.string(), "--side-files",
                 paths.folder.string(), "--threads", std::to_string(threads)});
    int status = runVeltrana(args, io);
    if (status == kExitOk && !paths.movie.empty()) {
        status = runVeltrana(movieArguments(reel, paths, threads), io);
    }
    return {status, log.str()};
}

// "12.3 s"
std::string secondsText(double seconds) {
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << seconds << " s";
    return text.str();
}

// A progress line: when, which reel, what.
void progress(std::ostream& err, const Reel& reel, int index, const std::string& what) {
    err << "veltrana: " << nowText() << " reel " << reel.id << " (index " << index << "): " << what
        << "\n";
}

// One reel here, in this process; its exit status. A terminal shows its
// progress bar, unless other reels run beside it (--jobs), whose bars would
// share the line.
int runOneReel(const BatchOptions& o, const Reel& reel, int index, CommandIo& io) {
    if (!o.quiet) {
        progress(io.err, reel, index, "started");
    }
    std::ostream* bar = io.errIsTerminal && !o.quiet && o.jobs <= 1 ? &io.err : nullptr;
    const batch::ReelOutcome outcome = batch::runReel(
        reel, o.output, programVersion(), [&](const Reel& r, const batch::ReelJobPaths& paths) {
            return runReelJobs(r, paths, o.threads, io.interrupt, bar);
        });
    switch (outcome.end) {
    case batch::ReelEnd::Done:
    case batch::ReelEnd::DoneEarlier:
        if (!o.quiet) {
            progress(io.err, reel, index,
                     outcome.end == batch::ReelEnd::Done
                         ? "done in " + secondsText(outcome.record.seconds)
                         : std::string("done earlier"));
        }
        return kExitOk;
    case batch::ReelEnd::Failed:
    case batch::ReelEnd::Busy:
        break;
    }
    progress(io.err, reel, index, "failed: " + outcome.message);
    return kExitFailed;
}

// Starts this program on reel `index`; the child's process id, or -1.
pid_t spawnReel(const BatchOptions& o, const fs::path& program, int index, int threads) {
    // --jobs tells the reel whether others run beside it (no progress bar)
    std::vector<std::string> args = {
        program.string(),        "batch",   o.manifest.string(),   "-o",
        o.output.string(),       "--index", std::to_string(index), "--threads",
        std::to_string(threads), "--jobs",  std::to_string(o.jobs)};
    // the reel says itself how it went ("done earlier", its failure's sentence)
    if (o.quiet) {
        args.emplace_back("--quiet");
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

// Every reel, each in a process of its own, --jobs at a time.
int runReelProcesses(const BatchOptions& o, const std::vector<Reel>& reels, const fs::path& program,
                     CommandIo& io) {
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const int threads = o.threads > 0 ? o.threads : std::max(1, cores / o.jobs);
    std::map<pid_t, int> running; // process -> reel index
    int status = kExitOk;
    std::size_t next = 0;
    while (next < reels.size() || !running.empty()) {
        if (next < reels.size() && static_cast<int>(running.size()) < o.jobs) {
            const int index = static_cast<int>(next++);
            const pid_t pid = spawnReel(o, program, index, threads);
            if (pid < 0) {
                progress(io.err, reels[index], index, "failed: the program could not be started");
                status = kExitFailed;
            } else {
                running[pid] = index;
            }
            continue;
        }
        int wstatus = 0;
        const pid_t pid = ::waitpid(-1, &wstatus, 0);
        const auto found = running.find(pid);
        if (found == running.end()) {
            continue;
        }
        const int index = found->second;
        running.erase(found);
        const bool ok = WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == kExitOk;
        if (!ok) {
            status = kExitFailed;
        }
        // a reel that ended by itself said so; one that was killed could not
        if (!WIFEXITED(wstatus)) {
            progress(io.err, reels[index], index, "failed: its process was killed (see its log)");
        }
    }
    return status;
}

int writeSummary(const BatchOptions& o, const std::vector<Reel>& reels, CommandIo& io) {
    const std::vector<batch::SummaryRow> rows = batch::summaryRows(reels, o.output);
    Status written =
        writeSideFile(o.output / "batch-summary.csv", batch::summaryCsv(rows), "the batch summary");
    if (written) {
        written = writeSideFile(o.output / "batch-summary.html", batch::summaryHtml(rows),
                                "the batch summary");
    }
    if (!written) {
        io.err << "veltrana: " << written.message() << "\n";
        return kExitFailed;
    }
    const std::string failed = batch::failedIndexes(rows);
    io.out << "Summary: " << (o.output / "batch-summary.csv").string() << "\n";
    if (!failed.empty()) {
        io.out << "Reels not done: --array=" << failed << "\n";
    }
    return kExitOk;
}

int runBatch(const BatchOptions& o, CommandIo& io) {
    std::vector<Reel> reels;
    std::string manifestText;
    if (const int read = readReels(o, reels, manifestText, io.err); read != kExitOk) {
        return read;
    }
    std::error_code ec;
    fs::create_directories(o.output, ec);
    if (!fs::is_directory(o.output, ec)) {
        io.err << "veltrana: Cannot write into " << o.output.string() << ": it is no folder.\n";
        return kExitFailed;
    }
    const std::string digest =
        md5Hex(std::as_bytes(std::span(manifestText.data(), manifestText.size())));
    const Result<batch::HeldLock> lock = batch::lockForManifest(o.output, digest);
    if (!lock) {
        io.err << "veltrana: " << lock.message() << "\n";
        return kExitFailed;
    }
    int status = kExitOk;
    if (o.index) {
        status = runOneReel(o, reels[*o.index], *o.index, io);
    } else if (!io.program.empty()) {
        status = runReelProcesses(o, reels, io.program, io);
    } else {
        for (std::size_t i = 0; i < reels.size(); ++i) {
            status = std::max(status, runOneReel(o, reels[i], static_cast<int>(i), io));
        }
    }
    if (o.summary) {
        status = std::max(status, writeSummary(o, reels, io));
    }
    return status;
}

} // namespace

Command addBatchCommand(CLI::App& app) {
    auto options = std::make_shared<BatchOptions>();
    CLI::App* command = app.add_subcommand(
        "batch", "Make the soundtracks of many reels listed in a manifest, each into a folder "
                 "of its own: its sound with its MD5, its join positions, run report, log and "
                 "record");
    command
        ->add_option("manifest", options->manifest,
                     "The manifest: JSON Lines, one reel a line, {\"id\": \"reel-1\", \"scans\": "
                     "\"folder\"} and any long option of veltrana soundtrack without its dashes")
        ->required()
        ->check(CLI::ExistingFile);
    command->add_option("-o,--output", options->output, "The folder of the reels' folders")
        ->required();
    command
        ->add_option("--index", options->index,
                     "Run only the reel on this line of the manifest, counted from 0 (a "
                     "scheduler's array task)")
        ->check(CLI::NonNegativeNumber);
    command
        ->add_option("--jobs", options->jobs,
                     "Reels made at once (default: 1); a terminal shows the progress bar of a reel "
                     "made alone")
        ->capture_default_str()
        ->check(CLI::Range(1, 256));
    command
        ->add_option("--threads", options->threads,
                     "Frames worked on at once in each reel (default: the cores shared "
                     "among the jobs)")
        ->check(CLI::Range(0, 1024));
    command->add_flag("--summary", options->summary,
                      "Write batch-summary.csv and batch-summary.html into the output folder "
                      "and print the indexes of the reels not done, as --array= takes them");
    command->add_flag("-q,--quiet", options->quiet,
                      "No line as each reel starts and ends; failures are still reported");
    return {command, [options](CommandIo& io) { return runBatch(*options, io); }};
}

} // namespace veltrana::cli
