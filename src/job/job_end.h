#pragma once
// How a run of either job ends: one vocabulary for both.

#include <string>
#include <utility>

namespace veltrana {

enum class JobEnd {
    Finished,            // every output written
    Stopped,             // a stop was asked for: nothing written
    UnreadableFrame,     // a scan could not be read: nothing written
    Refused,             // the settings cannot give an output (range, resolution): nothing written
    OutputNotWritten,    // the sound or the movie cannot or could not be written; an old file
                         // stays as it was
    SideFilesNotWritten, // the sound was written, but the join report or "leng.txt" was not
    Error,               // broke off on an unexpected error (out of memory, ...): nothing written
    UsageRefused,        // what was asked for cannot be had from these scans (the film's own rate
                         // where it is no whole number): nothing written; a usage error
};

// How report.json names an end: "finished", "stopped", "unreadable-frame",
// "refused", "output-not-written", "side-files-not-written", "error",
// "usage-refused".
constexpr const char* jobEndName(JobEnd end) {
    switch (end) {
    case JobEnd::Finished:
        return "finished";
    case JobEnd::Stopped:
        return "stopped";
    case JobEnd::UnreadableFrame:
        return "unreadable-frame";
    case JobEnd::Refused:
        return "refused";
    case JobEnd::OutputNotWritten:
        return "output-not-written";
    case JobEnd::SideFilesNotWritten:
        return "side-files-not-written";
    case JobEnd::Error:
        return "error";
    case JobEnd::UsageRefused:
        return "usage-refused";
    }
    return "error";
}

// How a run ended, and for every end but Finished what went wrong. Each
// job's result adds what it wrote. A step of a run that ends it returns one;
// a step that lets the run go on returns none (std::optional<JobEnding>).
struct JobEnding {
    JobEnd end = JobEnd::Finished;
    std::string message;
    bool succeeded() const { return end == JobEnd::Finished; }
};

// A job's result (a JobEnding with what the job wrote) for a run that ended
// with nothing written.
template <typename JobResult> JobResult resultOf(JobEnding ending) {
    JobResult result;
    static_cast<JobEnding&>(result) = std::move(ending);
    return result;
}

} // namespace veltrana
