#pragma once
// The standard streams of a process started with some of them closed
// (`veltrana ... 2>&-`).
//
// A closed descriptor 0, 1 or 2 is the lowest free number, so the next file
// the program opens would take it: an output's temporary file opened as
// descriptor 2 then receives every log line. Each program therefore fills
// the gaps with /dev/null first, before it opens anything else.

namespace veltrana {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. False
// when one stays closed (no /dev/null): the program must not go on then.
bool openClosedStandardStreams();

} // namespace veltrana
