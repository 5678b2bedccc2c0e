#include "batch/summary.h"

#include "batch/reel_report.h"
#include "batch/reel_run.h"

#include <cstdio>

namespace veltrana::batch {

namespace fs = std::filesystem;

namespace {

std::string fixed(double value, int decimals) {
    char text[64] = {};
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// An id is letters, digits, '.', '_' and '-' (manifest.h): safe in CSV and
// HTML as it is. Statuses are the program's own words.
std::string csvRow(const SummaryRow& row) {
    return row.id + "," + row.status + "," + std::to_string(row.frames) + "," +
           std::to_string(row.framesLost) + "," + fixed(row.soundSeconds, 3) + "," +
           std::to_string(row.weakJoins) + "," + std::to_string(row.fallbackJoins) + "," +
           row.wavMd5 + "," + fixed(row.seconds, 1) + "\n";
}

std::string htmlRow(const SummaryRow& row) {
    const std::string cell = "</td><td>";
    return "<tr><td><a href=\"" + row.id + "/report/report.html\">" + row.id + "</a>" + cell +
           row.status + cell + std::to_string(row.frames) + cell + std::to_string(row.framesLost) +
           cell + fixed(row.soundSeconds, 3) + cell + std::to_string(row.weakJoins) + cell +
           std::to_string(row.fallbackJoins) + cell + "<code>" + row.wavMd5 + "</code>" + cell +
           fixed(row.seconds, 1) + "</td></tr>\n";
}

SummaryRow reelRow(const Reel& reel, const fs::path& outputFolder) {
    SummaryRow row;
    row.id = reel.id;
    const Result<ReelRecord> record = readReelRecord(outputFolder, reel.id);
    if (!record) {
        row.status = "not run";
        return row;
    }
    row.status = record->status;
    row.seconds = record->seconds;
    const fs::path folder = outputFolder / reel.id;
    const RunCounts counts = runCounts(folder / "report" / "report.json");
    row.frames = counts.frames;
    row.framesLost = record->framesLost;
    row.weakJoins = counts.weakJoins;
    row.fallbackJoins = counts.fallbackJoins;
    for (const RecordedOutput& output : record->outputs) {
        if (output.name == reel.id + ".wav") {
            row.wavMd5 = output.md5;
            row.soundSeconds = soundSeconds(folder / output.name);
        }
    }
    return row;
}

} // namespace

std::vector<SummaryRow> summaryRows(const std::vector<Reel>& reels, const fs::path& outputFolder) {
    std::vector<SummaryRow> rows;
    for (const Reel& reel : reels) {
        rows.push_back(reelRow(reel, outputFolder));
    }
    return rows;
}

std::string summaryCsv(const std::vector<SummaryRow>& rows) {
    std::string text = "id,status,frames,frames_lost,sound_seconds,weak_joins,fallback_joins,"
                       "wav_md5,seconds_taken\n";
    for (const SummaryRow& row : rows) {
        text += csvRow(row);
    }
    return text;
}

std::string summaryHtml(const std::vector<SummaryRow>& rows) {
    std::string text =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Batch summary</title>"
        "</head><body>\n<h1>Batch summary</h1>\n<table>\n<tr><th>Reel</th><th>Status</th>"
        "<th>Frames</th><th>Frames lost</th><th>Sound (s)</th><th>Weak joins</th>"
        "<th>Fallback joins</th><th>WAV MD5</th><th>Time taken (s)</th></tr>\n";
    for (const SummaryRow& row : rows) {
        text += htmlRow(row);
    }
    return text + "</table>\n</body></html>\n";
}

std::string failedIndexes(const std::vector<SummaryRow>& rows) {
    std::string text;
    std::size_t i = 0;
    while (i < rows.size()) {
        if (rows[i].status == "done") {
            ++i;
            continue;
        }
        std::size_t last = i;
        while (last + 1 < rows.size() && rows[last + 1].status != "done") {
            ++last;
        }
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(i);
        if (last > i) {
            text += '-';
            text += std::to_string(last);
        }
        i = last + 1;
    }
    return text;
}

} // namespace veltrana::batch
