#include "soundtrack/strip.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"
#include "geometry/trace.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace veltrana {

namespace {

// The edge thresholds are single-precision constants compared in double.
constexpr float kEdgeThreshold = 0.033f;

// Shares of the working image's width (columns, across the film).
struct WidthShares {
    // variable area: the run of unchanged columns, after a change, at whose
    // end the edge search starts
    double flatRun;
    // the part a variable-density band's strongest brightening is looked for in
    double densitySearch;
    // the part the edge cutter looks for the strongest brightening in, from
    // the band's side: 16 mm and 35 mm
    double edgeSearch16;
    double edgeSearch35;
};
constexpr WidthShares kWidthShares{0.02, 0.2, 0.07, 0.02};

// Shares of the track width Ws.
struct TrackShares {
    // the margin the variable-area band reaches past each edge found, and
    // where its last column lies when no falling edge is found
    double areaMargin;
    double areaLastWithoutFall;
    // edge cutter, 35 mm variable density: the band starts this far past the
    // edge and is this much narrower than Ws
    double densityEdgeOffset;
    double densityEdgeNarrowing;
    // edge cutter, 16 mm: the band is this much wider than Ws
    double area16EdgeWidening;
};
constexpr TrackShares kTrackShares{0.1, 0.9, 0.04, 0.26, 0.1};

// Shares of the column of a variable-density band's strongest brightening:
// the band's first and last columns.
constexpr double kDensityFirstShare = 0.1;
constexpr double kDensityLastShare = 0.85;

int size(const std::vector<float>& v) {
    return static_cast<int>(v.size());
}

// Column profile of a bright/dark mask of the image: per column, the fraction
// of pixels brighter than mid-grey.
std::vector<float> brightFractionProfile(const cv::Mat& workingImage) {
    cv::Mat mask;
    cv::threshold(greyPixels(workingImage), mask, 127.5, 1, cv::THRESH_BINARY);
    return columnProfile(mask, 0, mask.rows);
}

// A DOWN frame carries its band on the other side: the searches run on the
// mirrored profile, so they look at that side exactly as they look at the
// band side of an UP frame, and the range found is mirrored back.
std::vector<float> orientedProfile(std::vector<float> profile, bool rotationUp) {
    if (!rotationUp) {
        ReverseSamples(profile);
    }
    return profile;
}

StripRange mirroredBack(StripRange range, int width, bool rotationUp) {
    if (rotationUp) {
        return range;
    }
    return {width - 1 - range.last, width - 1 - range.first};
}

// d[j] is strictly beyond every neighbour within `reach` places on either side
// (neighbours outside the array do not exist and are skipped).
bool beyondNeighbours(const std::vector<float>& d, int j, int reach, bool above) {
    const float v = d[static_cast<std::size_t>(j)];
    for (int k = j - reach; k <= j + reach; ++k) {
        if (k == j || k < 0 || k >= size(d)) {
            continue;
        }
        const float n = d[static_cast<std::size_t>(k)];
        if (above ? !(v > n) : !(v < n)) {
            return false;
        }
    }
    return true;
}

// Share of the width, from the band's side, in which the edge cutter looks
// for the strongest brightening.
double edgeSearchShare(SoundtrackType type) {
    return type == SoundtrackType::VariableArea16 ? kWidthShares.edgeSearch16
                                                  : kWidthShares.edgeSearch35;
}

StripRange variableAreaRange(const std::vector<float>& d, int width, int trackWidth) {
    const int n = roundHalfAway(kWidthShares.flatRun * width);
    const int searchEnd = std::min(trackWidth, size(d));

    // start: just after the first change followed by a flat run of n columns
    int start = 1;
    if (n < trackWidth) {
        for (int i = std::max(n, 0); i < searchEnd; ++i) {
            bool flat = d[static_cast<std::size_t>(i - n)] != 0.0f;
            for (int k = i - n + 1; flat && k <= i; ++k) {
                flat = d[static_cast<std::size_t>(k)] == 0.0f;
            }
            if (flat) {
                start = i;
                break;
            }
        }
    }

    // rising edge: the first strong local maximum of the difference
    int rise = 0;
    for (int j = std::max(start, 0); j < searchEnd; ++j) {
        if (static_cast<double>(d[static_cast<std::size_t>(j)]) >
                static_cast<double>(kEdgeThreshold) &&
            beyondNeighbours(d, j, 5, true)) {
            rise = j;
            break;
        }
    }

    // falling edge: the last strong local minimum after the rise
    int fall = 0;
    const int fallStart = std::max(rise != 0 ? rise : start, 0);
    for (int t = fallStart; t < std::min(trackWidth - 6, size(d)); ++t) {
        if (static_cast<double>(d[static_cast<std::size_t>(t)]) <
                -static_cast<double>(kEdgeThreshold) &&
            beyondNeighbours(d, t, 5, false)) {
            fall = t;
        }
    }

    const int margin = roundHalfAway(kTrackShares.areaMargin * trackWidth);
    StripRange range;
    range.first = rise != 0 ? rise - margin : margin;
    range.last =
        fall != 0 ? fall + margin : roundHalfAway(kTrackShares.areaLastWithoutFall * trackWidth);
    return range;
}

StripRange variableDensityRange(const std::vector<float>& d, int width) {
    const int n = roundHalfAway(kWidthShares.densitySearch * width);
    const float strongest = riseMaximum(d, 1, n);
    StripRange range{1, 1};
    for (int i = 0; i < std::min(n, size(d)); ++i) {
        if (d[static_cast<std::size_t>(i)] == strongest) {
            range = {roundHalfAway(kDensityFirstShare * i), roundHalfAway(kDensityLastShare * i)};
            trace("x=%d y=%d\n", range.first, range.last);
        }
    }
    return range;
}

} // namespace

std::optional<ColorElement> colorElementFromName(char name) {
    switch (name) {
    case 'B':
    case 'b':
        return ColorElement::B;
    case 'G':
    case 'g':
        return ColorElement::G;
    case 'R':
    case 'r':
        return ColorElement::R;
    case 'Y':
    case 'y':
        return ColorElement::Y;
    default:
        return std::nullopt;
    }
}

int channelOf(ColorElement element) {
    switch (element) {
    case ColorElement::B:
        return 0;
    case ColorElement::G:
        return 1;
    case ColorElement::R:
        return 2;
    case ColorElement::Y:
        break;
    }
    return 0;
}

cv::Mat greyPixels(const cv::Mat& image) {
    if (image.channels() == 1) {
        return image;
    }
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

int stripProfileEntries(SoundtrackType type, const SoundtrackGeometry& geometry, int width,
                        bool fromEdge) {
    // the searches read the difference array up to a few entries past these
    constexpr int kBeyond = 8;
    int needed = 0;
    if (fromEdge) {
        needed = roundHalfAway(edgeSearchShare(type) * width);
    } else if (type == SoundtrackType::VariableDensity35) {
        needed = roundHalfAway(kWidthShares.densitySearch * width);
    } else {
        needed = geometry.trackWidth;
    }
    return std::clamp(needed + kBeyond, 0, std::max(width, 0));
}

StripRange stripRangeFromBrightFraction(std::span<const float> orientedBrightFraction, int width,
                                        SoundtrackType type, const SoundtrackGeometry& geometry,
                                        bool rotationUp) {
    // the change of the bright fraction from column to column
    const std::vector<float> d = profileDifference(orientedBrightFraction);
    StripRange range{1, 1};
    switch (type) {
    case SoundtrackType::VariableArea35:
    case SoundtrackType::VariableArea16:
        range = variableAreaRange(d, width, geometry.trackWidth);
        trace("x=%d y=%d\n", range.first, range.last);
        break;
    case SoundtrackType::VariableDensity35:
        range = variableDensityRange(d, width);
        break;
    }
    return mirroredBack(range, width, rotationUp);
}

StripRange stripRangeByProfile(const cv::Mat& workingImage, SoundtrackType type,
                               const SoundtrackGeometry& geometry, bool rotationUp) {
    // fraction of bright pixels per column
    return stripRangeFromBrightFraction(
        orientedProfile(brightFractionProfile(workingImage), rotationUp), workingImage.cols, type,
        geometry, rotationUp);
}

StripRange stripRangeFromBrightness(std::span<const float> orientedBrightness, int width,
                                    SoundtrackType type, const SoundtrackGeometry& geometry,
                                    bool rotationUp) {
    const int trackWidth = geometry.trackWidth;
    // the change of brightness from column to column
    const std::vector<float> d = profileDifference(orientedBrightness);

    // the strongest brightening within the first 2 % (7 % for 16 mm) of the width
    const int n = roundHalfAway(edgeSearchShare(type) * width);
    const float strongest = riseMaximum(d, 1, n);
    // no difference equals it only when nothing there rises: cut from the border
    const int edge = std::max(lastIndexOf(d, strongest, 0, n), 0);

    StripRange range;
    switch (type) {
    case SoundtrackType::VariableArea35:
        range = {edge, edge + trackWidth};
        break;
    case SoundtrackType::VariableDensity35:
        range.first = edge + roundHalfAway(kTrackShares.densityEdgeOffset * trackWidth);
        range.last = range.first + trackWidth -
                     roundHalfAway(kTrackShares.densityEdgeNarrowing * trackWidth);
        break;
    case SoundtrackType::VariableArea16:
        range = {edge,
                 edge + trackWidth + roundHalfAway(kTrackShares.area16EdgeWidening * trackWidth)};
        break;
    }
    return mirroredBack(range, width, rotationUp);
}

StripRange stripRangeFromEdge(const cv::Mat& workingImage, SoundtrackType type,
                              const SoundtrackGeometry& geometry, bool rotationUp) {
    // brightness per column (channel 0)
    return stripRangeFromBrightness(
        orientedProfile(columnProfile(workingImage, 0, workingImage.rows), rotationUp),
        workingImage.cols, type, geometry, rotationUp);
}

StripRange clipStripRange(StripRange range, int width) {
    const int lastColumn = std::max(width - 1, 0);
    range.first = std::clamp(range.first, 0, lastColumn);
    range.last = std::clamp(range.last, range.first, lastColumn);
    return range;
}

cv::Mat cutStrip(cv::Mat& workingImage, StripRange range, ColorElement element) {
    if (workingImage.empty()) {
        return {};
    }
    range = clipStripRange(range, workingImage.cols);
    if (workingImage.channels() == 1) {
        return workingImage.colRange(range.first, range.last + 1).clone();
    }
    if (element == ColorElement::Y) {
        // the working image itself turns grey: the frame profile is read from it later
        cv::cvtColor(greyPixels(workingImage), workingImage, cv::COLOR_GRAY2BGR);
    }
    cv::Mat strip;
    cv::extractChannel(workingImage.colRange(range.first, range.last + 1), strip,
                       channelOf(element));
    return strip;
}

cv::Mat cutStripByProfile(cv::Mat& workingImage, SoundtrackType type,
                          const SoundtrackGeometry& geometry, ColorElement element,
                          bool rotationUp) {
    return cutStrip(workingImage, stripRangeByProfile(workingImage, type, geometry, rotationUp),
                    element);
}

cv::Mat cutStripFromEdge(cv::Mat& workingImage, SoundtrackType type,
                         const SoundtrackGeometry& geometry, ColorElement element,
                         bool rotationUp) {
    return cutStrip(workingImage, stripRangeFromEdge(workingImage, type, geometry, rotationUp),
                    element);
}

namespace {

// With removeDc the samples' mean is subtracted and then 128 more.
void centre(std::vector<float>& samples) {
    const float mean = profileMean(samples);
    constexpr float kHalfScale = 128.0f; // 2^8 x 0.5
    for (float& s : samples) {
        s -= mean;
        s -= kHalfScale;
    }
}

} // namespace

std::vector<float> stripToSamples(const cv::Mat& strip, bool removeDc) {
    std::vector<float> samples(static_cast<std::size_t>(strip.rows), 0.0f);
    if (strip.cols > 0) {
        const float width = static_cast<float>(strip.cols);
        for (int r = 0; r < strip.rows; ++r) {
            const uchar* row = strip.ptr<uchar>(r);
            // summed from the last column to the first
            float sum = 0.0f;
            for (int c = strip.cols - 1; c >= 0; --c) {
                sum += static_cast<float>(row[c]);
            }
            samples[static_cast<std::size_t>(r)] = sum / width;
        }
    }
    if (removeDc) {
        centre(samples);
    }
    return samples;
}

std::vector<float> samplesFromRowSums(std::span<const std::uint32_t> rowSums, int stripWidth,
                                      bool removeDc) {
    std::vector<float> samples(rowSums.size(), 0.0f);
    if (stripWidth > 0) {
        const float width = static_cast<float>(stripWidth);
        for (std::size_t r = 0; r < rowSums.size(); ++r) {
            samples[r] = static_cast<float>(rowSums[r]) / width;
        }
    }
    if (removeDc) {
        centre(samples);
    }
    return samples;
}

} // namespace veltrana
