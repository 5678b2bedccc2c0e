#include "batch/reel_report.h"

#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <fstream>
#include <iterator>

namespace veltrana::batch {

namespace {

using nlohmann::json;

// A report is a few hundred bytes a frame.
constexpr std::uintmax_t kReportBytesMax = std::uintmax_t{1} << 30;

bool hasFlag(const json& frame, const char* name) {
    const auto flags = frame.find("flags");
    if (flags == frame.end() || !flags->is_array()) {
        return false;
    }
    for (const json& flag : *flags) {
        if (flag.is_object() && flag.value("flag", std::string()) == name) {
            return true;
        }
    }
    return false;
}

// A join settled by the standard search where the precise one was asked for.
bool fellBack(const json& frame, bool precise) {
    const auto join = frame.find("join");
    return precise && join != frame.end() && join->is_object() && join->contains("precise") &&
           (*join)["precise"].is_null();
}

} // namespace

RunCounts runCounts(const std::filesystem::path& reportJson) {
    RunCounts counts;
    const Result<std::string> text = readSmallFile(reportJson, kReportBytesMax);
    if (!text) {
        return counts;
    }
    const json report = json::parse(*text, nullptr, false);
    if (!report.is_object() || !report.contains("frames") || !report["frames"].is_array()) {
        return counts;
    }
    const json settings = report.value("settings", json::object());
    const bool precise = settings.is_object() && settings.value("joins", "") == "precise";
    for (const json& frame : report["frames"]) {
        if (!frame.is_object()) {
            continue;
        }
        ++counts.frames;
        counts.weakJoins += hasFlag(frame, "weak") ? 1 : 0;
        counts.fallbackJoins += fellBack(frame, precise) ? 1 : 0;
    }
    // the frames given silence in their place (--on-unreadable silence)
    const auto lost = report.find("lost_frames");
    if (lost != report.end() && lost->is_array()) {
        counts.framesLost = static_cast<int>(lost->size());
    }
    return counts;
}

double soundSeconds(const std::filesystem::path& wav) {
    SF_INFO info{};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return 0;
    }
    sf_close(file);
    return info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0;
}

Result<std::string> readSmallFile(const std::filesystem::path& file, std::uintmax_t maxBytes) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        return Status::failure("Cannot read " + file.string() + ": " + ec.message());
    }
    if (size > maxBytes) {
        return Status::failure("Cannot read " + file.string() + ": it is too large (" +
                               std::to_string(size) + " bytes)");
    }
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return Status::failure("Cannot read " + file.string());
    }
    return text;
}

} // namespace veltrana::batch
