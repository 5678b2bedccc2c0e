#include "job/rendered_speed.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// The renderer's truth files are a few kilobytes; anything much larger is
// not one, and is not read.
constexpr std::uintmax_t kLargestTruthFile = 4 << 20;

// "4.2 %": how much faster or slower the sound plays, to one decimal.
std::string percentText(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", std::abs(ratio - 1) * 100);
    return text;
}

} // namespace

std::optional<FilmSpeed> renderedFilmSpeedOf(std::string_view truthText) {
    const nlohmann::json truth = nlohmann::json::parse(truthText, nullptr, false);
    if (!truth.is_object() || truth.value("format", nlohmann::json()) != "veltrana-synth-truth") {
        return std::nullopt;
    }
    const auto options = truth.find("options");
    if (options == truth.end() || !options->is_object()) {
        return std::nullopt;
    }
    const auto fps = options->find("fps");
    if (fps == options->end() || !fps->is_number_integer()) {
        return std::nullopt;
    }
    const auto perSecond = fps->get<long long>();
    if (perSecond < kSlowestFilmSpeed || perSecond > kFastestFilmSpeed) {
        return std::nullopt;
    }
    return FilmSpeed(static_cast<int>(perSecond));
}

std::optional<FilmSpeed> renderedFilmSpeed(const fs::path& directory) {
    const fs::path truthFile = directory / "truth.json";
    std::error_code error;
    if (!fs::is_regular_file(truthFile, error) ||
        fs::file_size(truthFile, error) > kLargestTruthFile || error) {
        return std::nullopt;
    }
    std::ifstream in(truthFile, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof()) {
        return std::nullopt;
    }
    return renderedFilmSpeedOf(text);
}

std::optional<RunWarning> filmSpeedWarning(const FilmSpeed& rendered, const FilmSpeed& reading) {
    if (rendered == reading) {
        return std::nullopt;
    }
    const double ratio = reading.perSecond() / rendered.perSecond();
    const std::string renderedText = filmSpeedText(rendered);
    return RunWarning{kFilmSpeedWarning, "The scans were rendered at " + renderedText +
                                             " fps (truth.json beside them) but are read at " +
                                             filmSpeedText(reading) +
                                             " fps, so their sound plays " + percentText(ratio) +
                                             (ratio > 1 ? " fast" : " slow") +
                                             ": read them with --fps " + renderedText + "."};
}

} // namespace veltrana
