#include "soundtrack/band_shape.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace veltrana {

namespace {

// The levels of the band's darkest and brightest few pixels: its 2nd and
// 98th percentiles, as whole 8-bit steps.
constexpr double kDarkPercentile = 0.02;
constexpr double kClearPercentile = 0.98;

// A pixel reads dark below, and clear above, this share of the way between
// the dark and the clear levels; between the two it keeps the reading of the
// pixel before it, so that grain at an edge does not count as more edges.
constexpr double kDarkShare = 0.3;
constexpr double kClearShare = 0.7;

using Histogram = std::array<std::int64_t, 256>;

// The band's levels counted, and how far its pixels stray from their row's
// mean, in one pass: every pixel of every frame's band goes through here.
struct Tally {
    Histogram counts{};
    double squares = 0; // about each row's mean, summed over the rows
    std::vector<double> rowMeans;
};

Tally tallyOf(const cv::Mat& strip) {
    Tally tally;
    tally.rowMeans.resize(static_cast<std::size_t>(strip.rows));
    // four histograms filled in turn, so that runs of one level (a band's
    // dark print) do not wait on the same count
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    const double columns = strip.cols;
    for (int r = 0; r < strip.rows; ++r) {
        const std::uint8_t* row = strip.ptr<std::uint8_t>(r);
        // whole numbers: 255^2 x the band's columns stays far below 2^63
        std::int64_t sum = 0;
        std::int64_t sumOfSquares = 0;
        int c = 0;
        for (; c + 4 <= strip.cols; c += 4) {
            for (int k = 0; k < 4; ++k) {
                ++counts[static_cast<std::size_t>(k)][row[c + k]];
            }
        }
        for (; c < strip.cols; ++c) {
            ++counts[0][row[c]];
        }
        for (c = 0; c < strip.cols; ++c) {
            sum += row[c];
            sumOfSquares += row[c] * row[c];
        }
        // the sum of (pixel - mean)^2, from the row's whole-number moments
        const double total = static_cast<double>(sum);
        tally.squares += static_cast<double>(sumOfSquares) - total * total / columns;
        tally.rowMeans[static_cast<std::size_t>(r)] = total / columns;
    }
    for (std::size_t level = 0; level < 256; ++level) {
        tally.counts[level] =
            std::int64_t{counts[0][level]} + counts[1][level] + counts[2][level] + counts[3][level];
    }
    return tally;
}

// the least level that this share of the pixels reaches
int percentile(const Histogram& counts, std::int64_t total, double share) {
    std::int64_t below = 0;
    for (int level = 0; level < 256; ++level) {
        below += counts[static_cast<std::size_t>(level)];
        if (static_cast<double>(below) >= share * static_cast<double>(total)) {
            return level;
        }
    }
    return 255;
}

// What a level reads as across the band: dark, clear or neither (both, on a
// band of one level).
constexpr std::uint8_t kDark = 1;
constexpr std::uint8_t kClear = 2;

// Whether a row reads dark, then clear, then dark again across.
bool readsEnclosed(const std::uint8_t* row, int columns,
                   const std::array<std::uint8_t, 256>& reads) {
    enum class Seen { Nothing, Dark, DarkClear };
    Seen seen = Seen::Nothing;
    for (int c = 0; c < columns; ++c) {
        const std::uint8_t reading = reads[row[c]];
        const bool dark = (reading & kDark) != 0;
        if (dark && seen == Seen::Nothing) {
            seen = Seen::Dark;
        } else if ((reading & kClear) != 0 && seen == Seen::Dark) {
            seen = Seen::DarkClear;
        } else if (dark && seen == Seen::DarkClear) {
            return true;
        }
    }
    return false;
}

// The rows of a bar, first..last.
struct BarRun {
    std::size_t first = 0;
    std::size_t last = 0;
};

// The lesser step at a bar's two edges, read `edge` rows beyond its ends;
// 0 when an edge lies beyond the band.
double edgeStep(const std::vector<double>& depth, BarRun run, std::size_t edge) {
    if (run.first < edge || run.last + edge >= depth.size()) {
        return 0;
    }
    const double deepest =
        *std::max_element(depth.begin() + static_cast<std::ptrdiff_t>(run.first),
                          depth.begin() + static_cast<std::ptrdiff_t>(run.last) + 1);
    return std::min(depth[run.first - edge], depth[run.last + edge]) - deepest;
}

// The greatest edge step of the runs of at least `least` rows within
// `within` of the extreme level.
double sharpestBar(const std::vector<double>& depth, double within, std::size_t least,
                   std::size_t edge) {
    double best = 0;
    std::size_t r = 0;
    while (r < depth.size()) {
        if (depth[r] > within) {
            ++r;
            continue;
        }
        BarRun run{r, r};
        while (run.last + 1 < depth.size() && depth[run.last + 1] <= within) {
            ++run.last;
        }
        if (run.last - run.first + 1 >= least) {
            best = std::max(best, edgeStep(depth, run, edge));
        }
        r = run.last + 1;
    }
    return best;
}

} // namespace

double bandBar(std::span<const double> rowMeans, int dark, int clear, int framePitch) {
    const double contrast = clear - dark;
    if (framePitch <= 0 || contrast <= 0) {
        return 0;
    }
    const auto least = static_cast<std::size_t>(
        std::max<long>(kLeastBarRows, std::lround(kLeastBarShare * framePitch)));
    const auto edge = static_cast<std::size_t>(kBarEdgeRows);
    // each row's distance from the dark level, then from the clear one
    std::vector<double> fromDark;
    std::vector<double> fromClear;
    for (const double mean : rowMeans) {
        fromDark.push_back(mean - dark);
        fromClear.push_back(clear - mean);
    }
    const double within = kBarLevelShare * contrast;
    return std::max(sharpestBar(fromDark, within, least, edge),
                    sharpestBar(fromClear, within, least, edge)) /
           contrast;
}

BandShape bandShape(const cv::Mat& strip, int framePitch) {
    BandShape shape;
    if (strip.empty() || strip.type() != CV_8UC1) {
        return shape;
    }
    // the dark and clear levels
    const Tally tally = tallyOf(strip);
    const std::int64_t total = static_cast<std::int64_t>(strip.rows) * strip.cols;
    shape.dark = percentile(tally.counts, total, kDarkPercentile);
    shape.clear = percentile(tally.counts, total, kClearPercentile);
    // the rows that read dark, clear, dark across
    const double contrast = shape.clear - shape.dark;
    const double darkBelow = shape.dark + kDarkShare * contrast;
    const double clearAbove = shape.dark + kClearShare * contrast;
    std::array<std::uint8_t, 256> reads{};
    for (int level = 0; level < 256; ++level) {
        reads[static_cast<std::size_t>(level)] = static_cast<std::uint8_t>(
            (level <= darkBelow ? kDark : 0) | (level >= clearAbove ? kClear : 0));
    }
    int enclosed = 0;
    for (int r = 0; r < strip.rows; ++r) {
        enclosed += readsEnclosed(strip.ptr<std::uint8_t>(r), strip.cols, reads);
    }
    shape.enclosedShare = static_cast<double>(enclosed) / strip.rows;
    shape.acrossRms = std::sqrt(std::max(tally.squares, 0.0) / static_cast<double>(total));
    shape.alongBar = bandBar(tally.rowMeans, shape.dark, shape.clear, framePitch);
    return shape;
}

std::optional<bool> looksLikeTrack(const BandShape& shape, SoundtrackType type) {
    const int contrast = shape.clear - shape.dark;
    if (contrast < kLeastShapeContrast) {
        // a variable-area track has dark print beside its clear area however
        // silent it is; an even density may be a silent variable-density one
        if (type == SoundtrackType::VariableDensity35) {
            return std::nullopt;
        }
        return false;
    }
    if (type == SoundtrackType::VariableDensity35) {
        return shape.acrossRms <= kMostAcrossShare * contrast && shape.alongBar < kMostAlongBar;
    }
    return shape.enclosedShare >= kLeastEnclosedShare;
}

} // namespace veltrana
