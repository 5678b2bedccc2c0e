#include "movie/film_frame.h"

#include "geometry/frame_correction.h"
#include "geometry/profile.h"
#include "geometry/scan.h"
#include "geometry/scan_view.h"
#include "geometry/trace.h"
#include "movie/movie_file.h"

#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <span>

namespace veltrana {

namespace {

// How the working image lies on the trimmed scan T (H rows, Wf columns):
// working (i, j) is T(scanRow(j), scanColumn(i)).
struct Orientation {
    int height = 0; // H: scan rows, working columns
    int width = 0;  // Wf: trimmed columns, working rows
    bool mirrorRows = false;
    bool mirrorColumns = false;
    int scanRow(int j) const { return mirrorColumns ? height - 1 - j : j; }
    int scanColumn(int i) const { return mirrorRows ? i : width - 1 - i; }
};

bool mirrorsColumns(const ScanView& scan, SoundtrackType type) {
    return scan.channels() == 1 && type == SoundtrackType::VariableDensity35;
}

// The bright mask's counts per measured column within measured rows
// [first, end), and per measured row unless perRow is empty: straight from
// a scan lying across, where measured and stored are one, and through the
// mask otherwise.
void countBright(const ScanView& trimmed, double factor, int first, int end,
                 std::span<std::uint32_t> perColumn, std::span<std::uint32_t> perRow) {
    if (!isUpright(trimmed.side())) {
        addBrightCounts(trimmed.stored(), factor, first, end, perColumn, perRow);
        return;
    }
    const ScanView mask = trimmed.sameWay(brightMask(trimmed.stored(), factor));
    mask.addColumnSums(first, end, 0, perColumn);
    if (!perRow.empty()) {
        mask.addRowSums(0, perRow);
    }
}

// The profiles of frameCutProfiles, from the trimmed scan as it lies.
FrameCutProfiles cutProfilesOf(const ScanView& trimmed, const Orientation& o, bool cutSoundtrack) {
    FrameCutProfiles p;
    p.width = o.height;
    p.height = o.width;
    if (p.width == 0 || p.height == 0) {
        return p;
    }
    // per working column (scan row), the mean of channel 0 across the frame;
    // their mean taken in working-column order, as imageMean takes it
    std::vector<std::uint32_t> rowSums(static_cast<std::size_t>(o.height), 0);
    trimmed.addRowSums(0, rowSums);
    std::vector<float> columnMeans(static_cast<std::size_t>(p.width));
    for (int j = 0; j < p.width; ++j) {
        columnMeans[static_cast<std::size_t>(j)] =
            static_cast<float>(rowSums[static_cast<std::size_t>(o.scanRow(j))]) /
            static_cast<float>(p.height);
    }
    p.mean = profileMean(columnMeans);
    const double factor = brightnessFactor(p.mean, BrightnessUse::Cut);
    trace("pro = %f\n", factor);

    // the bright mask, counted along both directions
    const int firstColumn = cutProfileFirstColumn(p.width);
    // working columns firstColumn.. are these scan rows
    const int maskedFirst = o.mirrorColumns ? 0 : firstColumn;
    const int maskedEnd = o.mirrorColumns ? o.height - firstColumn : o.height;
    std::vector<std::uint32_t> perColumn(static_cast<std::size_t>(o.width), 0);
    std::vector<std::uint32_t> perRow(cutSoundtrack ? static_cast<std::size_t>(o.height) : 0, 0);
    countBright(trimmed, factor, maskedFirst, maskedEnd, perColumn, perRow);
    p.rowBright.resize(static_cast<std::size_t>(p.height));
    const float counted = static_cast<float>(p.width - firstColumn);
    for (int i = 0; i < p.height; ++i) {
        p.rowBright[static_cast<std::size_t>(i)] =
            static_cast<float>(perColumn[static_cast<std::size_t>(o.scanColumn(i))]) / counted;
    }
    if (cutSoundtrack) {
        p.columnBright.resize(static_cast<std::size_t>(p.width));
        for (int j = 0; j < p.width; ++j) {
            p.columnBright[static_cast<std::size_t>(j)] =
                static_cast<float>(perRow[static_cast<std::size_t>(o.scanRow(j))]) /
                static_cast<float>(p.height);
        }
    }
    return p;
}

// Where a region of the working image lies on the trimmed scan.
cv::Rect trimmedRegion(const Orientation& o, const cv::Rect& region) {
    const int firstRow = o.mirrorColumns ? o.height - region.x - region.width : region.x;
    const int firstColumn = o.mirrorRows ? region.y : o.width - region.y - region.height;
    return {firstColumn, firstRow, region.height, region.width};
}

Orientation orientationOf(const ScanView& trimmed, const FilmCutting& c) {
    Orientation o;
    o.height = trimmed.rows();
    o.width = trimmed.cols();
    o.mirrorRows = c.inverse;
    o.mirrorColumns = mirrorsColumns(trimmed, c.type);
    return o;
}

// The working image's region, taken from the trimmed scan and turned.
cv::Mat workingRegion(const ScanView& trimmed, const Orientation& o, const cv::Rect& region) {
    const cv::Mat turned = trimmed.part(trimmedRegion(o, region)).workingImage();
    // a Left scan's piece is the scan's own pixels: those are flipped into a copy
    cv::Mat flipped = trimmed.side() == TrackSide::Left ? cv::Mat() : turned;
    if (o.mirrorRows) {
        cv::flip(turned, flipped, 0);
    }
    if (o.mirrorColumns) {
        cv::flip(o.mirrorRows ? flipped : turned, flipped, 1);
    }
    return flipped.empty() ? turned : flipped;
}

// The movie frame of a working-image region. Where the working image is the
// scan turned a quarter anticlockwise, working (i, j) is the stored piece's
// (j, width - 1 - i) before the mirrors, and the frame is scaled straight
// from the piece as it lies.
cv::Mat regionFrame(const ScanView& trimmed, const Orientation& o, const cv::Rect& region) {
    if (isUpright(trimmed.side())) {
        return movieFrame(workingRegion(trimmed, o, region));
    }
    const StoredTurn turn{o.mirrorColumns, !o.mirrorRows};
    return movieFrameOfTurned(trimmed.part(trimmedRegion(o, region)).stored(), turn);
}

} // namespace

ScanResolution detectFilmResolution(const cv::Mat& trimmed, const FilmCutting& c) {
    return detectFilmResolution(ScanView(trimmed, TrackSide::Top), c);
}

ScanResolution detectFilmResolution(const ScanView& trimmed, const FilmCutting& c) {
    const int columns = resolutionProfileColumns(trimmed.rows());
    if (trimmed.empty() || trimmed.depth() != CV_8U || columns > kExactPixelCount ||
        (trimmed.channels() != 1 && trimmed.channels() != 3)) {
        return detectResolution(filmWorkingImage(trimmed.measuredImage(), c.type, c.inverse),
                                c.type);
    }
    const Orientation o = orientationOf(trimmed, c);
    // the working image's first columns are these scan rows
    const int first = o.mirrorColumns ? o.height - std::max(columns, 0) : 0;
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(o.width), 0);
    trimmed.addColumnSums(first, first + std::max(columns, 0), 0, sums);
    std::vector<float> rowMeans(static_cast<std::size_t>(o.width), 0.0f);
    if (columns > 0) {
        for (int i = 0; i < o.width; ++i) {
            rowMeans[static_cast<std::size_t>(i)] =
                static_cast<float>(sums[static_cast<std::size_t>(o.scanColumn(i))]) /
                static_cast<float>(columns);
        }
    }
    return estimateResolutionFromProfile(std::move(rowMeans), o.height, c.type).snapped;
}

FilmFrames movieFramesOfTurned(const cv::Mat& scan, const FilmCutting& c,
                               const FrameGeometry& geometry) {
    FilmFrames result;
    if (scan.empty()) {
        return result;
    }
    result.bounds = findFrameBounds(scan, c.type, c.longStrip);
    const cv::Mat working = filmWorkingImage(
        scan.colRange(result.bounds.left, result.bounds.right + 1), c.type, c.inverse);
    result.cut = findFrameCut(working, geometry, c.type, c.longStrip, c.cutSoundtrack);
    const Orientation o = orientationOf(
        ScanView(scan.colRange(result.bounds.left, result.bounds.right + 1), TrackSide::Top), c);
    for (const cv::Rect& region : result.cut.pieces) {
        result.regions.push_back(trimmedRegion(o, region) + cv::Point(result.bounds.left, 0));
        result.frames.push_back(movieFrame(working(region)));
    }
    return result;
}

FilmFrames movieFramesOf(const cv::Mat& scan, const FilmCutting& c, const FrameGeometry& geometry,
                         const std::optional<FrameBounds>& bounds) {
    return movieFramesOf(ScanView(scan, TrackSide::Top), c, geometry, bounds);
}

FilmFrames movieFramesOf(const ScanView& scan, const FilmCutting& c, const FrameGeometry& geometry,
                         const std::optional<FrameBounds>& bounds) {
    if (scan.empty() || scan.depth() != CV_8U || scan.rows() > kExactPixelCount ||
        scan.cols() > kExactPixelCount || (scan.channels() != 1 && scan.channels() != 3)) {
        return movieFramesOfTurned(scan.measuredImage(), c, geometry);
    }
    FilmFrames result;
    result.bounds = bounds ? *bounds : findFrameBounds(scan, c.type, c.longStrip);
    const ScanView trimmed = scan.colRange(result.bounds.left, result.bounds.right + 1);
    const Orientation o = orientationOf(trimmed, c);

    result.cut = frameCutFromProfiles(cutProfilesOf(trimmed, o, c.cutSoundtrack), geometry, c.type,
                                      c.longStrip, c.cutSoundtrack);
    for (const cv::Rect& region : result.cut.pieces) {
        result.regions.push_back(trimmedRegion(o, region) + cv::Point(result.bounds.left, 0));
        result.frames.push_back(regionFrame(trimmed, o, region));
    }
    return result;
}

cv::Mat filmWorkingImage(const cv::Mat& corrected, SoundtrackType type, bool inverse) {
    cv::Mat working = workingImageFromFrame(corrected);
    if (working.empty()) {
        return working;
    }
    if (inverse) {
        // the film runs the other way: last row first
        cv::flip(working, working, 0);
    }
    if (working.channels() == 1 && type == SoundtrackType::VariableDensity35) {
        cv::flip(working, working, 1);
    }
    return working;
}

} // namespace veltrana
