#pragma once
// A reel's record, ID.json in the reel's folder: how its last run ended and
// what it read and wrote, so that a later run (or an audit) can tell whether
// the reel is done and still whole.

#include "base/status.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrana::batch {

struct RecordedInput {
    std::string name; // the scan's file name
    std::uintmax_t size = 0;
    std::string mtime; // "2026-12-07T10:00:00Z"
    std::string md5;   // with "fixity": true only, else empty
    bool operator==(const RecordedInput&) const = default;
};

struct RecordedOutput {
    std::string name; // in the reel's folder
    std::string md5;
    bool operator==(const RecordedOutput&) const = default;
};

struct ReelRecord {
    std::string id;
    std::string status = "failed"; // "done" or "failed"
    int exitStatus = 1;
    std::string message;
    std::string settingsJson = "{}"; // the manifest line's keys but "id"
    std::string version;
    std::vector<RecordedInput> inputs;
    std::vector<RecordedOutput> outputs;
    int frames = 0;
    int framesLost = 0;
    std::string started;
    double seconds = 0;
};

// The record as ID.json holds it.
std::string recordJson(const ReelRecord& record);

// A record read back; fails with one sentence when the text is none.
Result<ReelRecord> readRecord(std::string_view text);

} // namespace veltrana::batch
