#include "movie/frame_geometry.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"
#include "geometry/trace.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cstdint>

namespace veltrana {

namespace {

// Fractions of the working image's height (rows, along the film) for the
// 16 mm pitch measurement: the top part left out, and where the second, third
// and fourth of the four windows begin.
constexpr double kPitchTopLeftOutShare = 0.2;
constexpr std::array<double, 3> kPitchWindowStartShares = {0.25, 0.5, 0.7};

// Brightness factors: fractions of full scale (255) above which a pixel
// counts as bright.
constexpr float kDarkImageMean = 32.0f;    // an image mean below this is dark
constexpr float kBrightImageMean = 100.0f; // for the cut, from this up it is bright
constexpr double kDarkImageFactor = 0.015;
constexpr double kImageFactor = 0.2;
constexpr double kBrightImageFactor = 0.25;

// Fraction of the working image's width (columns) left of the rows' bright
// fraction in the cut: the soundtrack side.
constexpr double kCutLeftOutShare = 0.2;

// Fractions of the working image's height in which the frame start is looked
// for, [begin, end): for one frame and for a long 16 mm strip of four.
constexpr double kFrameStartBeginShare = 0.05;
constexpr double kFrameStartEndShare = 0.35;
constexpr double kStripFrameStartBeginShare = 0.01;
constexpr double kStripFrameStartEndShare = 0.18;

// Fractions of the working image's width in which the picture edge is looked
// for, from the first column to the last: the last differs by film and, for
// variable area, by the frame's brightness.
constexpr double kPictureEdgeBeginShare = 0.06;
constexpr double kPictureEdgeEndDensityShare = 0.3;
constexpr double kPictureEdgeEndDarkShare = 0.34;
constexpr double kPictureEdgeEndShare = 0.33;
// Changes of the columns' bright fraction that make a picture edge: a fall
// below this on a dark frame, a rise above the other otherwise.
constexpr double kPictureEdgeDarkFall = -0.005;
constexpr double kPictureEdgeRise = 0.09;
// 35 mm variable area: the picture begins this far past the band's last
// edge. A fraction of the working image's height, though it moves a column:
// it is the amount the cut has always used.
constexpr double kPictureEdgeAreaShiftShare = 0.05;

// An inclusive span of rows or columns.
struct Span {
    int first;
    int last;
};

// first..last clipped to 0..size - 1 (size >= 1), never empty: a span lying
// wholly past the end keeps the last row or column. Computed in 64 bits so
// that a huge manual resolution cannot overflow.
Span clipSpan(std::int64_t first, std::int64_t last, int size) {
    const std::int64_t end = size - 1;
    first = std::clamp<std::int64_t>(first, 0, end);
    last = std::clamp<std::int64_t>(last, first, end);
    return {static_cast<int>(first), static_cast<int>(last)};
}

cv::Rect regionOf(Span rows, Span columns) {
    return {columns.first, rows.first, columns.last - columns.first + 1,
            rows.last - rows.first + 1};
}

// Index of the strongest rise of values within [begin, end), or -1 when the
// window holds no rise.
int strongestRise(const std::vector<float>& values, int begin, int end) {
    const float highest = riseMaximum(values, begin, end);
    if (highest == 0.0f) {
        return -1;
    }
    return firstIndexOf(values, highest, begin, end);
}

// Four frame pitches of a 16 mm working image, measured between the strongest
// rises from frame line to picture in four windows down the image; 0 when the
// first or the last window holds no rise.
int measuredFourPitches(const cv::Mat& image) {
    const int height = image.rows;

    // mean brightness and the bright mask at the measuring factor
    const float mean = imageMean(image);
    const double factor = brightnessFactor(mean, BrightnessUse::Measure);
    trace("mean = %f\n", static_cast<double>(mean));
    trace("pro = %f\n", factor);

    // the top fifth is left out: it may hold the end of the frame before
    const int top = roundHalfAway(kPitchTopLeftOutShare * height);
    trace("poczatek = %f\n", static_cast<double>(top));
    const int p1 = roundHalfAway(kPitchWindowStartShares[0] * height);
    const int p2 = roundHalfAway(kPitchWindowStartShares[1] * height);
    const int p3 = roundHalfAway(kPitchWindowStartShares[2] * height);
    trace("poczatek1 = %f\n", static_cast<double>(p1));
    trace("poczatek2 = %f\n", static_cast<double>(p2));
    trace("poczatek3 = %f\n", static_cast<double>(p3));

    // bright fraction of each row from the top on, and its change row to row
    const int rows = height - top;
    const cv::Mat mask = brightMask(image.rowRange(top, height), factor);
    const std::vector<float> bright = rowProfile(mask, 0, rows);
    const std::vector<float> rise = profileDifference(bright);

    // the strongest rise of each window
    const int max1 = strongestRise(rise, 1, p1);
    const int max2 = strongestRise(rise, p1, p2);
    const int max3 = strongestRise(rise, p2, p3);
    const int max4 = strongestRise(rise, p3, rows - 1);

    const auto from = [](int position, int begin) { return position < 0 ? -1 : position - begin; };
    trace("max1 = %d max2 = %d max3 = %d max4 = %d\n", max1, from(max2, p1), from(max3, p2),
          from(max4, p3));
    trace("max1 = %d max2 = %d max3 = %d max4 = %d\n", from(max1, 1), from(max2, 1), from(max3, 1),
          from(max4, 1));
    if (max1 < 0 || max4 < 0) {
        return 0;
    }
    const int maxmax = (max4 - max1) / 3;
    trace("maxmax = %d\n", maxmax);
    trace("maxmax = %d\n", maxmax);
    return 4 * maxmax;
}

} // namespace

float imageMean(const cv::Mat& image) {
    return profileMean(columnProfile(image, 0, image.rows));
}

double brightnessFactor(float mean, BrightnessUse use) {
    if (mean < kDarkImageMean) {
        return kDarkImageFactor;
    }
    // A mean of exactly 100 counts as bright.
    if (use == BrightnessUse::Cut && mean >= kBrightImageMean) {
        return kBrightImageFactor;
    }
    return kImageFactor;
}

cv::Mat brightMask(const cv::Mat& image, double factor) {
    cv::Mat grey;
    if (image.channels() == 3 || image.channels() == 4) {
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    } else if (image.channels() == 1) {
        grey = image;
    } else {
        cv::extractChannel(image, grey, 0);
    }
    // for 8-bit data the threshold compares grey > floor(255 x factor),
    // which is the same as grey > 255 x factor for whole grey values
    cv::Mat mask;
    cv::threshold(grey, mask, 255.0 * factor, 1.0, cv::THRESH_BINARY);
    return mask;
}

namespace {

// colour rows turned grey at a time: few enough to stay in the cache, many
// enough that each conversion's own cost does not count
constexpr int kGreyRowsAtATime = 16;

// Adds one grey row's bright pixels to the columns' counts when asked, and
// returns how many there are.
std::uint32_t countBrightRow(const uchar* grey, int threshold, bool toColumns,
                             std::span<std::uint32_t> perColumn) {
    std::uint32_t count = 0;
    const std::size_t columns = perColumn.size();
    if (toColumns) {
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint32_t bright = grey[x] > threshold ? 1 : 0;
            perColumn[x] += bright;
            count += bright;
        }
        return count;
    }
    for (std::size_t x = 0; x < columns; ++x) {
        count += grey[x] > threshold ? 1 : 0;
    }
    return count;
}

} // namespace

void addBrightCounts(const cv::Mat& image, double factor, int firstRow, int endRow,
                     std::span<std::uint32_t> perColumn, std::span<std::uint32_t> perRow) {
    CV_Assert(image.depth() == CV_8U && (image.channels() == 1 || image.channels() == 3));
    CV_Assert(perColumn.size() == static_cast<std::size_t>(image.cols));
    CV_Assert(perRow.empty() || perRow.size() == static_cast<std::size_t>(image.rows));
    // cv::threshold compares 8-bit values with the threshold's floor
    const int threshold = cvFloor(255.0 * factor);
    const int first = std::max(firstRow, 0);
    const int end = std::min(endRow, image.rows);
    // every row when rows are counted, only the columns' rows otherwise
    const int from = perRow.empty() ? first : 0;
    const int to = perRow.empty() ? end : image.rows;
    cv::Mat grey;
    for (int y = from; y < to; y += kGreyRowsAtATime) {
        const cv::Mat rows = image.rowRange(y, std::min(y + kGreyRowsAtATime, to));
        if (rows.channels() == 3) {
            cv::cvtColor(rows, grey, cv::COLOR_BGR2GRAY);
        } else {
            grey = rows;
        }
        for (int r = 0; r < grey.rows; ++r) {
            const int row = y + r;
            const std::uint32_t count =
                countBrightRow(grey.ptr<uchar>(r), threshold, row >= first && row < end, perColumn);
            if (!perRow.empty()) {
                perRow[static_cast<std::size_t>(row)] += count;
            }
        }
    }
}

FrameGeometry measureFrameGeometry(SoundtrackType type, ScanResolution resolution,
                                   bool cutSoundtrack, const cv::Mat& workingImage) {
    const FilmStandard& sizes = filmStandard(type);
    FrameGeometry geometry;
    geometry.sound_width = centimetresToPixels(resolution.dpiX, sizes.bandLeftOutOfMovieCm);
    if (is35mm(type)) {
        if (cutSoundtrack) {
            geometry.image_width = centimetresToPixels(resolution.dpiX, sizes.movieFrameWidthCm);
            geometry.image_length =
                centimetresToPixels(resolution.dpiY, sizes.movieFramePictureLengthCm);
        } else {
            geometry.image_width = 0;
            geometry.image_length = centimetresToPixels(resolution.dpiY, sizes.movieFrameLengthCm);
        }
    } else {
        geometry.image_width = centimetresToPixels(resolution.dpiX, sizes.movieFrameWidthCm);
        geometry.image_length = workingImage.empty() ? 0 : measuredFourPitches(workingImage);
        if (geometry.image_length <= 0) {
            // no frame edge to measure from: four frames of the nominal pitch
            geometry.image_length = 4 * centimetresToPixels(resolution.dpiY, sizes.framePitchCm);
            geometry.nominalPitch = true;
        }
    }
    trace("sound_width = %d image_length = %d image_width = %d\n", geometry.sound_width,
          geometry.image_length, geometry.image_width);
    return geometry;
}

FrameCutProfiles frameCutProfiles(const cv::Mat& workingImage, bool cutSoundtrack) {
    FrameCutProfiles p;
    p.width = workingImage.cols;
    p.height = workingImage.rows;
    if (p.width == 0 || p.height == 0) {
        return p;
    }
    // mean brightness of this frame and its bright mask
    p.mean = imageMean(workingImage);
    const double factor = brightnessFactor(p.mean, BrightnessUse::Cut);
    trace("pro = %f\n", factor);
    const cv::Mat mask = brightMask(workingImage, factor);

    // bright fraction of each row right of the soundtrack
    const int firstColumn = cutProfileFirstColumn(p.width);
    p.rowBright = rowProfile(mask.colRange(firstColumn, p.width), 0, p.height);
    if (cutSoundtrack) {
        // bright fraction of each column
        p.columnBright = columnProfile(mask, 0, p.height);
    }
    return p;
}

int cutProfileFirstColumn(int width) {
    return std::max(roundHalfAway(kCutLeftOutShare * width) - 1, 0);
}

namespace {

// The first column of the picture, right of the soundtrack band: the last
// edge of the band before the picture's, into dark on a dark frame and into
// bright otherwise, moved past a variable-area track's own edge.
int pictureEdgeOf(const FrameCutProfiles& p, SoundtrackType type) {
    const int width = p.width;
    // change of the bright fraction from column to column
    const std::vector<float> columnChange = profileDifference(p.columnBright);
    const int od = roundHalfAway(kPictureEdgeBeginShare * width);
    const double endFraction =
        type == SoundtrackType::VariableDensity35
            ? kPictureEdgeEndDensityShare
            : (p.mean < kDarkImageMean ? kPictureEdgeEndDarkShare : kPictureEdgeEndShare);
    const int koniec = roundHalfAway(endFraction * width);
    trace("od = %d koniec = %d\n", od, koniec);

    const int lastColumn = std::min(koniec, static_cast<int>(columnChange.size()) - 1);
    int f = 0;
    for (int c = lastColumn; c >= od; --c) {
        const float d = columnChange[static_cast<std::size_t>(c)];
        if (p.mean < kDarkImageMean ? d < kPictureEdgeDarkFall : d > kPictureEdgeRise) {
            f = c;
            break;
        }
    }
    if (type == SoundtrackType::VariableArea35) {
        const int n = roundHalfAway(kPictureEdgeAreaShiftShare * p.height);
        trace("N = %d\n", n);
        f += n;
    }
    return f;
}

// The regions of the frame rows [x0, e] within `columns`: one, or on a long
// 16 mm strip four, each beginning on the last row of the one before.
std::vector<cv::Rect> cutPiecesOf(int x0, std::int64_t e, std::int64_t frameLength, bool strip,
                                  int height, const Span& columns) {
    std::vector<cv::Rect> pieces;
    if (!strip) {
        pieces.push_back(regionOf(clipSpan(x0, e, height), columns));
        return pieces;
    }
    const std::int64_t q = frameLength / 4;
    for (int k = 1; k <= 4; ++k) {
        trace("kk = %d\n", k);
        const std::int64_t first = x0 + (k - 1) * (q - 1);
        pieces.push_back(regionOf(clipSpan(first, first + q - 1, height), columns));
    }
    return pieces;
}

} // namespace

FrameCut frameCutFromProfiles(const FrameCutProfiles& p, const FrameGeometry& geometry,
                              SoundtrackType type, bool longStrip, bool cutSoundtrack) {
    FrameCut cut;
    const int width = p.width;
    const int height = p.height;
    if (width == 0 || height == 0) {
        return cut;
    }
    const bool strip = longStrip && type == SoundtrackType::VariableArea16;

    // the change of the rows' bright fraction row to row
    const std::vector<float> rowRise = profileDifference(p.rowBright);

    // frame start: the strongest rise from frame line into picture
    const int str =
        truncateToInt((strip ? kStripFrameStartBeginShare : kFrameStartBeginShare) * height);
    const int sto =
        truncateToInt((strip ? kStripFrameStartEndShare : kFrameStartEndShare) * height);
    trace("str = %d sto = %d\n", str, sto);
    const int x0 = std::max(firstIndexOf(rowRise, riseMaximum(rowRise, str, sto), str, sto), 0);
    const std::int64_t e = static_cast<std::int64_t>(x0) + geometry.image_length - 1;

    // columns: from the picture edge on, or all of them
    const int f = cutSoundtrack ? pictureEdgeOf(p, type) : 0;
    const std::int64_t z =
        cutSoundtrack ? static_cast<std::int64_t>(f) + geometry.image_width : width - 1;
    trace("x= %d\n", x0);
    trace("y = %lld\n", static_cast<long long>(e));
    trace("z=%lld\n", static_cast<long long>(z));
    trace("N=%d\n", f);

    cut.frameStart = x0;
    cut.pictureEdge = f;
    cut.pieces = cutPiecesOf(x0, e, geometry.image_length, strip, height, clipSpan(f, z, width));
    return cut;
}

FrameCut findFrameCut(const cv::Mat& workingImage, const FrameGeometry& geometry,
                      SoundtrackType type, bool longStrip, bool cutSoundtrack) {
    return frameCutFromProfiles(frameCutProfiles(workingImage, cutSoundtrack), geometry, type,
                                longStrip, cutSoundtrack);
}

std::vector<cv::Mat> cutFrame(const cv::Mat& workingImage, const FrameGeometry& geometry,
                              SoundtrackType type, bool longStrip, bool cutSoundtrack) {
    const FrameCut cut = findFrameCut(workingImage, geometry, type, longStrip, cutSoundtrack);
    std::vector<cv::Mat> pieces;
    pieces.reserve(cut.pieces.size());
    for (const cv::Rect& region : cut.pieces) {
        pieces.push_back(workingImage(region));
    }
    return pieces;
}

} // namespace veltrana
