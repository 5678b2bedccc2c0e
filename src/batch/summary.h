#pragma once
// The batch summary: one row per reel of the manifest, from each reel's
// record and run report, as CSV and as a page linking each reel's report;
// and the failed reels' indexes as a scheduler's --array= takes them.

#include "batch/manifest.h"

#include <filesystem>
#include <string>
#include <vector>

namespace veltrana::batch {

struct SummaryRow {
    std::string id;
    std::string status; // "done", "failed", or "not run" (no record)
    int frames = 0;
    int framesLost = 0;
    double soundSeconds = 0;
    int weakJoins = 0;
    int fallbackJoins = 0;
    std::string wavMd5;
    double seconds = 0; // time taken
};

// The rows of `reels`, as their folders in `outputFolder` are now.
std::vector<SummaryRow> summaryRows(const std::vector<Reel>& reels,
                                    const std::filesystem::path& outputFolder);

std::string summaryCsv(const std::vector<SummaryRow>& rows);
std::string summaryHtml(const std::vector<SummaryRow>& rows);

// The indexes (from 0) of the rows not done, as "1,4-6"; empty when none.
std::string failedIndexes(const std::vector<SummaryRow>& rows);

} // namespace veltrana::batch
