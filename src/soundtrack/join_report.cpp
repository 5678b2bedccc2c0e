#include "soundtrack/join_report.h"

#include <cstdio>

namespace veltrana {
namespace {

// A number in rows as joins.csv writes it: to a thousandth.
std::string rowsField(double rows) {
    char value[32];
    std::snprintf(value, sizeof value, "%.3f", rows);
    return value;
}

} // namespace

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string field(1, '"');
    for (char c : text) {
        field.push_back(c);
        if (c == '"') {
            field.push_back('"');
        }
    }
    field.push_back('"');
    return field;
}

std::string joinReportText(std::span<const JoinRecord> joins, const FrameSequence& sequence,
                           const std::function<const char*(const JoinRecord&)>& methodName) {
    // frame, file, the standard join, the precise join, its score, the join
    // used and, for a join the precise search settled, its precision (one
    // standard deviation, rows)
    std::string text =
        "frame,file,standard_join,precise_join,score,method,join_used,precision_rows\n";
    char line[512];
    for (const JoinRecord& r : joins) {
        const std::string file =
            sequence.frames[static_cast<std::size_t>(r.frameNumber - 1)].filename().string();
        const std::string quoted = csvField(file);
        const std::string precise = r.precise.found ? rowsField(r.precise.position) : "";
        // a fallback, a join beside a lost frame, or a run without the
        // precise search, has no precision
        const bool unsure = isFallback(r.method) || r.method == JoinMethod::NotSearched;
        const std::string precision = unsure ? "" : rowsField(r.precise.precision);
        std::snprintf(line, sizeof line, "%d,%s,%d,%s,%.3f,%s,%.3f,%s\n", r.frameNumber,
                      quoted.c_str(), r.standardPosition, precise.c_str(), r.precise.score,
                      methodName(r), r.position, precision.c_str());
        text += line;
    }
    return text;
}

std::string broadcastDescription(const SoundOrigin& o) {
    char description[256];
    std::snprintf(description, sizeof description,
                  "Optical soundtrack, %s, scanned at %d x %d dpi, frames %d to %d, %s fps; "
                  "%s joins, %s levels",
                  filmStandardDescription(o.type), o.resolution.dpiX, o.resolution.dpiY,
                  o.startFrame, o.stopFrame, filmSpeedText(o.filmSpeed).c_str(), o.joins, o.levels);
    return description;
}

} // namespace veltrana
