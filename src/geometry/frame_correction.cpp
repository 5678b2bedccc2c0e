#include "geometry/frame_correction.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"
#include "geometry/trace.h"

#include <cmath>

namespace veltrana {

namespace {

int floorToInt(double v) {
    return static_cast<int>(std::floor(v));
}

// Fractions of the scan's height (rows, across the film): the rows left out
// of the column profile at the top and at the bottom, towards the film's
// edges.
constexpr double kTrimEdgeRowsShare = 0.15;

// Fractions of the scan's width (columns, along the film: the length of the
// column profile):
// the left margin, in which the left boundary is looked for
constexpr double kTrimMarginShare = 0.07;
// where the right margin begins; written out rather than 1 - kTrimMarginShare,
// which is not the same double
constexpr double kTrimRightMarginStartShare = 0.93;
// the half whose lowest fall each margin's lowest fall is compared against
constexpr double kTrimHalfShare = 0.5;
// long 16 mm strip: the left margin searched for the rise into the frame
constexpr double kStripLeftMarginShare = 0.02;
// long 16 mm strip: the right boundary, set rather than searched
constexpr double kStripRightBoundaryShare = 0.98;

} // namespace

TrimRows trimProfileRows(int height) {
    // rows leftOut..height - leftOut counted from 1, both included
    const int leftOut = roundHalfAway(kTrimEdgeRowsShare * height);
    return {leftOut - 1, height - leftOut};
}

FrameBounds findFrameBounds(const cv::Mat& scan, SoundtrackType type, bool longStrip) {
    if (scan.cols == 0 || scan.rows == 0) {
        return {};
    }
    // column means of the middle 70 % of the rows
    const TrimRows rows = trimProfileRows(scan.rows);
    return frameBoundsFromProfile(columnProfile(scan, rows.first, rows.end), type, longStrip);
}

FrameBounds findFrameBounds(const ScanView& scan, SoundtrackType type, bool longStrip) {
    const TrimRows rows = trimProfileRows(scan.rows());
    const int first = std::max(rows.first, 0);
    const int end = std::min(rows.end, scan.rows());
    if (!isUpright(scan.side()) || end - first > kExactPixelCount || scan.depth() != CV_8U) {
        return findFrameBounds(scan.measuredImage(), type, longStrip);
    }
    if (scan.cols() == 0 || scan.rows() == 0) {
        return {};
    }
    // column means of the middle 70 % of the rows, from whole-number sums as
    // columnProfile forms them
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(scan.cols()), 0);
    scan.addColumnSums(first, end, 0, sums);
    std::vector<float> means(sums.size(), 0.0f);
    if (first < end) {
        const float count = static_cast<float>(end - first);
        for (std::size_t c = 0; c < sums.size(); ++c) {
            means[c] = static_cast<float>(sums[c]) / count;
        }
    }
    return frameBoundsFromProfile(means, type, longStrip);
}

FrameBounds frameBoundsFromProfile(std::span<const float> q, SoundtrackType type, bool longStrip) {
    const int width = static_cast<int>(q.size());
    if (width == 0) {
        return {};
    }
    const bool strip = longStrip && type == SoundtrackType::VariableArea16;

    const int margin = floorToInt(kTrimMarginShare * width);
    const int half = floorToInt(kTrimHalfShare * width);
    const int rightMarginStart = floorToInt(kTrimRightMarginStartShare * width);

    // left boundary: the brightest rise within the left margin
    FrameBounds bounds{0, width - 1};
    if (strip) {
        const int s = floorToInt(kStripLeftMarginShare * width);
        const float highest = riseMaximum(q, 0, s);
        const int x = firstIndexOf(q, highest, 0, s + 1);
        if (x >= 0) {
            bounds.left = x;
            trace("frameCorrection x=%d\n", x);
        }
    } else {
        const float leftMin = fallMinimum(q, 0, margin);
        const float halfMin = fallMinimum(q, 0, half);
        if (leftMin < 2 * halfMin) {
            const float highest = riseMaximum(q, 0, margin);
            const int x = firstIndexOf(q, highest, 0, margin);
            if (x >= 0) {
                bounds.left = x;
                trace("frameCorrection x=%d\n", x);
            }
        } else if (leftMin > 2 * halfMin) {
            bounds.left = 1;
            trace("frameCorrection x=%d\n", 1);
        }
        // equal: no rule settles the left side, so it is not trimmed
    }

    // right boundary: the steepest fall of brightness inside the right margin
    if (strip) {
        bounds.right = roundHalfAway(kStripRightBoundaryShare * width);
        trace("frameCorrection2 y=%d\n", bounds.right);
    } else {
        const float rightMin = fallMinimum(q, rightMarginStart, width);
        const float rightHalfMin = fallMinimum(q, half, width);
        if (rightMin < 2 * rightHalfMin) {
            const std::vector<float> r = profileDifference(q);
            const float steepest = fallMinimum(r, rightMarginStart, width - 1);
            const int p = firstIndexOf(r, steepest, rightMarginStart, width - 1);
            if (p >= 0) {
                bounds.right = p;
                trace("frameCorrection1 y=%d\n", p);
            }
            // no fall inside the margin: the right side is not trimmed
        } else {
            trace("frameCorrection3 y=%d\n", width - 1);
        }
    }

    // the crop needs 0 <= left <= right < width
    if (bounds.right >= width) {
        bounds.right = width - 1;
    }
    if (bounds.left > bounds.right) {
        bounds = {0, width - 1};
    }
    return bounds;
}

cv::Mat frameCorrection(const cv::Mat& scan, SoundtrackType type, bool longStrip) {
    if (scan.empty()) {
        return {};
    }
    const FrameBounds bounds = findFrameBounds(scan, type, longStrip);
    // a view: the working image made from it next is the copy
    return scan.colRange(bounds.left, bounds.right + 1);
}

} // namespace veltrana
