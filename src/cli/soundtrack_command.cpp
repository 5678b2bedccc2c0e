#include "cli/command.h"
#include "cli/job_command.h"
#include "cli/options.h"
#include "cli/sound_options.h"
#include "soundtrack/soundtrack_job.h"

#include <algorithm>
#include <memory>
#include <ostream>

namespace veltrana::cli {

namespace {

struct SoundtrackOptions {
    JobOptions job;
    std::string fps = "25";
    SoundOptions sound;
    bool fullAperture = false;
    std::string onUnreadable = "stop";
    // empty: leng.txt and the diagnostics beside the scans
    std::filesystem::path sideFiles;
};

// What a run wrote, on the output stream.
void printWritten(const SoundtrackResult& result, CommandIo& io) {
    if (!result.wavPath.empty()) {
        io.out << "Sound: " << result.wavPath.string() << " (" << result.sampleCount << " samples, "
               << result.bitsPerSample << "-bit mono at " << result.sampleRate << " Hz"
               << (result.broadcastWave ? ", Broadcast WAV" : "") << ")\n";
    }
    if (!result.joinsPath.empty()) {
        io.out << "Join report: " << result.joinsPath.string() << "\n";
    }
    if (!result.lengthsPath.empty()) {
        io.out << "Join positions: " << result.lengthsPath.string() << "\n";
    }
}

int runSoundtrack(const SoundtrackOptions& o, CommandIo& io) {
    FolderLocks locks;
    if (const int refused = checkBeforeRun(o.job, "the sound", o.sideFiles.empty(), locks, io);
        refused != kExitOk) {
        return refused;
    }
    SoundtrackJob job;
    static_cast<ScanRunSettings&>(job) = scanRunSettings(o.job, io.interrupt);
    MemoryBudget budget(memoryBudgetBytes(o.job));
    job.memoryBudget = &budget;
    job.outputPath = o.job.output;
    job.sideFilesFolder = o.sideFiles;
    job.onUnreadable = o.onUnreadable == "silence" ? UnreadableScan::Silence : UnreadableScan::Stop;
    static_cast<SoundSettings&>(job) = soundSettingsOf(o.sound, filmSpeedOf(o.fps));
    job.fullAperture = o.fullAperture;
    std::vector<RunSetting> settings = soundtrackReportSettings(job, o.job.dpi);

    SoundtrackResult result;
    const auto run = [&](JobObserver& observer) {
        job.observer = &observer;
        result = runSoundtrackJob(job);
        return static_cast<JobEnding>(result);
    };
    const auto finished = [&] {
        if (o.job.quiet) {
            // -q silences progress, not what was written
            for (const std::string& warning : result.warnings) {
                io.err << "veltrana: warning: " << warning << "\n";
            }
        } else {
            printWritten(result, io);
        }
        return soundtrackWritten(result);
    };
    return runJobCommand(o.job,
                         {RunKind::Soundtrack, std::move(settings), job.startFrame, job.stopFrame},
                         io, run, finished);
}

} // namespace

Command addSoundtrackCommand(CLI::App& app) {
    auto options = std::make_shared<SoundtrackOptions>();
    CLI::App* command = app.add_subcommand(
        "soundtrack", "Make soundtrack: read the optical soundtrack of a range of frame scans "
                      "into an 8-bit mono WAV file, with leng.txt (the join positions) beside "
                      "the scans");
    addJobOptions(*command, options->job, "The WAV file to write");
    command
        ->add_option("--fps", options->fps,
                     "Film speed in frames per second, 16 to 60: whole (24), decimal (16.5) or a "
                     "fraction (24000/1001); 23.976, 29.97 and 59.94 are the 1000/1001 rates")
        ->capture_default_str()
        ->check(filmSpeedCheck());
    addSoundOptions(*command, options->sound, options->job);
    command->add_flag("--full-aperture", options->fullAperture,
                      "The scans hold the film's whole width (both perforation rows, its edges "
                      "and the dark gate beyond): each is read in the standard window found "
                      "beside the film's edge on the band's side, following the weave; a scan "
                      "without a film edge or a band there ends the run (default: off)");
    command
        ->add_option("--on-unreadable", options->onUnreadable,
                     "A scan that cannot be read: stop the run, or silence (its place holds "
                     "silence one frame pitch long, the joins beside it not searched, and the "
                     "log and the report list it); the first scan must be read either way")
        ->capture_default_str()
        ->check(CLI::IsMember({"stop", "silence"}));
    command
        ->add_option("--side-files", options->sideFiles,
                     "Folder for leng.txt and the diagnostics v.txt, z.txt and r.txt (default: "
                     "beside the scans)")
        ->check(CLI::ExistingDirectory);
    return {command, [options](CommandIo& io) { return runSoundtrack(*options, io); }};
}

} // namespace veltrana::cli
