#include "job/run_notes.h"

namespace veltrana {

const char* joinFlagName(JoinFlagKind kind) {
    switch (kind) {
    case JoinFlagKind::Weak:
        return "weak";
    case JoinFlagKind::OffPitch:
        return "off-pitch";
    case JoinFlagKind::AtEdge:
        return "search-edge";
    case JoinFlagKind::Disagreed:
        return "disagreement";
    }
    return "weak";
}

} // namespace veltrana
