#pragma once
// What archival sound says of itself beside its samples: the join report
// (joins.csv, one line per join) and the Broadcast WAV's description.

#include "geometry/film_standard.h"
#include "job/film_speed.h"
#include "job/frame_sequence.h"
#include "soundtrack/archival_stream.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace veltrana {

// A CSV field: a text with a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string csvField(std::string_view text);

// joins.csv: a header line, then per join its frame, the frame's file, the
// standard join, the precise join (empty when none was found), its score,
// the method (as `methodName` names it), the join used and its precision
// (one standard deviation in rows; empty for a fallback to the standard join,
// which is every join of a run without the precise search).
std::string joinReportText(std::span<const JoinRecord> joins, const FrameSequence& sequence,
                           const std::function<const char*(const JoinRecord&)>& methodName);

// What a run's sound is, for the Broadcast WAV's description.
struct SoundOrigin {
    SoundtrackType type = SoundtrackType::VariableArea35;
    ScanResolution resolution;
    int startFrame = 1;
    int stopFrame = 1;
    FilmSpeed filmSpeed = 25;
    const char* joins = "standard";  // "standard" or "precise"
    const char* levels = "standard"; // "standard" or "archival"
};

// "Optical soundtrack, 35 mm variable area, scanned at 1200 x 1200 dpi,
// frames 1 to 10, 25 fps; precise joins, archival levels".
std::string broadcastDescription(const SoundOrigin& origin);

} // namespace veltrana
