#pragma once
// Where the soundtrack lies in a scan file, and the scan read as the
// measures expect it whatever way it lies.
//
// The measures are written for a scan whose film runs across the image
// (geometry/scan.h): columns along the film, later film further left, the
// band along the top edge (or the bottom one). Call that the measured scan.
// A scanner that writes the picture upright lays the film down the image
// instead, later film lower, with the band along the left edge; scanned from
// the base side the same scan is mirrored and the band lies along the right
// edge. ScanView reads such a stored image as the measured scan it stands
// for, by index arithmetic and without copying it:
//
//   measured (row y, column x) =
//     Top, Bottom: stored (y, x)
//     Left:        stored (row H - 1 - x, column y)
//     Right:       stored (row H - 1 - x, column W - 1 - y)
//
// where H and W are the stored image's height and width. So a measured
// column (a position along the film) is a stored row of an upright scan, and
// a measured row (a position across) a stored column. The working image
// (the measured scan turned a quarter anticlockwise) of a Left scan is the
// stored image itself. Sums are whole numbers, exact in any order, so every
// measure gives the same value on an upright scan as on its turned twin.
//
// Ranges are half-open [first, end), positions 0-based, as in
// geometry/profile.h.

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace veltrana {

// The edge of the scan file the soundtrack runs along.
enum class TrackSide {
    Top,    // film across, band along the top edge ("UP")
    Bottom, // film across, band along the bottom edge ("DOWN")
    Left,   // picture upright, later film lower, band at the left
    Right,  // the same scanned from the base side: mirrored, band at the right
};

// "top", "bottom", "left", "right"; "up" and "down" name top and bottom.
std::optional<TrackSide> trackSideFromName(std::string_view name);
std::string_view trackSideName(TrackSide side);

// Whether the band comes first in the measured scan's rows (the measures'
// rotationUp): every side but Bottom.
constexpr bool bandOnTop(TrackSide side) {
    return side != TrackSide::Bottom;
}

// Whether the film runs down the stored image.
constexpr bool isUpright(TrackSide side) {
    return side == TrackSide::Left || side == TrackSide::Right;
}

// The size of the measured scan of a file of size `stored` (width along the
// film, height across), and where a rectangle of it lies in the file.
cv::Size measuredSizeOf(TrackSide side, cv::Size stored);
cv::Rect storedRectOf(TrackSide side, cv::Size stored, const cv::Rect& measured);
// A picture of a measured scan (an overlay drawn on it) turned the way the
// file lies: the inverse of ScanView::measuredImage.
cv::Mat storedFromMeasured(const cv::Mat& measured, TrackSide side);

// Rows [first, end) of a measured scan as they lie in the file of size
// `stored`: its rows for Top and Bottom, its columns for upright scans;
// first..last inclusive, for logs.
struct AcrossFile {
    const char* unit = "row"; // "row" or "column"
    int first = 0;
    int last = 0;
};
AcrossFile acrossFile(TrackSide side, cv::Size stored, int first, int end);
// The same for columns [first, end) of a measured scan (along the film): the
// file's columns, or its rows for upright scans.
AcrossFile alongFile(TrackSide side, cv::Size stored, int first, int end);

class ScanView {
public:
    ScanView() = default;
    ScanView(cv::Mat stored, TrackSide side) : image(std::move(stored)), how(side) {}

    const cv::Mat& stored() const { return image; }
    TrackSide side() const { return how; }
    bool empty() const { return image.empty(); }
    int channels() const { return image.channels(); }
    int depth() const { return image.depth(); }
    // the measured scan's columns (along the film) and rows (across)
    int cols() const { return isUpright(how) ? image.rows : image.cols; }
    int rows() const { return isUpright(how) ? image.cols : image.rows; }
    cv::Size size() const { return {cols(), rows()}; }

    // A rectangle of the measured scan, as it lies in the stored image.
    cv::Rect storedRect(const cv::Rect& measured) const;
    // A part of the measured scan, sharing the pixels.
    ScanView part(const cv::Rect& measured) const;
    ScanView colRange(int first, int end) const;
    ScanView rowRange(int first, int end) const;
    // An image of the stored image's size (a grey copy, a mask) read the same way.
    ScanView sameWay(cv::Mat storedLike) const { return {std::move(storedLike), how}; }

    // Adds, for every measured column, channel `channel` of measured rows
    // [firstRow, endRow) (clipped) to sums[column]: addColumnSums
    // (geometry/profile.h) of the measured scan. 8-bit images only.
    void addColumnSums(int firstRow, int endRow, int channel, std::span<std::uint32_t> sums) const;
    // addColumnSums of rows [firstRow, endRow) into `within` and of all rows
    // into `all`, reading each pixel once.
    void addColumnSumsWithin(int firstRow, int endRow, int channel, std::span<std::uint32_t> within,
                             std::span<std::uint32_t> all) const;
    // Adds, for every measured row, channel `channel` over all measured
    // columns to sums[row]; with brightCount, the count of pixels whose
    // channel is above 127 instead (whole 8-bit values: 128 and above is bright).
    void addRowSums(int channel, std::span<std::uint32_t> sums, bool brightCount = false) const;

    // The measured scan as an image of its own: the stored image for Top and
    // Bottom, a turned copy otherwise.
    cv::Mat measuredImage() const;
    // The measured scan turned a quarter anticlockwise (geometry/scan.h):
    // a turned copy for Top and Bottom, the stored image itself for Left, a
    // mirrored copy for Right.
    cv::Mat workingImage() const;

private:
    cv::Mat image;
    TrackSide how = TrackSide::Top;
};

} // namespace veltrana
