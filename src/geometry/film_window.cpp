#include "geometry/film_window.h"

#include "geometry/resolution.h"
#include "geometry/rounding.h"
#include "geometry/trace.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace veltrana {

namespace {

// The window of a standard scan shows this much beyond its anchor: the last
// of the perforations (35 mm) or the light beside the film's edge (16 mm).
constexpr double kWindowSliverCm = 0.006;
// 35 mm: the perforations' inner end lies this far from the film's edge
// (their outer side 0.201 cm in, 0.2794 cm across); they are looked for
// within this share more.
constexpr double kPerforationInnerCm = 0.4804;
constexpr double kPerforationReachShare = 1.3;
// The gate: the rows at the scan's border give its level; the film begins
// where the mean rises this many 8-bit steps above it, past any light beside
// the edge, and the gate itself is no brighter than kGateBrightest.
constexpr int kBorderRows = 3;
constexpr float kGateRise = 12.0f;
constexpr float kGateBrightest = 64.0f;
// Shares of a row's pixels that are bright (above 127): the light beside the
// film is bright almost everywhere along it, a perforation row only in its
// holes.
constexpr float kLitShare = 0.9f;
constexpr float kHoleShare = 0.1f;
constexpr float kClearMiddleShare = 0.8f;
// Past the band, between it and the picture, the film is dark again: the
// darkest row of this stretch (shares of the track width from the band's
// first row) lies within this share of the band's contrast above the film's
// darkest.
constexpr double kGapFirstShare = 0.75;
constexpr double kGapEndShare = 1.25;
constexpr float kGapDarkShare = 0.3f;

// Per measured row, the mean of channel 0 and the share of bright pixels,
// oriented so that entry 0 is the border on the band's side.
struct AcrossProfiles {
    std::vector<float> mean;
    std::vector<float> bright;
    int size() const { return static_cast<int>(mean.size()); }
};

AcrossProfiles acrossProfiles(const ScanView& scan, bool fromTop) {
    const auto rows = static_cast<std::size_t>(scan.rows());
    std::vector<std::uint32_t> sums(rows, 0);
    std::vector<std::uint32_t> bright(rows, 0);
    scan.addRowSums(0, sums);
    scan.addRowSums(0, bright, true);
    AcrossProfiles p{std::vector<float>(rows), std::vector<float>(rows)};
    const float count = static_cast<float>(std::max(scan.cols(), 1));
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t from = fromTop ? i : rows - 1 - i;
        p.mean[i] = static_cast<float>(sums[from]) / count;
        p.bright[i] = static_cast<float>(bright[from]) / count;
    }
    return p;
}

// The first entry on the film: past the dark gate and any light beside the
// film's edge. -1 when the border is no gate or the film does not begin in
// the outer half.
int filmEdgeOf(const AcrossProfiles& p) {
    const int n = p.size();
    if (n < 2 * kBorderRows) {
        return -1;
    }
    float gate = 0;
    for (int i = 0; i < kBorderRows; ++i) {
        gate += p.mean[static_cast<std::size_t>(i)];
    }
    gate /= kBorderRows;
    if (gate > kGateBrightest) {
        return -1;
    }
    int i = 0;
    while (i < n && p.mean[static_cast<std::size_t>(i)] < gate + kGateRise) {
        ++i;
    }
    while (i < n && p.bright[static_cast<std::size_t>(i)] >= kLitShare) {
        ++i;
    }
    return i < n / 2 ? i : -1;
}

// 35 mm: one past the perforation row that begins after the edge, or the
// standard's place for it when no such row ends within reach.
int perforationEndOf(const AcrossProfiles& p, int edge, int dpiX) {
    const int nominal = edge + centimetresToPixels(dpiX, kPerforationInnerCm);
    const int reach = edge + static_cast<int>(kPerforationReachShare *
                                              centimetresToPixels(dpiX, kPerforationInnerCm));
    const int n = std::min(p.size(), reach);
    int i = edge;
    while (i < n && p.bright[static_cast<std::size_t>(i)] < kHoleShare) {
        ++i;
    }
    const int holes = i;
    while (i < n && p.bright[static_cast<std::size_t>(i)] >= kHoleShare) {
        ++i;
    }
    return holes < n && i < n ? i : nominal;
}

// How much brighter the band is than the darkest film between the edge and
// the track area's end (entries of p: the band from bandFirst, the track
// area ending at trackEnd), or 0 when no dark stretch follows the band: a
// picture that begins in the track area, as on the side without a track, is
// brighter there all the way.
float trackContrastOf(const AcrossProfiles& p, int edge, int bandFirst, int trackEnd) {
    const int trackWidth = trackEnd - bandFirst;
    const int gapFirst = bandFirst + static_cast<int>(kGapFirstShare * trackWidth);
    const int gapEnd = std::min(p.size(), bandFirst + static_cast<int>(kGapEndShare * trackWidth));
    float brightest = 0;
    float darkest = 255;
    for (int i = edge; i < trackEnd && i < p.size(); ++i) {
        const float v = p.mean[static_cast<std::size_t>(i)];
        darkest = std::min(darkest, v);
        if (i >= bandFirst) {
            brightest = std::max(brightest, v);
        }
    }
    float gap = 255;
    for (int i = gapFirst; i < gapEnd; ++i) {
        gap = std::min(gap, p.mean[static_cast<std::size_t>(i)]);
    }
    const float contrast = brightest - darkest;
    return gap <= darkest + kGapDarkShare * contrast ? contrast : 0.0f;
}

// Whether a variable-area band is there: its middle is clear on every row,
// loud or quiet, where a perforation row is bright in its holes only.
bool clearMiddleIn(const AcrossProfiles& p, int bandFirst, int trackEnd) {
    for (int i = bandFirst; i < trackEnd && i < p.size(); ++i) {
        if (p.bright[static_cast<std::size_t>(i)] >= kClearMiddleShare) {
            return true;
        }
    }
    return false;
}

// The standard scan width in rows at dpiX: of the counts nearest the
// nominal one, the first that resolution detection reads back as dpiX, as a
// standard scanner's window is.
int windowRowsAt(SoundtrackType type, int dpiX) {
    const double width = filmStandard(type).scanWidthCm;
    const int nominal = centimetresToPixels(dpiX, width);
    for (const int offset : {0, 1, -1, 2, -2}) {
        if (snapResolution(truncateToInt((nominal + offset) * 2.54 / width)) == dpiX) {
            return nominal + offset;
        }
    }
    return nominal;
}

} // namespace

Result<FilmWindow> findFilmWindow(const ScanView& scan, SoundtrackType type, int dpiX,
                                  bool bandOnTop) {
    const FilmStandard& standard = filmStandard(type);
    // the rows across, the band's side first
    const AcrossProfiles p = acrossProfiles(scan, bandOnTop);
    const int edge = filmEdgeOf(p);
    if (edge < 0) {
        return Status::failure("no film edge beside a dark gate on the band's side");
    }
    const int sliver = centimetresToPixels(dpiX, kWindowSliverCm);
    const int anchor = is35mm(type) ? perforationEndOf(p, edge, dpiX) : edge;
    const int first = anchor - sliver;
    const int rows = windowRowsAt(type, dpiX);
    if (first < 0 || first + rows > p.size()) {
        return Status::failure("the standard window does not fit in the scan");
    }
    // the band lies within the window's first track width, past its sliver
    const int trackEnd = first + centimetresToPixels(dpiX, standard.soundtrackCutWidthCm);
    const float contrast = trackContrastOf(p, edge, first + 2 * sliver, trackEnd);
    trace("filmEdge=%d window=%d contrast=%f\n", edge, first, static_cast<double>(contrast));
    const bool area = type != SoundtrackType::VariableDensity35;
    if (contrast < kTrackContrastLeast ||
        (area && !clearMiddleIn(p, first + 2 * sliver, trackEnd))) {
        return Status::failure("no soundtrack band beside the film's edge");
    }
    FilmWindow window;
    window.dpiX = dpiX;
    window.rows = rows;
    window.trackContrast = contrast;
    // back to measured rows
    const int n = p.size();
    window.filmEdge = bandOnTop ? edge : n - 1 - edge;
    window.first = bandOnTop ? first : n - first - rows;
    window.trackFirst = bandOnTop ? first : n - trackEnd;
    window.trackEnd = bandOnTop ? trackEnd : n - first;
    return window;
}

Result<int> apertureResolutionX(const ScanView& scan, SoundtrackType type) {
    const int near = filmEdgeOf(acrossProfiles(scan, true));
    const int far = filmEdgeOf(acrossProfiles(scan, false));
    if (near < 0 || far < 0) {
        return Status::failure("the film's two edges beside a dark gate were not both found");
    }
    // not snapped to the bands the standard measure snaps to: the film's
    // whole width is measure enough, and 600 dpi would snap to 450
    const int filmRows = scan.rows() - near - far;
    return roundHalfAway(filmRows * 2.54 / filmStandard(type).filmWidthCm);
}

} // namespace veltrana
