#pragma once
// The log of a job: at most six lines in the box.
//
// Before a line is added, a count of six empties the text; the line and
// "\r\n" are appended and the whole text replaces the box's content. So the
// seventh line starts a fresh text holding only itself.

#include "geometry/film_standard.h"
#include "job/observer.h"

#include <string>
#include <string_view>

namespace veltrana {

class JobLog {
public:
    explicit JobLog(JobObserver& observer) : observer(observer) {}

    // Adds a line by the six-line rule.
    void addLine(std::string_view line);
    // Adds a line by the rule without counting it (the closing line of a run).
    void addUncountedLine(std::string_view line);
    // Replaces everything with one message (an error end); the count is kept.
    void replaceWith(std::string_view message);

    const std::string& text() const { return logText; }

    static constexpr int kMaxLines = 6;

private:
    void append(std::string_view line);

    JobObserver& observer;
    std::string logText;
    int lineCount = 0;
};

// The colour depth both jobs measure scans at: the standard reading brings
// every scan to 8 bits per channel (reading/scan_reader.h).
inline constexpr int kColourDepth = 8;

// The line both jobs log when the first frame has settled the resolution:
// "Picture resolution (dpi) x=...,y=... and color depth=8".
std::string resolutionLine(ScanResolution resolution);

// Both jobs end a run that broke off on an unexpected error (out of memory,
// an exception from the image library) with this, followed by the reason.
inline constexpr const char* kRunBrokeOff = "The run ended on an error: ";
inline constexpr const char* kUnknownError = "unknown error";

} // namespace veltrana
