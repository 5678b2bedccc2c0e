#include "cli/sound_options.h"

namespace veltrana::cli {

std::vector<CLI::Option*> addSoundOptions(CLI::App& command, SoundOptions& o, JobOptions& job) {
    std::vector<CLI::Option*> added;
    // the name the band's side had before upright scans: up is top, down bottom
    added.push_back(command
                        .add_option("--rotation", job.track,
                                    "Frame rotation, as --track: up (top) or down (bottom)")
                        ->check(CLI::IsMember({"up", "down"}))
                        ->excludes("--track"));
    added.push_back(command
                        .add_option("--channel", o.channel,
                                    "Image colour element read as sound: B, G, R or Y "
                                    "(luminance)")
                        ->capture_default_str()
                        ->check(CLI::IsMember({"B", "G", "R", "Y"})));
    added.push_back(command.add_flag("--no-dc", o.noDc,
                                     "Keep each frame's mean level (default: removed, -DC)"));
    added.push_back(command.add_flag("--no-crossfade", o.noCrossfade,
                                     "Join frames without a crossfade (default: crossfade)"));
    added.push_back(command.add_flag("--cut-by-analysis", o.cutByAnalysis,
                                     "Cut the band from the strongest brightening at the frame's "
                                     "border and match frames on their samples (default: off)"));
    added.push_back(command.add_flag(
        "--archival", o.archival,
        "Archival sound: precise joins, levels without steps at the joins, 24-bit 48 kHz "
        "Broadcast WAV, and joins.csv beside it (default: off)"));
    added.push_back(command
                        .add_option("--join", o.join,
                                    "How frames are joined: standard, or precise (registered on "
                                    "the scans' overlap to a fraction of a row); default: precise "
                                    "with --archival")
                        ->check(CLI::IsMember({"standard", "precise"})));
    added.push_back(
        command
            .add_option("--bits", o.bits,
                        "Bits per sample: 8, 16 or 24 (default: 8, or 24 with --archival)")
            ->check(CLI::IsMember({8, 16, 24})));
    added.push_back(command
                        .add_option("--rate", o.rate,
                                    "Sample rate: film (film speed x frame pitch), 44100, 48000 "
                                    "or 96000 (default: film, or 48000 with --archival or where "
                                    "the film's rate is no whole number; asked for by name, such "
                                    "a rate is refused)")
                        ->check(CLI::IsMember({"film", "44100", "48000", "96000"})));
    return added;
}

CLI::Validator filmSpeedCheck() {
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            return parseFilmSpeed(text)
                       ? std::string()
                       : "\"" + text + "\" is no film speed from 16 to 60 frames per second";
        },
        "FPS");
}

FilmSpeed filmSpeedOf(const std::string& fps) {
    return parseFilmSpeed(fps).value_or(FilmSpeed{});
}

SoundSettings soundSettingsOf(const SoundOptions& o, const FilmSpeed& filmSpeed) {
    SoundSettings s;
    s.filmSpeed = filmSpeed;
    s.colorElement = colorElementFromName(o.channel.front()).value_or(ColorElement::R);
    s.crossfade = !o.noCrossfade;
    s.removeDc = !o.noDc;
    s.cutByAnalysis = o.cutByAnalysis;
    s.archivalLevels = o.archival;
    s.preciseJoins = o.join.empty() ? o.archival : o.join == "precise";
    const SoundFormat preset = o.archival ? kArchivalSoundFormat : SoundFormat{};
    s.bitsPerSample = o.bits != 0 ? o.bits : preset.bitsPerSample;
    const std::string presetRate =
        preset.outputRate == 0 ? std::string("film") : std::to_string(preset.outputRate);
    const std::string rate = o.rate.empty() ? presetRate : o.rate;
    s.outputRate = rate == "film" ? 0 : std::stoi(rate);
    s.filmRateRequired = o.rate == "film";
    return s;
}

} // namespace veltrana::cli
