#pragma once
// The standard streams of a process started with some of them closed
// (`veltrana ... 2>&-`).
//
// A closed descriptor 0, 1 or 2 is the lowest free number, so the next file
// the program opens would take it: an output's temporary file opened as
// descriptor 2 then receives every log line. Each program therefore fills
// the gaps with /dev/null first, before it opens anything else.

#include <ostream>

namespace veltrana {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. False
// when one stays closed (no /dev/null): the program must not go on then.
bool openClosedStandardStreams();

// The program's own stream to standard error; std::cerr itself then takes
// nothing further. The image library prints its own lines about a damaged
// scan to std::cerr ("imdecode_(''): can't read header: ..."), even under
// -q, while the job says what is wrong once, in the program's words. For a
// program's main(), before anything is read; the stream lasts as long as the
// program.
std::ostream& ownErrorStream();

} // namespace veltrana
