#pragma once
// Full-aperture scans: the standard scan window found on a scan that holds
// the whole width of the film.
//
// A scan wider than the standard's scan width may show the film from edge to
// edge, both perforation rows and, beyond the edges, the scanner's light and
// its dark gate. The measures read the window a standard scan would hold:
// on 35 mm it begins at the inner end of the perforations by the band, on
// 16 mm just before the film's edge on the band's side. Both are found on
// every scan, so the window follows the film as it weaves.
//
// Rows are those of the measured scan (geometry/scan_view.h): across the
// film, the band's side first when the band is on top. Ranges are half-open.

#include "base/status.h"
#include "geometry/film_standard.h"
#include "geometry/scan_view.h"

namespace veltrana {

struct FilmWindow {
    int filmEdge = 0;   // the film's edge on the band's side: its first row on the film
    int first = 0;      // the window's first row
    int rows = 0;       // the window's rows: the standard scan width
    int dpiX = 0;       // the resolution across it was found at
    int trackFirst = 0; // the track area, where the band is looked for
    int trackEnd = 0;
    // how much brighter the band is than the film beside it, in 8-bit steps;
    // a window with no band brighter by kTrackContrastLeast is refused
    float trackContrast = 0;
};

inline constexpr float kTrackContrastLeast = 25.0f;

// The window of a full-aperture scan at `dpiX` across. A scan with no dark
// gate at the band's side, no film edge in its outer half, a window that
// does not fit, or no band in the window's track area is refused, with the
// reason.
Result<FilmWindow> findFilmWindow(const ScanView& scan, SoundtrackType type, int dpiX,
                                  bool bandOnTop);

// The resolution across a full-aperture scan: the film between its two
// edges measured against the film's width, rounded to whole dpi.
Result<int> apertureResolutionX(const ScanView& scan, SoundtrackType type);

} // namespace veltrana
