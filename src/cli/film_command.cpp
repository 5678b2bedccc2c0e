#include "cli/command.h"
#include "cli/job_command.h"
#include "cli/options.h"
#include "movie/film_job.h"

#include <algorithm>
#include <memory>
#include <ostream>

namespace veltrana::cli {

namespace {

struct FilmOptions {
    JobOptions job;
    bool cutSoundtrack = false;
};

int runFilm(const FilmOptions& o, CommandIo& io) {
    FolderLocks locks;
    if (const int refused = checkBeforeRun(o.job, "the movie", false, locks, io);
        refused != kExitOk) {
        return refused;
    }
    FilmJob job;
    static_cast<ScanRunSettings&>(job) = scanRunSettings(o.job, io.interrupt);
    MemoryBudget budget(memoryBudgetBytes(o.job));
    job.memoryBudget = &budget;
    job.cutSoundtrack = o.cutSoundtrack;
    job.outputPath = o.job.output;

    std::vector<RunSetting> settings = jobSettings(o.job, job.stopFrame);
    settings.push_back({"Soundtrack band cut off", yesNo(o.cutSoundtrack)});
    FilmResult result;
    const auto run = [&](JobObserver& observer) {
        job.observer = &observer;
        result = makeFilm(job);
        return static_cast<JobEnding>(result);
    };
    const auto finished = [&] {
        if (result.succeeded() && !o.job.quiet) {
            io.out << "Movie: " << result.moviePath.string() << " (" << result.movieFrames
                   << " frames, 640 x 480 DIVX at 24 fps)\n";
        }
        RunWritten written;
        written.done = "The movie was written to " + result.moviePath.string() + " (" +
                       std::to_string(result.movieFrames) + " frames).";
        if (result.succeeded()) {
            written.outputs.push_back(result.moviePath);
        }
        return written;
    };
    return runJobCommand(o.job, {RunKind::Film, std::move(settings), job.startFrame, job.stopFrame},
                         io, run, finished);
}

} // namespace

Command addFilmCommand(CLI::App& app) {
    auto options = std::make_shared<FilmOptions>();
    CLI::App* command = app.add_subcommand(
        "film", "Make film: cut one frame from each scan of a range (four from a 16 mm long "
                "strip) and write them as a 640 x 480 DIVX AVI movie at 24 fps");
    addJobOptions(*command, options->job,
                  "The movie to write: AVI data, whatever the extension (written to a "
                  "temporary file beside it and renamed when complete)");
    command->add_flag("--cut-soundtrack", options->cutSoundtrack,
                      "Cut only the picture, without the soundtrack band (default: off, the "
                      "whole width of the film)");
    return {command, [options](CommandIo& io) { return runFilm(*options, io); }};
}

} // namespace veltrana::cli
