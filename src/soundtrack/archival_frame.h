#pragma once
// What archival sound needs from one frame, read once from its scan.
//
// Conventions for this header:
// - Rows and columns are those of the working image, 0-based (orientation
//   and the mapping from scan to working image: geometry/scan.h). The scan
//   is read as it lies, without turning it. 8 bits per channel, one channel
//   or three (blue, green, red).
// - Column ranges are StripRange, inclusive (soundtrack/strip.h says why).
// - Every per-row array below has one entry per working-image row, entry 0
//   for row 0. Film that ran the other way through the scanner (the job's
//   `inverse`) is handled by reverseRows(), which reverses all of them.
// - Levels are in 8-bit units (one 8-bit step = 1.0) and are not rounded.

#include "geometry/film_standard.h"
#include "soundtrack/strip.h"

#include <opencv2/core.hpp>

#include <array>
#include <vector>

namespace veltrana {

// The bands across the film that the precise join search registers, in the
// order of their distance from the track: when the track cannot settle a
// join, the nearest band that can takes its place.
enum class SearchBand : int {
    Track = 0,         // the cut soundtrack band itself
    Edge = 1,          // border to track: perforation ends on 35 mm, the film edge on 16 mm
    PictureNear = 2,   // the third of the rest nearest the track
    PictureMiddle = 3, // the middle third
    PictureFar = 4,    // the far third
};
inline constexpr int kSearchBandCount = 5;

const char* searchBandName(SearchBand band);

// Where the illumination fall-off along the frame was read from.
enum class LightReference {
    None,       // nothing usable: no flattening
    TrackClear, // the clear part of a variable-area track (its brightest pixels per row)
    EdgeLight,  // light through the perforations or past the film edge
};

struct ArchivalFrame {
    // Per row: the mean of the chosen colour element across the track band
    // (for ColorElement::Y of each pixel's luminance, greyPixels, as the
    // standard samples read it).
    std::vector<float> samples;
    // Per row: the scanner's light relative to its mean over the frame (a
    // smooth fit, mean 1); all ones when no reference could be read or the
    // fit varies by less than 3 % along the frame (on evenly lit film the
    // fit follows only what the sound does to the clear part's edges).
    std::vector<float> illumination;
    // Per band: its row profile (channel mean across the band, or across an
    // even selection of its scan rows), relatively
    // high-passed (see relativeHighPass) so that an illumination ramp
    // cancels. Empty for a band without columns.
    std::array<std::vector<float>, kSearchBandCount> profiles;
    // Rows at each end whose high-passed values lean on a shortened
    // smoothing window: the search leaves them out, since the same film near
    // the end of one frame and the start of the next is smoothed differently.
    int profileMargin = 0;
    // Per band: the working column of its middle, as in an UP frame (from the
    // film's edge on the track's side), where the band has columns. On a
    // photographed frame the advance differs across the film.
    std::array<double, kSearchBandCount> bandColumns{};
    int bandWidth = 0; // columns of the clipped track band
    LightReference light = LightReference::None;

    int rows() const { return static_cast<int>(samples.size()); }
};

// A scan's samples deeper than 8 bits, trimmed as the 8-bit scan is: 16-bit
// codes or floating point, one channel or three (blue, green, red), and the
// factor that brings them to 8-bit steps (255 / (2^bits - 1); 255 for
// floating point).
struct DeepScan {
    cv::Mat trimmedScan;
    double stepsPerUnit = 1.0;
};

// Reads a frame from its trimmed scan as loaded (not turned). `track` is the
// band the standard cutter chose for this frame, in working-image columns
// (scan rows), not yet clipped. The track's samples read every pixel of the
// band; the other bands and the light reference read an even selection of
// their scan rows, enough for a mean or a level and far cheaper on large
// scans. Every value is computed from whole-number pixel sums or whole pixel
// values, so the result does not depend on how the scan is laid out in
// memory.
//
// With `deep`, the track's samples are read from it instead, in floating
// point, at the precision the scan was stored with (the sums in row order);
// everything else still reads the 8-bit scan.
ArchivalFrame archivalFrameOfScan(const cv::Mat& trimmedScan, StripRange track,
                                  ColorElement element, SoundtrackType type, bool rotationUp,
                                  bool longStrip, const DeepScan* deep = nullptr);

// The same from a working image (turned back to the scan first). The image
// is not changed (a ColorElement::Y read does not turn it grey).
ArchivalFrame archivalFrame(const cv::Mat& workingImage, StripRange track, ColorElement element,
                            SoundtrackType type, bool rotationUp, bool longStrip);

// Reverses every per-row array: for film that ran the other way.
void reverseRows(ArchivalFrame& frame);

// The relative high-pass used for the search profiles: v over its local
// level less 1, the local level being exp of the box mean of log v over
// `window` rows (shortened at the ends), v taken as at least one 8-bit step.
// About v / smooth(v) - 1 for small changes. Two properties matter to the
// join search:
// - A multiplicative ramp of light cancels: in the logarithm it is additive,
//   and a symmetric mean follows it. (Dividing by a smoothed v instead
//   leaves the ramp's slope times the content's first moment in the window,
//   a shift of the content that differs between the dark end of one frame
//   and the dark start of the next.)
// - The film's sharp structure keeps its position when the film lies a
//   fraction of a row further on: v is only ever multiplied by a smooth
//   level, never put through a curve itself. (log v less its mean would
//   bend a frame line's dark edge, drawn between two rows, differently for
//   every fraction: tenths of a row on the pictures of a render.)
std::vector<float> relativeHighPass(std::span<const float> values, int window);

// A robust smooth fit (a polynomial of degree 4 along the rows, refitted
// without the rows it fits worst) of the rows where `usable` is non-zero,
// divided by its mean over all rows. With brightRowsOnly the refits keep
// only rows within 4 % below the fit (the rows that see the full light, not
// the edges of a perforation). Empty when fewer than a fifth of the rows, or
// fewer than 16, are usable.
std::vector<float> fittedIllumination(std::span<const float> level,
                                      std::span<const unsigned char> usable,
                                      bool brightRowsOnly = false);

} // namespace veltrana
