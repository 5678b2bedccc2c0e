#pragma once
// What a run says about what it read beside its outputs: flags on single
// joins and warnings about the whole run. Both front ends show them (the
// log, the desktop's marks, the run report and report.json); they never
// change an output or the exit status.

#include <string>
#include <vector>

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
// ("band", "joins", "band-width", "frames-lost", "speed").
struct RunWarning {
    std::string kind;
    std::string reason; // one sentence, as the log shows it
};

// A frame whose scan could not be read, in a run told to go on past it
// (--on-unreadable silence): its place holds silence one nominal frame pitch
// long, and the joins beside it were not searched.
struct LostFrame {
    int frame = 0;
    std::string file;  // the scan's file name
    std::string cause; // why it could not be read, one sentence
    // the joins not searched, each named by the later frame of its pair
    // (where that frame joins the one before): this frame's and the next's
    std::vector<int> joinsNotSearched;
};

} // namespace veltrana
