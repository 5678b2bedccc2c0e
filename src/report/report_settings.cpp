#include "report/report_settings.h"

#include "job/film_speed.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace veltrana {

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

std::string trackSideDescription(TrackSide side) {
    switch (side) {
    case TrackSide::Top:
        break;
    case TrackSide::Bottom:
        return "the bottom edge (the film across the scans)";
    case TrackSide::Left:
        return "the left edge (the picture upright)";
    case TrackSide::Right:
        return "the right edge (the picture upright, scanned from the base side)";
    }
    return "the top edge (the film across the scans)";
}

std::string resolutionGiven(const ScanRunSettings& run) {
    if (!run.manualResolution) {
        return {};
    }
    const std::string x = std::to_string(run.resolutionX);
    return run.resolutionX == run.resolutionY ? x : x + ":" + std::to_string(run.resolutionY);
}

namespace {

std::string filmName(SoundtrackType type) {
    switch (type) {
    case SoundtrackType::VariableArea35:
        return "35 mm variable area (35va)";
    case SoundtrackType::VariableDensity35:
        return "35 mm variable density (35vd)";
    case SoundtrackType::VariableArea16:
        break;
    }
    return "16 mm variable area (16va)";
}

// The letter the colour element is asked for by.
std::string colorElementName(ColorElement element) {
    switch (element) {
    case ColorElement::B:
        return "B";
    case ColorElement::G:
        return "G";
    case ColorElement::R:
        break;
    case ColorElement::Y:
        return "Y";
    }
    return "R";
}

} // namespace

std::vector<RunSetting> scanReportSettings(const ScanRunSettings& run,
                                           const std::filesystem::path& output,
                                           std::string_view resolution) {
    std::vector<RunSetting> settings;
    settings.push_back({"Program", std::string("veltrana ") + VELTRANA_VERSION});
    // whole paths: the report may be read far from where the run was started
    std::error_code ec;
    settings.push_back({"Scans", std::filesystem::absolute(run.inputPath, ec).string()});
    settings.push_back({"Output", std::filesystem::absolute(output, ec).string()});
    settings.push_back(
        {"Frames", std::to_string(run.startFrame) + " to " + std::to_string(run.stopFrame)});
    settings.push_back({"Film", filmName(run.soundtrackType)});
    settings.push_back({"Long strip", yesNo(run.longStrip)});
    settings.push_back({"Resolution", resolution.empty()
                                          ? std::string("measured on the first frame")
                                          : std::string(resolution) + " dpi, as given"});
    settings.push_back({"Film runs the other way through the scans", yesNo(run.inverse)});
    settings.push_back({"Soundtrack along", trackSideDescription(run.trackSide)});
    char megapixels[32];
    std::snprintf(megapixels, sizeof megapixels, "%g", run.scanLimits.maxMegapixels);
    settings.push_back({"Largest scan read", std::string(megapixels) + " megapixels"});
    settings.push_back({"Scans read at once", run.threads == 0 ? std::string("one per core")
                                                               : std::to_string(run.threads)});
    return settings;
}

std::vector<RunSetting> soundReportSettings(const SoundSettings& s) {
    std::vector<RunSetting> settings;
    settings.push_back({"Film speed", filmSpeedText(s.filmSpeed) + " frames per second"});
    settings.push_back({"Colour element read", colorElementName(s.colorElement)});
    settings.push_back({"Mean level of each frame removed", yesNo(s.removeDc)});
    settings.push_back({"Crossfade at the joins", yesNo(s.crossfade)});
    settings.push_back({"Band cut by analysis", yesNo(s.cutByAnalysis)});
    settings.push_back({"Joins", s.preciseJoins ? "precise" : "standard"});
    settings.push_back(
        {"Levels", s.archivalLevels ? "archival (without steps at the joins)" : "standard"});
    settings.push_back({"Bits per sample", std::to_string(s.bitsPerSample)});
    settings.push_back({"Sample rate", s.outputRate == 0 ? std::string("the film's rate")
                                                         : std::to_string(s.outputRate) + " Hz"});
    return settings;
}

std::vector<RunSetting> soundtrackReportSettings(const SoundtrackJob& job,
                                                 std::string_view resolution) {
    std::vector<RunSetting> settings = scanReportSettings(job, job.outputPath, resolution);
    std::vector<RunSetting> sound = soundReportSettings(job);
    // full-aperture scans are the soundtrack job's alone: listed beside the band's cut
    const auto cut = std::find_if(sound.begin(), sound.end(), [](const RunSetting& setting) {
        return setting.label == "Band cut by analysis";
    });
    sound.insert(cut == sound.end() ? cut : cut + 1,
                 {"Full-aperture scans", yesNo(job.fullAperture)});
    settings.insert(settings.end(), sound.begin(), sound.end());
    settings.push_back({"On an unreadable scan",
                        job.onUnreadable == UnreadableScan::Silence ? "silence" : "stop"});
    return settings;
}

std::vector<RunSetting> filmReportSettings(const FilmJob& job, std::string_view resolution) {
    std::vector<RunSetting> settings = scanReportSettings(job, job.outputPath, resolution);
    settings.push_back({"Soundtrack band cut off", yesNo(job.cutSoundtrack)});
    if (job.withSound) {
        const std::vector<RunSetting> heard = soundReportSettings(job.withSound->sound);
        settings.insert(settings.end(), heard.begin(), heard.end());
        settings.push_back({"Sound advance", std::to_string(job.withSound->advance) + " frames"});
    }
    return settings;
}

} // namespace veltrana
