#include "geometry/scan_view.h"

#include "base/vectorise.h"
#include "geometry/profile.h"

#include <algorithm>
#include <array>
#include <vector>

namespace veltrana {

namespace {

using Sums = std::vector<std::uint32_t>;

// One value of a pixel: the byte itself, or with BrightCount whether it is
// above 127.
template <bool BrightCount> [[gnu::always_inline]] inline std::uint32_t valueOf(uchar v) {
    if constexpr (BrightCount) {
        return static_cast<std::uint32_t>(v > 127);
    } else {
        return v;
    }
}

// Channel `channel` of pixels [first, end) of one row of Channels-channel
// pixels, summed. A colour row is added in runs of 16 pixels, byte by byte
// into 48 sixteen-bit lanes (emptied into the sum every 256 runs, before
// they could overflow), so that the loop reads contiguous memory and
// vectorises; lane j holds channel j % 3 of its pixels.
template <int Channels, bool BrightCount>
[[gnu::always_inline]] inline std::uint32_t storedRowSum(const uchar* row, int first, int end,
                                                         int channel) {
    std::uint32_t sum = 0;
    if constexpr (Channels == 1) {
        for (int c = first; c < end; ++c) {
            sum += valueOf<BrightCount>(row[c]);
        }
    } else {
        constexpr int kRun = 16 * Channels;
        constexpr int kRunsPerEmptying = 256;
        const uchar* p = row + first * Channels;
        const int runs = std::max(end - first, 0) / 16;
        for (int done = 0; done < runs; done += kRunsPerEmptying) {
            std::array<std::uint16_t, kRun> lanes{};
            const int stop = std::min(runs, done + kRunsPerEmptying);
            for (int k = done; k < stop; ++k) {
                const uchar* run = p + k * kRun;
                for (int j = 0; j < kRun; ++j) {
                    lanes[static_cast<std::size_t>(j)] = static_cast<std::uint16_t>(
                        lanes[static_cast<std::size_t>(j)] + valueOf<BrightCount>(run[j]));
                }
            }
            for (int j = channel; j < kRun; j += Channels) {
                sum += lanes[static_cast<std::size_t>(j)];
            }
        }
        const int bytes = std::max(end - first, 0) * Channels;
        for (int k = runs * kRun + channel; k < bytes; k += Channels) {
            sum += valueOf<BrightCount>(p[k]);
        }
    }
    return sum;
}

// Per stored row of `image`, channel `channel` of columns [first, end)
// summed into sums[row] (or, with brightCount, the pixels above 127 counted).
template <int Channels, bool BrightCount>
[[gnu::always_inline]] inline void addStoredRowSumsLoop(const cv::Mat& image, int first, int end,
                                                        int channel, std::uint32_t* sums) {
    for (int r = 0; r < image.rows; ++r) {
        sums[r] += storedRowSum<Channels, BrightCount>(image.ptr<uchar>(r), first, end, channel);
    }
}

VELTRANA_ALSO_FOR_AVX2 void addGreyRowSums(const cv::Mat& image, int first, int end, int channel,
                                           std::uint32_t* sums) {
    addStoredRowSumsLoop<1, false>(image, first, end, channel, sums);
}

VELTRANA_ALSO_FOR_AVX2 void addColourRowSums(const cv::Mat& image, int first, int end, int channel,
                                             std::uint32_t* sums) {
    addStoredRowSumsLoop<3, false>(image, first, end, channel, sums);
}

VELTRANA_ALSO_FOR_AVX2 void addBrightRowCounts(const cv::Mat& image, int first, int end,
                                               int channel, std::uint32_t* sums) {
    if (image.channels() == 3) {
        addStoredRowSumsLoop<3, true>(image, first, end, channel, sums);
    } else {
        addStoredRowSumsLoop<1, true>(image, first, end, channel, sums);
    }
}

// Stored rows: sums[row] over stored columns [first, end) (clipped).
void addStoredRowSums(const cv::Mat& image, int first, int end, int channel, bool brightCount,
                      std::span<std::uint32_t> sums) {
    if (image.depth() != CV_8U || channel < 0 || channel >= image.channels() ||
        sums.size() < static_cast<std::size_t>(image.rows)) {
        return;
    }
    first = std::clamp(first, 0, image.cols);
    end = std::clamp(end, first, image.cols);
    if (brightCount) {
        addBrightRowCounts(image, first, end, channel, sums.data());
    } else if (image.channels() == 1) {
        addGreyRowSums(image, first, end, channel, sums.data());
    } else if (image.channels() == 3) {
        addColourRowSums(image, first, end, channel, sums.data());
    }
}

// Stored columns: per column, the pixels above 127 in channel `channel`.
template <int Channels>
[[gnu::always_inline]] inline void addBrightColumnCountsLoop(const cv::Mat& image, int channel,
                                                             std::uint32_t* sums) {
    for (int r = 0; r < image.rows; ++r) {
        const uchar* row = image.ptr<uchar>(r) + channel;
        for (int c = 0; c < image.cols; ++c) {
            sums[c] += static_cast<std::uint32_t>(row[c * Channels] > 127);
        }
    }
}

VELTRANA_ALSO_FOR_AVX2 void addGreyBrightColumnCounts(const cv::Mat& image, int channel,
                                                      std::uint32_t* sums) {
    addBrightColumnCountsLoop<1>(image, channel, sums);
}

VELTRANA_ALSO_FOR_AVX2 void addColourBrightColumnCounts(const cv::Mat& image, int channel,
                                                        std::uint32_t* sums) {
    addBrightColumnCountsLoop<3>(image, channel, sums);
}

void addStoredBrightColumnCounts(const cv::Mat& image, int channel, std::span<std::uint32_t> sums) {
    if (image.depth() != CV_8U || channel < 0 || channel >= image.channels() ||
        sums.size() < static_cast<std::size_t>(image.cols)) {
        return;
    }
    if (image.channels() == 1) {
        addGreyBrightColumnCounts(image, channel, sums.data());
    } else if (image.channels() == 3) {
        addColourBrightColumnCounts(image, channel, sums.data());
    }
}

// sums[i] += values[n - 1 - i] for every i.
void addReversed(const Sums& values, std::span<std::uint32_t> sums) {
    const std::size_t n = values.size();
    for (std::size_t i = 0; i < n && i < sums.size(); ++i) {
        sums[i] += values[n - 1 - i];
    }
}

} // namespace

std::optional<TrackSide> trackSideFromName(std::string_view name) {
    if (name == "top" || name == "up") {
        return TrackSide::Top;
    }
    if (name == "bottom" || name == "down") {
        return TrackSide::Bottom;
    }
    if (name == "left") {
        return TrackSide::Left;
    }
    if (name == "right") {
        return TrackSide::Right;
    }
    return std::nullopt;
}

std::string_view trackSideName(TrackSide side) {
    switch (side) {
    case TrackSide::Top:
        return "top";
    case TrackSide::Bottom:
        return "bottom";
    case TrackSide::Left:
        return "left";
    case TrackSide::Right:
        return "right";
    }
    return "top";
}

AcrossFile acrossFile(TrackSide side, cv::Size stored, int first, int end) {
    switch (side) {
    case TrackSide::Top:
    case TrackSide::Bottom:
        break;
    case TrackSide::Left:
        return {"column", first, end - 1};
    case TrackSide::Right:
        return {"column", stored.width - end, stored.width - 1 - first};
    }
    return {"row", first, end - 1};
}

AcrossFile alongFile(TrackSide side, cv::Size stored, int first, int end) {
    if (isUpright(side)) {
        return {"row", stored.height - end, stored.height - 1 - first};
    }
    return {"column", first, end - 1};
}

cv::Size measuredSizeOf(TrackSide side, cv::Size stored) {
    return isUpright(side) ? cv::Size(stored.height, stored.width) : stored;
}

cv::Rect storedRectOf(TrackSide side, cv::Size stored, const cv::Rect& m) {
    switch (side) {
    case TrackSide::Top:
    case TrackSide::Bottom:
        return m;
    case TrackSide::Left:
        return {m.y, stored.height - m.x - m.width, m.height, m.width};
    case TrackSide::Right:
        return {stored.width - m.y - m.height, stored.height - m.x - m.width, m.height, m.width};
    }
    return m;
}

cv::Mat storedFromMeasured(const cv::Mat& measured, TrackSide side) {
    if (!isUpright(side) || measured.empty()) {
        return measured;
    }
    cv::Mat stored;
    cv::rotate(measured, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
    if (side == TrackSide::Right) {
        cv::flip(stored, stored, 1);
    }
    return stored;
}

cv::Rect ScanView::storedRect(const cv::Rect& m) const {
    return storedRectOf(how, image.size(), m);
}

ScanView ScanView::part(const cv::Rect& measured) const {
    return {image(storedRect(measured)), how};
}

ScanView ScanView::colRange(int first, int end) const {
    return part({first, 0, end - first, rows()});
}

ScanView ScanView::rowRange(int first, int end) const {
    return part({0, first, cols(), end - first});
}

void ScanView::addColumnSums(int firstRow, int endRow, int channel,
                             std::span<std::uint32_t> sums) const {
    if (!isUpright(how)) {
        veltrana::addColumnSums(image, firstRow, endRow, channel, sums);
        return;
    }
    if (sums.size() < static_cast<std::size_t>(image.rows)) {
        return;
    }
    firstRow = std::clamp(firstRow, 0, image.cols);
    endRow = std::clamp(endRow, firstRow, image.cols);
    // measured rows are stored columns, mirrored for Right
    const int first = how == TrackSide::Left ? firstRow : image.cols - endRow;
    Sums perStoredRow(static_cast<std::size_t>(image.rows), 0);
    addStoredRowSums(image, first, first + (endRow - firstRow), channel, false, perStoredRow);
    // measured column x is stored row H - 1 - x
    addReversed(perStoredRow, sums);
}

void ScanView::addColumnSumsWithin(int firstRow, int endRow, int channel,
                                   std::span<std::uint32_t> within,
                                   std::span<std::uint32_t> all) const {
    firstRow = std::clamp(firstRow, 0, rows());
    endRow = std::clamp(endRow, firstRow, rows());
    if (!isUpright(how)) {
        veltrana::addColumnSums(image, firstRow, endRow, channel, within);
        for (std::size_t c = 0; c < all.size() && c < within.size(); ++c) {
            all[c] += within[c];
        }
        veltrana::addColumnSums(image, 0, firstRow, channel, all);
        veltrana::addColumnSums(image, endRow, rows(), channel, all);
        return;
    }
    const std::size_t n = static_cast<std::size_t>(image.rows);
    if (image.depth() != CV_8U || channel < 0 || channel >= image.channels() || within.size() < n ||
        all.size() < n) {
        return;
    }
    // measured rows are stored columns, mirrored for Right; each stored row
    // is read once, its three stretches one after the other
    const int first = how == TrackSide::Left ? firstRow : image.cols - endRow;
    const int end = first + (endRow - firstRow);
    for (int r = 0; r < image.rows; ++r) {
        const uchar* row = image.ptr<uchar>(r);
        const std::uint32_t middle = image.channels() == 1
                                         ? storedRowSum<1, false>(row, first, end, channel)
                                         : storedRowSum<3, false>(row, first, end, channel);
        const std::uint32_t outside =
            image.channels() == 1 ? storedRowSum<1, false>(row, 0, first, channel) +
                                        storedRowSum<1, false>(row, end, image.cols, channel)
                                  : storedRowSum<3, false>(row, 0, first, channel) +
                                        storedRowSum<3, false>(row, end, image.cols, channel);
        // measured column x is stored row H - 1 - x
        within[n - 1 - static_cast<std::size_t>(r)] += middle;
        all[n - 1 - static_cast<std::size_t>(r)] += middle + outside;
    }
}

void ScanView::addRowSums(int channel, std::span<std::uint32_t> sums, bool brightCount) const {
    if (!isUpright(how)) {
        addStoredRowSums(image, 0, image.cols, channel, brightCount, sums);
        return;
    }
    if (image.depth() != CV_8U || sums.size() < static_cast<std::size_t>(image.cols)) {
        return;
    }
    Sums perStoredColumn(static_cast<std::size_t>(image.cols), 0);
    if (brightCount) {
        addStoredBrightColumnCounts(image, channel, perStoredColumn);
    } else {
        veltrana::addColumnSums(image, 0, image.rows, channel, perStoredColumn);
    }
    if (how == TrackSide::Left) {
        for (std::size_t i = 0; i < perStoredColumn.size(); ++i) {
            sums[i] += perStoredColumn[i];
        }
    } else {
        addReversed(perStoredColumn, sums);
    }
}

cv::Mat ScanView::measuredImage() const {
    if (!isUpright(how) || image.empty()) {
        return image;
    }
    cv::Mat measured;
    if (how == TrackSide::Left) {
        cv::rotate(image, measured, cv::ROTATE_90_CLOCKWISE);
    } else {
        cv::transpose(image, measured);
        cv::flip(measured, measured, -1);
    }
    return measured;
}

cv::Mat ScanView::workingImage() const {
    cv::Mat working;
    if (image.empty()) {
        return working;
    }
    switch (how) {
    case TrackSide::Top:
    case TrackSide::Bottom:
        cv::rotate(image, working, cv::ROTATE_90_COUNTERCLOCKWISE);
        break;
    case TrackSide::Left:
        working = image;
        break;
    case TrackSide::Right:
        cv::flip(image, working, 1);
        break;
    }
    return working;
}

} // namespace veltrana
