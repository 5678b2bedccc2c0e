#pragma once
// What the band read looks like across the track, to tell a soundtrack from
// the picture or the film's edge read by mistake (a wrong rotation, track
// side or film type).
//
// Conventions for this header: a strip as soundtrack/strip.h cuts it, 8-bit,
// one channel, its rows along the film and its columns across the band.
//
// A variable-area track reads, across, as dark, clear and dark again in
// nearly every row: the clear area of its modulation lies between the dark
// print on both sides, however loud or silent the sound. A variable-density
// track is even across: the density varies along the film only, so a row's
// pixels stay near the row's mean. A picture does neither: its shapes change
// tone gradually across the band, or fill it, and vary across as they vary
// along.
//
// Along the film a track runs on across the frame lines; a picture stops at
// each one. The frame line reads as a bar along the film: tens of rows at the
// band's darkest (or brightest) level, entered and left within a row or two.
// Sound does not draw that: a tone slow enough to stay near its peak for
// that long comes and goes slowly, and one fast enough to step sharply stays
// near its peak a few rows only.

#include "geometry/film_standard.h"

#include <opencv2/core.hpp>

#include <optional>
#include <span>

namespace veltrana {

struct BandShape {
    // the darkest and brightest levels of the band: its 2nd and 98th
    // percentiles (8-bit steps)
    int dark = 0;
    int clear = 0;
    // the share of rows that read dark, then clear, then dark again across
    double enclosedShare = 0;
    // the root mean square of the pixels about their row's mean (8-bit steps)
    double acrossRms = 0;
    // the sharpest bar along the film: the least of its two edges' steps,
    // as a share of the contrast; 0 when there is none (bandBar)
    double alongBar = 0;
};

// The shape of a strip; all zero for an empty one. The bar along the film is
// looked for when the frame pitch (rows) is given.
BandShape bandShape(const cv::Mat& strip, int framePitch = 0);

// A bar along the film is at least this share of the frame pitch long (and
// kLeastBarRows): a frame line is 5 % of it and more.
inline constexpr double kLeastBarShare = 0.035;
inline constexpr int kLeastBarRows = 12;
// Its edges are read this many rows beyond its ends: the scanner's blur is a
// pixel or two at any resolution, so a frame line has stepped by then, where
// sound that stays near one level for the bar's length moves a few steps.
inline constexpr int kBarEdgeRows = 3;
// A bar's rows lie within this share of the contrast of its extreme level.
inline constexpr double kBarLevelShare = 0.25;

// The bar along the film of a band's row means (rows along the film), its
// dark and clear levels given: among the runs of rows within kBarLevelShare
// of the dark (or the clear) level, at least kLeastBarShare of the pitch
// long and kBarEdgeRows from either end, the greatest of the lesser step at
// its two edges, as a share of the contrast; 0 when there is none.
double bandBar(std::span<const double> rowMeans, int dark, int clear, int framePitch);

// A band whose clear and dark levels lie closer than this (8-bit steps) is
// blank or evenly grey: no variable-area track, and too flat to judge as a
// variable-density one.
inline constexpr int kLeastShapeContrast = 24;

// A variable-area band reads dark, clear, dark across in at least this share
// of its rows. Rendered tracks read right read so in 96 % of their rows and
// more, grain, blur and weave included; the picture or the film's edge, read
// by a wrong rotation, track side or film type, in 30 % at most.
inline constexpr double kLeastEnclosedShare = 0.5;

// A variable-density band's pixels stay this close to their row's mean
// (root mean square, as a share of the band's contrast). Rendered tracks read
// right stay within 0.07 (their silent passages, where grain is most of the
// contrast); a variable-area track or the film's edge lies 0.15 and more
// away. (A picture smooth across the band can look even: then its frame
// line gives it away, a bar along the film.)
inline constexpr double kMostAcrossShare = 0.12;

// A variable-density band whose bar along the film steps by this share of
// its contrast at both edges shows a frame line: the picture. Rendered
// tracks read right (every signal, silent passages, sync marks, grain,
// blur, weave and uneven light, 600 to 2400 dpi) step 0.21 at most; their
// pictures read by a wrong rotation 0.45 and more.
inline constexpr double kMostAlongBar = 0.3;

// Whether a frame's band looks like a track of the type; absent when a
// variable-density band shows too little contrast to say. A variable-area
// band with too little contrast is not a track: its dark print and clear
// area lie kLeastShapeContrast apart and more, silent or loud.
std::optional<bool> looksLikeTrack(const BandShape& shape, SoundtrackType type);

} // namespace veltrana
