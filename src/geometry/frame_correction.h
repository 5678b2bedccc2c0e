#pragma once
// Trimming a loaded scan to its frame.
//
// In a loaded scan the film runs across the image: columns follow the film,
// rows go across it. The scan usually shows a little of the neighbouring
// frames or of the scanner background at both ends; the trim keeps the
// columns from a left boundary x to a right boundary P, both included.

#include "geometry/film_standard.h"

#include <opencv2/core.hpp>

#include <span>

namespace veltrana {

struct FrameBounds {
    int left = 0;  // first column kept
    int right = 0; // last column kept
};

// The boundary columns found in the scan's column profile. Always
// 0 <= left <= right < width for a non-empty image: a side that no rule
// settles is left untrimmed.
FrameBounds findFrameBounds(const cv::Mat& scan, SoundtrackType type, bool longStrip);

// The rows the trim's column profile is taken over, 1-based and inclusive
// as columnProfile takes them: the middle 70 % of a scan `height` rows high.
struct TrimRows {
    int first = 0;
    int last = 0;
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
