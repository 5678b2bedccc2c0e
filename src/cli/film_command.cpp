#include "cli/command.h"
#include "cli/job_command.h"
#include "cli/options.h"
#include "cli/sound_options.h"
#include "movie/film_job.h"
#include "movie/sound_movie.h"

#include <algorithm>
#include <memory>
#include <ostream>

namespace veltrana::cli {

namespace {

struct FilmOptions {
    JobOptions job;
    bool cutSoundtrack = false;
    // the movie with its sound
    bool withSound = false;
    SoundOptions sound;
    std::string fps = "24";
    int advance = -1; // -1: the film's own
    std::filesystem::path soundOutput;
};

// The movie's sound as the options ask for it, or why the movie's name
// cannot take it.
Result<FilmSound> filmSoundOf(const FilmOptions& o, SoundtrackType type) {
    const Result<MovieContainer> container = movieContainerOf(o.job.output);
    if (!container) {
        return container.status();
    }
    FilmSound sound;
    const FilmSpeed speed = filmSpeedOf(o.fps);
    sound.sound = soundSettingsOf(o.sound, speed);
    sound.container = *container;
    sound.pictureRate = FrameRate{speed.numerator, speed.denominator};
    sound.advance = o.advance >= 0 ? o.advance : defaultSoundAdvance(type);
    sound.wavPath = o.soundOutput;
    return sound;
}

// What a run wrote, on the output stream.
void printWritten(const FilmOptions& o, const FilmResult& result, CommandIo& io) {
    if (!o.withSound) {
        io.out << "Movie: " << result.moviePath.string() << " (" << result.movieFrames
               << " frames, 640 x 480 DIVX at 24 fps)\n";
        return;
    }
    const Result<MovieContainer> container = movieContainerOf(result.moviePath);
    io.out << "Movie: " << result.moviePath.string() << " (" << result.movieFrames
           << " frames, 640 x 480 " << movieCodecsName(container ? *container : MovieContainer::Avi)
           << " at " << filmSpeedText(filmSpeedOf(o.fps)) << " fps, " << result.soundSamples
           << " sound samples at " << result.sampleRate << " Hz)\n";
    if (!result.wavPath.empty()) {
        io.out << "Sound: " << result.wavPath.string() << "\n";
    }
}

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
    if (o.withSound) {
        Result<FilmSound> sound = filmSoundOf(o, job.soundtrackType);
        if (!sound) {
            io.err << "veltrana: " << sound.message() << "\n";
            return kExitUsage;
        }
        job.withSound = std::move(sound).value();
    }
    std::vector<RunSetting> settings = filmReportSettings(job, o.job.dpi);
    FilmResult result;
    const auto run = [&](JobObserver& observer) {
        job.observer = &observer;
        result = makeFilm(job);
        return static_cast<JobEnding>(result);
    };
    const auto finished = [&] {
        if (result.succeeded() && !o.job.quiet) {
            printWritten(o, result, io);
        }
        return filmWritten(result);
    };
    return runJobCommand(o.job, {RunKind::Film, std::move(settings), job.startFrame, job.stopFrame},
                         io, run, finished);
}

// --with-sound and the options that go only with it.
void addSoundMovieOptions(CLI::App& command, FilmOptions& o) {
    CLI::Option* withSound = command.add_flag(
        "--with-sound", o.withSound,
        "Put the soundtrack of the same scans into the movie, delayed by the sound advance; "
        "the container by the name of -o: .avi (DIVX with PCM), .mp4 (H.264 with AAC) or .mkv "
        "(FFV1 with FLAC)");
    std::vector<CLI::Option*> needing = addSoundOptions(command, o.sound, o.job);
    needing.push_back(command
                          .add_option("--fps", o.fps,
                                      "Pictures per second of a movie with sound, the film "
                                      "speed from 16 to 60: whole (24), decimal (16.5) or a "
                                      "fraction (24000/1001) (default 24; the silent movie is "
                                      "always 24)")
                          ->check(filmSpeedCheck()));
    needing.push_back(command
                          .add_option("--advance", o.advance,
                                      "Frames the sound is printed ahead of its picture (default "
                                      "20 on 35 mm, 26 on 16 mm; 0 for none)")
                          ->check(CLI::NonNegativeNumber));
    needing.push_back(command.add_option("--sound-output", o.soundOutput,
                                         "Also write the soundtrack as the soundtrack command "
                                         "would, to this WAV file"));
    for (CLI::Option* option : needing) {
        option->needs(withSound);
    }
}

} // namespace

Command addFilmCommand(CLI::App& app) {
    auto options = std::make_shared<FilmOptions>();
    CLI::App* command = app.add_subcommand(
        "film", "Make film: cut one frame from each scan of a range (four from a 16 mm long "
                "strip) and write them as a 640 x 480 DIVX AVI movie at 24 fps, or with "
                "--with-sound as a movie with its soundtrack");
    addJobOptions(*command, options->job,
                  "The movie to write: AVI data, whatever the extension (written to a "
                  "temporary file beside it and renamed when complete); with --with-sound "
                  "a .avi, .mp4 or .mkv file");
    command->add_flag("--cut-soundtrack", options->cutSoundtrack,
                      "Cut only the picture, without the soundtrack band (default: off, the "
                      "whole width of the film)");
    addSoundMovieOptions(*command, *options);
    return {command, [options](CommandIo& io) { return runFilm(*options, io); }};
}

} // namespace veltrana::cli
