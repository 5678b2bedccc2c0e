#pragma once
// Developer trace lines on standard output.
//
// The measuring code explains each of its decisions with a short printf-style
// line ("frameCorrection x=12", "x=23 y=204", ...). They are for whoever tunes
// the measurements, not for the user: the desktop program prints them, the
// command line keeps them off unless asked. The switch is the only state here
// and it is process-wide on purpose: a trace belongs to the process's stdout.

namespace veltrana {

// Turns the trace lines on or off (off at start).
void setTraceEnabled(bool enabled);
bool traceEnabled();

// printf-style; prints nothing while tracing is off.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace veltrana
