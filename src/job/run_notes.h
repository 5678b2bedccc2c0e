#pragma once
// What a run says about what it read beside its outputs: flags on single
// joins and warnings about the whole run. Both front ends show them (the
// log, the desktop's marks, the run report and report.json); they never
// change an output or the exit status.

#include <string>

namespace veltrana {

enum class JoinFlagKind {
    Weak,      // the frames' readings do not agree at the join
    OffPitch,  // the join lies off the scanner's advance
    AtEdge,    // the search's peak lay at the edge of what it searched
    Disagreed, // the standard and the precise searches disagree
};

struct JoinFlag {
    JoinFlagKind kind = JoinFlagKind::Weak;
    std::string reason; // "correlation 0.21 at the join"
};

// "weak", "off-pitch", "search-edge", "disagreement": report.json's names.
const char* joinFlagName(JoinFlagKind kind);

// A warning about the whole run; `kind` is report.json's name for it
// ("band", "band-width", "speed").
struct RunWarning {
    std::string kind;
    std::string reason; // one sentence, as the log shows it
};

} // namespace veltrana
