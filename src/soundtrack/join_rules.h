#pragma once
// The rules every join search shares, stated once: where a coarse search
// starts to look and how far a fine step reaches, as shares of the previous
// frame's rows (join_search.h says what a join position is). The standard
// searches, the precise one and the archival join choice read them here.

#include "geometry/film_standard.h"

namespace veltrana {

// The guard, the shortest join a coarse step considers: consecutive scans
// overlap by less than half a frame. findJoinPosition and the precise search
// keep the first share, findJoinPositionFromSamples the second; a 16 mm long
// strip, four frames to a scan, keeps the third in every search.
inline constexpr double kJoinGuardShare = 0.52;
inline constexpr double kSampleJoinGuardShare = 0.48;
inline constexpr double kLongStripJoinGuardShare = 0.82;

constexpr double joinGuardShare(double searchShare, SoundtrackType type, bool longStrip) {
    return isLongStrip16(type, longStrip) ? kLongStripJoinGuardShare : searchShare;
}

// The standard fine step's window, which is also as far as it can move the
// coarse position; a 16 mm long strip's is half as wide.
inline constexpr double kFineWindowShare = 0.024;
inline constexpr double kLongStripFineWindowShare = 0.012;

constexpr double fineWindowShare(SoundtrackType type, bool longStrip) {
    return isLongStrip16(type, longStrip) ? kLongStripFineWindowShare : kFineWindowShare;
}

} // namespace veltrana
