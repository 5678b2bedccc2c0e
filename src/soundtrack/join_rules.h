#pragma once
// The rules every join search shares, stated once: where a coarse search
// starts to look and how far a fine step reaches, as shares of the previous
// frame's rows (join_search.h says what a join position is).
//
// A 16 mm long strip holds four frames to a scan: a share of its rows is a
// quarter of that share of one frame's, so its guard is larger and its fine
// window narrower.

#include "geometry/film_standard.h"

namespace veltrana {

// The shortest join the standard coarse step considers (findJoinPosition):
// frames overlap by less than half their length. The precise search tries no
// shorter one either.
inline constexpr double kJoinGuardShare = 0.52;
// The same for the search on the samples alone (findJoinPositionFromSamples).
inline constexpr double kSampleJoinGuardShare = 0.48;
// Every search's guard on a 16 mm long strip.
inline constexpr double kLongStripJoinGuardShare = 0.82;

// The standard fine step's window, which is also as far as it can move the
// coarse position.
inline constexpr double kFineWindowShare = 0.024;
inline constexpr double kLongStripFineWindowShare = 0.012;

// The guard of a search whose own share is `share`, on this film.
constexpr double joinGuardShare(double share, SoundtrackType type, bool longStrip) {
    return isLongStrip16(type, longStrip) ? kLongStripJoinGuardShare : share;
}

// The fine window's share on this film.
constexpr double fineWindowShare(SoundtrackType type, bool longStrip) {
    return isLongStrip16(type, longStrip) ? kLongStripFineWindowShare : kFineWindowShare;
}

} // namespace veltrana
