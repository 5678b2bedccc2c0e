#include "geometry/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace veltrana {

namespace {
std::atomic<bool> traceOn{false};
// the capture of the calling thread, if one is open
thread_local std::string* capturedLines = nullptr;
} // namespace

void setTraceEnabled(bool enabled) {
    traceOn.store(enabled, std::memory_order_relaxed);
}

bool traceEnabled() {
    return traceOn.load(std::memory_order_relaxed);
}

void trace(const char* format, ...) {
    if (!traceEnabled()) {
        return;
    }
    va_list args;
    va_start(args, format);
    if (capturedLines != nullptr) {
        va_list measure;
        va_copy(measure, args);
        const int length = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        if (length > 0) {
            const std::size_t at = capturedLines->size();
            capturedLines->resize(at + static_cast<std::size_t>(length) + 1);
            std::vsnprintf(capturedLines->data() + at, static_cast<std::size_t>(length) + 1, format,
                           args);
            capturedLines->resize(at + static_cast<std::size_t>(length));
        }
    } else {
        std::vprintf(format, args);
    }
    va_end(args);
}

void printTrace(const std::string& lines) {
    if (traceEnabled() && !lines.empty()) {
        std::fwrite(lines.data(), 1, lines.size(), stdout);
    }
}

TraceCapture::TraceCapture() : outer(capturedLines) {
    capturedLines = &lines;
}

TraceCapture::~TraceCapture() {
    capturedLines = outer;
}

std::string TraceCapture::take() {
    std::string taken;
    taken.swap(lines);
    return taken;
}

} // namespace veltrana
