#include "geometry/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace veltrana {

namespace {
std::atomic<bool> traceOn{false};
}

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
    std::vprintf(format, args);
    va_end(args);
}

} // namespace veltrana
