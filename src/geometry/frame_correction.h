#pragma once
// Trimming a loaded scan to its frame.
//
// The trim works on the loaded scan (orientation: geometry/scan.h), whose
// columns follow the film. The scan usually shows a little of the
// neighbouring frames or of the scanner background at both ends; the trim
// keeps the columns from a left boundary x to a right boundary P.
// Ranges follow geometry/profile.h, except FrameBounds below.

#include "geometry/film_standard.h"
#include "geometry/scan_view.h"

#include <opencv2/core.hpp>

#include <span>

namespace veltrana {

// Inclusive, unlike the other ranges of geometry/: left..right are both kept.
// The bounds are logged, reported and drawn as the kept columns, and callers
// across the program take colRange(left, right + 1); end() is that limit.
struct FrameBounds {
    int left = 0;  // first column kept
    int right = 0; // last column kept
    int end() const { return right + 1; }
};

// The boundary columns found in the scan's column profile. Always
// 0 <= left <= right < width for a non-empty image: a side that no rule
// settles is left untrimmed.
FrameBounds findFrameBounds(const cv::Mat& scan, SoundtrackType type, bool longStrip);

// The same on the measured scan of a scan lying any way (geometry/scan_view.h).
FrameBounds findFrameBounds(const ScanView& scan, SoundtrackType type, bool longStrip);

// The rows the trim's column profile is taken over, [first, end): the middle
// 70 % of a scan `height` rows high. Either may lie outside the scan for a
// scan a few rows high; columnProfile clips them.
struct TrimRows {
    int first = 0;
    int end = 0;
};
TrimRows trimProfileRows(int height);

// findFrameBounds from the column profile it takes (channel 0, trimProfileRows),
// for callers that have the column sums already.
FrameBounds frameBoundsFromProfile(std::span<const float> columnMeans, SoundtrackType type,
                                   bool longStrip);

// The scan cut to its frame: same height and channel count, columns
// left..right, sharing the scan's pixels. Long-strip rules apply to 16 mm
// only.
cv::Mat frameCorrection(const cv::Mat& scan, SoundtrackType type, bool longStrip);

} // namespace veltrana
