#pragma once
// The settings of a run as its report lists them, taken from the settings
// the jobs themselves take, so that the command line and the desktop program
// list the same run in the same words.

#include "movie/film_job.h"
#include "report/run_report.h"
#include "soundtrack/soundtrack_job.h"

#include <string>
#include <string_view>
#include <vector>

namespace veltrana {

// "yes" or "no".
std::string yesNo(bool value);

// Where the band lies, as a run report says it.
std::string trackSideDescription(TrackSide side);

// A manual resolution as given ("1200" or "1200:2400"); empty when measured.
std::string resolutionGiven(const ScanRunSettings& run);

// What both jobs share; `resolution` is a manual resolution as it was given
// (resolutionGiven), empty when it is measured on the first frame.
std::vector<RunSetting> scanReportSettings(const ScanRunSettings& run,
                                           const std::filesystem::path& output,
                                           std::string_view resolution);

// How the soundtrack is read and written.
std::vector<RunSetting> soundReportSettings(const SoundSettings& sound);

// Every setting of a soundtrack run, and of a film run.
std::vector<RunSetting> soundtrackReportSettings(const SoundtrackJob& job,
                                                 std::string_view resolution);
std::vector<RunSetting> filmReportSettings(const FilmJob& job, std::string_view resolution);

} // namespace veltrana
