#pragma once
// Developer trace lines on standard output.
//
// The measuring code explains each of its decisions with a short printf-style
// line ("frameCorrection x=12", "x=23 y=204", ...). They are for whoever tunes
// the measurements, not for the user: the desktop program prints them, the
// command line keeps them off unless asked. The switch is the only state here
// and it is process-wide on purpose: a trace belongs to the process's stdout.

#include <string>

namespace veltrana {

// Turns the trace lines on or off (off at start).
void setTraceEnabled(bool enabled);
bool traceEnabled();

// printf-style; prints nothing while tracing is off.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Keeps the trace lines of the calling thread while it lives instead of
// printing them. Frames measured ahead on other threads keep their lines
// this way, and the thread that reports the frames in order prints them
// with printTrace: the trace reads as if the frames had been measured one
// after another.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // The lines kept so far; the capture starts afresh.
    std::string take();

private:
    std::string lines;
    std::string* outer;
};

// Prints captured lines (nothing while tracing is off).
void printTrace(const std::string& lines);

} // namespace veltrana
