#include "cli/command.h"
#include "cli/job_command.h"
#include "cli/options.h"
#include "soundtrack/soundtrack_job.h"

#include <memory>
#include <ostream>

namespace veltrana::cli {

namespace {

struct SoundtrackOptions {
    JobOptions job;
    std::string fps = "25";
    std::string rotation = "up";
    std::string channel = "R";
    bool noDc = false;
    bool noCrossfade = false;
    bool cutByAnalysis = false;
    // archival sound; the empty values follow --archival
    bool archival = false;
    std::string join;
    int bits = 0;
    std::string rate;
    std::string onUnreadable = "stop";
    // empty: leng.txt and the diagnostics beside the scans
    std::filesystem::path sideFiles;
};

// What --archival, --join, --bits and --rate ask for, each given value
// overriding --archival's choice.
void setDelivery(const SoundtrackOptions& o, SoundtrackJob& job) {
    job.archivalLevels = o.archival;
    job.preciseJoins = o.join.empty() ? o.archival : o.join == "precise";
    const SoundFormat preset = o.archival ? kArchivalSoundFormat : SoundFormat{};
    job.bitsPerSample = o.bits != 0 ? o.bits : preset.bitsPerSample;
    const std::string presetRate =
        preset.outputRate == 0 ? std::string("film") : std::to_string(preset.outputRate);
    const std::string rate = o.rate.empty() ? presetRate : o.rate;
    job.outputRate = rate == "film" ? 0 : std::stoi(rate);
    job.filmRateRequired = o.rate == "film";
}

// What the run report lists of a soundtrack run's settings.
std::vector<RunSetting> soundtrackSettings(const SoundtrackOptions& o, const SoundtrackJob& job) {
    std::vector<RunSetting> settings = jobSettings(o.job, job.stopFrame);
    settings.push_back({"Film speed", filmSpeedText(job.filmSpeed) + " frames per second"});
    settings.push_back({"Rotation", job.rotationUp ? "up (band along the top edge of the scan)"
                                                   : "down (band along the bottom edge)"});
    settings.push_back({"Colour element read", o.channel});
    settings.push_back({"Mean level of each frame removed", yesNo(job.removeDc)});
    settings.push_back({"Crossfade at the joins", yesNo(job.crossfade)});
    settings.push_back({"Band cut by analysis", yesNo(job.cutByAnalysis)});
    settings.push_back({"Joins", job.preciseJoins ? "precise" : "standard"});
    settings.push_back(
        {"Levels", job.archivalLevels ? "archival (without steps at the joins)" : "standard"});
    settings.push_back({"Bits per sample", std::to_string(job.bitsPerSample)});
    settings.push_back({"Sample rate", job.outputRate == 0
                                           ? std::string("the film's rate")
                                           : std::to_string(job.outputRate) + " Hz"});
    settings.push_back({"On an unreadable scan", o.onUnreadable});
    return settings;
}

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
    job.filmSpeed = parseFilmSpeed(o.fps).value_or(FilmSpeed{});
    job.colorElement = colorElementFromName(o.channel.front()).value_or(ColorElement::R);
    job.crossfade = !o.noCrossfade;
    job.removeDc = !o.noDc;
    job.cutByAnalysis = o.cutByAnalysis;
    job.rotationUp = o.rotation == "up";
    job.onUnreadable = o.onUnreadable == "silence" ? UnreadableScan::Silence : UnreadableScan::Stop;
    setDelivery(o, job);

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
        RunWritten written;
        written.done = "The sound was written to " + result.wavPath.string() + " (" +
                       std::to_string(result.sampleCount) + " samples at " +
                       std::to_string(result.sampleRate) + " Hz).";
        written.sound = result.wavPath;
        for (const auto& path : {result.wavPath, result.joinsPath, result.lengthsPath}) {
            if (!path.empty()) {
                written.outputs.push_back(path);
            }
        }
        return written;
    };
    return runJobCommand(
        o.job, {RunKind::Soundtrack, soundtrackSettings(o, job), job.startFrame, job.stopFrame}, io,
        run, finished);
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
        ->check(
            [](const std::string& text) -> std::string {
                return parseFilmSpeed(text) ? std::string()
                                            : "\"" + text +
                                                  "\" is no film speed from 16 to 60 frames per "
                                                  "second";
            },
            "FPS");
    command
        ->add_option("--rotation", options->rotation,
                     "Frame rotation: up (soundtrack band along the top edge of the scan) or "
                     "down (along the bottom edge)")
        ->capture_default_str()
        ->check(CLI::IsMember({"up", "down"}));
    command
        ->add_option("--channel", options->channel,
                     "Image colour element read as sound: B, G, R or Y (luminance)")
        ->capture_default_str()
        ->check(CLI::IsMember({"B", "G", "R", "Y"}));
    command->add_flag("--no-dc", options->noDc,
                      "Keep each frame's mean level (default: removed, -DC)");
    command->add_flag("--no-crossfade", options->noCrossfade,
                      "Join frames without a crossfade (default: crossfade)");
    command->add_flag("--cut-by-analysis", options->cutByAnalysis,
                      "Cut the band from the strongest brightening at the frame's border and "
                      "match frames on their samples (default: off)");
    command->add_flag("--archival", options->archival,
                      "Archival sound: precise joins, levels without steps at the joins, 24-bit "
                      "48 kHz Broadcast WAV, and joins.csv beside it (default: off)");
    command
        ->add_option("--join", options->join,
                     "How frames are joined: standard, or precise (registered on the scans' "
                     "overlap to a fraction of a row); default: precise with --archival")
        ->check(CLI::IsMember({"standard", "precise"}));
    command
        ->add_option("--bits", options->bits,
                     "Bits per sample: 8, 16 or 24 (default: 8, or 24 with --archival)")
        ->check(CLI::IsMember({8, 16, 24}));
    command
        ->add_option("--rate", options->rate,
                     "Sample rate: film (film speed x frame pitch), 44100, 48000 or 96000 "
                     "(default: film, or 48000 with --archival or where the film's rate is no "
                     "whole number; asked for by name, such a rate is refused)")
        ->check(CLI::IsMember({"film", "44100", "48000", "96000"}));
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
