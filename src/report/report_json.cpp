#include "report/report_json.h"

#include "job/md5.h"

#include <cmath>
#include <cstdio>

namespace veltrana {

namespace {

// A JSON string: quotes, backslashes and control characters escaped; the
// bytes otherwise as they are (the texts are UTF-8 already).
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    // joins of thousands of rows keep their fraction
    if (std::abs(value) >= 1000) {
        std::snprintf(text, sizeof text, "%.3f", value);
        std::string s = text;
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.') {
            s.pop_back();
        }
        return s;
    }
    return text;
}

template <typename T> std::string numberOr(const std::optional<T>& value) {
    return value ? number(static_cast<double>(*value)) : std::string("null");
}

// "Film speed" gives "film_speed".
std::string settingKey(const std::string& label) {
    std::string key;
    for (const char c : label) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!key.empty() && key.back() != '_') {
            key += '_';
        }
    }
    while (!key.empty() && key.back() == '_') {
        key.pop_back();
    }
    return key;
}

std::string frameJson(const FrameNumbers& n) {
    std::string out = "{\"frame\": " + std::to_string(n.frame) + ", \"file\": " + quoted(n.file) +
                      ", \"trim\": {\"left\": " + std::to_string(n.bounds.left) +
                      ", \"right\": " + std::to_string(n.bounds.right) + "}, \"band\": ";
    out += n.band ? "{\"first\": " + std::to_string(n.band->first) +
                        ", \"last\": " + std::to_string(n.band->last) + "}"
                  : std::string("null");
    out += ", \"join\": ";
    out += n.join
               ? "{\"used\": " + number(*n.join) + ", \"standard\": " + numberOr(n.standardJoin) +
                     ", \"precise\": " + numberOr(n.preciseJoin) + "}"
               : std::string("null");
    out += ", \"score\": " + numberOr(n.score) + ", \"correlation\": " + numberOr(n.correlation) +
           ", \"overlap_rms\": " + (n.join ? number(n.overlapRms) : std::string("null")) +
           ", \"flags\": [";
    for (std::size_t i = 0; i < n.flags.size(); ++i) {
        out += (i == 0 ? "" : ", ") + std::string("{\"flag\": ") +
               quoted(joinFlagName(n.flags[i].kind)) +
               ", \"reason\": " + quoted(n.flags[i].reason) + "}";
    }
    return out + "]}";
}

// Each lost frame with the joins beside it that were not searched.
std::string lostFramesJson(const RunRecord& run) {
    std::string out = "[";
    for (std::size_t i = 0; i < run.lostFrames.size(); ++i) {
        const LostFrame& f = run.lostFrames[i];
        out += (i == 0 ? "\n    " : ",\n    ") + std::string("{\"frame\": ") +
               std::to_string(f.frame) + ", \"file\": " + quoted(f.file) +
               ", \"cause\": " + quoted(f.cause) + ", \"joins_not_searched\": [";
        for (std::size_t j = 0; j < f.joinsNotSearched.size(); ++j) {
            out += (j == 0 ? "" : ", ") + std::to_string(f.joinsNotSearched[j]);
        }
        out += "]}";
    }
    return out + (run.lostFrames.empty() ? "]" : "\n  ]");
}

std::string outputsJson(const RunRecord& run) {
    std::string out = "[";
    for (std::size_t i = 0; i < run.end.outputs.size(); ++i) {
        const Result<std::string> md5 = fileMd5(run.end.outputs[i]);
        out += (i == 0 ? "\n    " : ",\n    ") + std::string("{\"path\": ") +
               quoted(run.end.outputs[i].string()) +
               ", \"md5\": " + (md5 ? quoted(*md5) : std::string("null")) + "}";
    }
    return out + (run.end.outputs.empty() ? "]" : "\n  ]");
}

} // namespace

Result<std::string> fileMd5(const std::filesystem::path& file) {
    return md5HexOfFile(file);
}

std::string reportJson(const RunRecord& run) {
    std::string out =
        "{\n  \"program\": " + quoted(std::string("veltrana ") + VELTRANA_VERSION) +
        ",\n  \"job\": " + quoted(run.kind == RunKind::Soundtrack ? "soundtrack" : "film") +
        ",\n  \"ended\": " + quoted(run.end.endName) +
        ",\n  \"message\": " + quoted(run.end.ending) +
        ",\n  \"first\": " + std::to_string(run.firstFrame) +
        ",\n  \"last\": " + std::to_string(run.lastFrame) + ",\n  \"resolution\": ";
    out += run.resolution ? "{\"x\": " + std::to_string(run.resolution->dpiX) +
                                ", \"y\": " + std::to_string(run.resolution->dpiY) + "}"
                          : std::string("null");
    out += ",\n  \"settings\": {";
    for (std::size_t i = 0; i < run.settings.size(); ++i) {
        out += (i == 0 ? "\n    " : ",\n    ") + quoted(settingKey(run.settings[i].label)) + ": " +
               quoted(run.settings[i].value);
    }
    out += "\n  },\n  \"frames\": [";
    for (std::size_t i = 0; i < run.frames.size(); ++i) {
        out += (i == 0 ? "\n    " : ",\n    ") + frameJson(run.frames[i]);
    }
    out += run.frames.empty() ? "],\n  \"warnings\": [" : "\n  ],\n  \"warnings\": [";
    for (std::size_t i = 0; i < run.warnings.size(); ++i) {
        out += (i == 0 ? "\n    " : ",\n    ") + std::string("{\"warning\": ") +
               quoted(run.warnings[i].kind) + ", \"reason\": " + quoted(run.warnings[i].reason) +
               "}";
    }
    out += run.warnings.empty() ? "]" : "\n  ]";
    return out + ",\n  \"lost_frames\": " + lostFramesJson(run) +
           ",\n  \"outputs\": " + outputsJson(run) + "\n}\n";
}

} // namespace veltrana
