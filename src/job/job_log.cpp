#include "job/job_log.h"

#include <cstdio>

namespace veltrana {

void JobLog::append(std::string_view line) {
    logText.append(line);
    logText.append("\r\n");
    observer.setLogText(logText);
}

void JobLog::addLine(std::string_view line) {
    if (lineCount == kMaxLines) {
        logText.clear();
        lineCount = 0;
    }
    ++lineCount;
    append(line);
}

void JobLog::addUncountedLine(std::string_view line) {
    if (lineCount == kMaxLines) {
        logText.clear();
        lineCount = 0;
    }
    append(line);
}

void JobLog::replaceWith(std::string_view message) {
    logText.assign(message);
    observer.setLogText(logText);
}

std::string resolutionLine(ScanResolution r) {
    char line[160];
    std::snprintf(line, sizeof line, "Picture resolution (dpi) x=%d,y=%d and color depth=%d",
                  r.dpiX, r.dpiY, kColourDepth);
    return line;
}

} // namespace veltrana
