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
// - Correlations are zero-mean normalised (Pearson), -1..1.
// - Precisions are one standard deviation, in rows.
//
// The search runs in named steps (precise_join.cpp):
// Every profile is compared through a low-pass that keeps what the film
// shows the same wherever it lies between rows (comparedProfile).
// 1. Whole shift. Every band of ArchivalFrame is correlated with the other
//    frame's at every allowed shift over all the rows they share; their
//    agreement (each band's evidence capped, so that no single band, a
//    repeating tone on the track say, outvotes the others) picks the shift.
// 2. Each band's peak near it: the band is matched again within
//    kBandSearchReach rows with a fixed stretch of the current frame (the
//    overlap's ends move with the shift, a fixed template does not), the
//    peak refined by a parabola, then on windowed-sinc shifted profiles a
//    tenth of a row apart. Its variance is the larger of what the peak's
//    height and curvature allow and what its two halves' disagreement says.
// 3. Across the film: the bands beside the track are read at the track's
//    column, along a weighted line where the advance differs across the
//    width (a photographed or warped frame), else as their weighted mean.
// 4. The track: its own peak near that reading joins it, weighted by the
//    inverse variances, when the two agree; when they do not, the track
//    decides if it is the more precise and not far off; else, or without a
//    good peak on the track, the reading stands.
// 5. When no band gives a trustworthy fraction but the whole shift stands
//    out, the best band's fraction is used and the join is loose.
// Whether the whole shift can be trusted is for the caller to judge
// (chooseJoin in archival_stream.h): the search reports how clearly it stood
// out and how well the track agreed.

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

// A join whose precision is no better than this (one standard deviation,
// rows) is loose: the frames overlap there, but its fraction is unsure.
inline constexpr double kLoosePrecisionRows = 0.25;

// Rows around the common whole shift in which each band looks for its peak.
inline constexpr int kBandSearchReach = 10;

// Fewest rows of overlap a shift must leave to be considered.
inline constexpr int kMinOverlapRows = 24;

struct PreciseJoin {
    double position = 0; // the join (fractional); the best whole shift when not found
    // how far the frames are taken to share film, -1..1 (see kWeakJoinScore)
    double score = 0;
    // A position was settled: by the bands (precisely, or loosely when
    // `loose`), or at least the whole shift stood out.
    bool found = false;
    bool loose = false; // its fraction is unsure (precision above kLoosePrecisionRows)
    // One standard deviation of the position, rows (0 when not found).
    double precision = 0;
    SearchBand band = SearchBand::Track; // the band nearest the track that set the position
    bool trackUsed = false;              // the track's own peak took part
    int wholeShift = 0;                  // the whole shift the bands agreed on
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
