#pragma once
// Scans rendered by `veltrana synth` lie beside their truth.json, which says
// the film speed they were rendered at. Read at another speed, their sound
// plays fast or slow; the run says so, since the two commands' defaults
// differ (the renderer's 24, the reader's 25).

#include "job/film_speed.h"
#include "job/run_notes.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace veltrana {

// The film speed a rendered truth file gives: nothing when the text is no
// renderer's truth or gives no speed from 16 to 60 frames per second.
std::optional<FilmSpeed> renderedFilmSpeedOf(std::string_view truthText);

// The same, for the truth.json in `directory`, when there is one of at most
// a few megabytes.
std::optional<FilmSpeed> renderedFilmSpeed(const std::filesystem::path& directory);

// report.json's name for the warning below.
inline constexpr const char* kFilmSpeedWarning = "speed";

// The warning when scans rendered at `rendered` are read at `reading`,
// naming the option that reads them at their speed; nothing when they agree.
std::optional<RunWarning> filmSpeedWarning(const FilmSpeed& rendered, const FilmSpeed& reading);

} // namespace veltrana
