#pragma once
// The precise join search: where consecutive frames join, to a fraction of a
// row, from the overlap of their working images rather than from their
// samples alone.
//
// Conventions for this header:
// - A join position means what the standard one means (join_search.h): the
//   row of the previous frame that shows the same film as row 0 of the
//   current frame. Here it is fractional; rows are 0-based.
// - Only the shifts that the standard coarse step allows are searched: from
//   its guard (join_rules.h) to the last shift that leaves kMinOverlapRows
//   rows of overlap.
// - Correlations are zero-mean normalised (Pearson), -1..1, over the rows the
//   two frames share.
//
// The bands of ArchivalFrame are registered separately. Together they choose
// the whole shift (each band's evidence capped, so that no single band, a
// repeating tone on the track say, outvotes the others); then each band finds
// its own peak within kBandSearchReach rows of it (on warped or photographed
// film the advance differs across the width by a few rows), refined to a
// fraction of a row on windowed-sinc shifted profiles. The track's own peak
// sets the position when it is precise; otherwise the nearest band that is
// (a silent track has a high but broad peak). Precision is judged by
// splitting the overlap in two halves and comparing the positions they give,
// never by the peak height alone. Whether the whole shift can be trusted is
// for the caller to judge (chooseJoin in archival_stream.h): the search
// reports how clearly it stood out and how well the track agreed.

#include "soundtrack/archival_frame.h"

#include <array>

namespace veltrana {

// Below this score a found join is weak: the standard search is used instead.
// The score is the track's own correlation when the track carries shaped
// sound (frame lines, perforations and slowly changing pictures agree on
// frames that share no film at all; only the sound tells them apart), else
// the mean of the other shaped bands. Chosen from bench_archival on renders
// of every film type with fall-off, weave, fractional starts and noise: at
// true joins the track correlated 0.67 or more (0.86 or more unless a
// broadband sound was clipped by the cut), on frames two apart, which share
// no film, a sound that does not repeat correlated 0.28 at most. A steady
// tone repeats and matches anywhere; a silent track cannot tell.
inline constexpr double kWeakJoinScore = 0.4;

// A band settles the fraction only when the two halves of the overlap put
// the join within twice this distance of each other (rows).
inline constexpr double kMaxJoinSpreadRows = 0.1;

// When no band is that precise, the band whose halves agree best settles it,
// if they agree within twice this distance (rows): a short overlap (a 16 mm
// long strip shares about 60 rows) or a smooth silent track leaves halves
// too short to agree to a tenth of a row, yet far closer than a whole row.
inline constexpr double kMaxLooseSpreadRows = 0.5;

// Rows around the common whole shift in which each band looks for its peak.
inline constexpr int kBandSearchReach = 10;

// Fewest rows of overlap a shift must leave to be considered.
inline constexpr int kMinOverlapRows = 24;

struct PreciseJoin {
    double position = 0; // the join (fractional); the best whole shift when not found
    // how far the frames are taken to share film, -1..1 (see kWeakJoinScore)
    double score = 0;
    bool found = false;                  // a band settled the position
    SearchBand band = SearchBand::Track; // the band whose correlation set the position
    int wholeShift = 0;                  // the whole shift the bands agreed on
    double spread = 0;                   // half the difference of the two halves' positions, rows
    int bandsUsed = 0;                   // bands that showed structure in the overlap
    // each band's peak correlation near the whole shift; kNoBandScore for a
    // band without structure there (or missing)
    std::array<double, kSearchBandCount> bandScores{};
    // Whether the track carries shaped sound in the overlap: then the score
    // is the track's own correlation.
    bool trackSounds = false;
    // The mean peak correlation of the other bands with structure (0 when none).
    double otherBandsScore = 0;
    // The best whole shift more than kBandSearchReach rows from wholeShift
    // (-1 when there is none), and its evidence as a share of the chosen
    // shift's: near 1 when two shifts fit about equally well (perforations
    // and a steady tone repeat), low when the chosen one stands out.
    int runnerUpShift = -1;
    double runnerUpShare = 0;
};

inline constexpr double kNoBandScore = -2.0;

// The search for the join of (previous, current). Independent of every other
// pair: the job may run the searches of a run in parallel.
PreciseJoin findPreciseJoin(const ArchivalFrame& previous, const ArchivalFrame& current,
                            SoundtrackType type, bool longStrip);

// Not found, or found with a score below kWeakJoinScore.
inline bool isWeak(const PreciseJoin& join) {
    return !join.found || join.score < kWeakJoinScore;
}

} // namespace veltrana
