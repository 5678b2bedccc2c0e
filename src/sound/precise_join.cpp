#include "sound/precise_join.h"

#include "geometry/rounding.h"
#include "sound/fractional_shift.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace veltrana {

namespace {

// A band whose own peak correlates less than this cannot settle the
// fraction, however sharp its peak: on a silent track lit unevenly the 8-bit
// staircase of the fading light is sharp structure of the scan, not the film.
constexpr double kMinDecidingCorrelation = 0.5;

// A profile whose row-to-row changes carry more than this share of what
// white noise of its variance would is taken for noise (see isShaped).
constexpr double kWhitenessLimit = 0.5;

// Step of the fine grid of fractional shifts around the parabola's peak, and
// how many steps it reaches either way.
constexpr double kFineStepRows = 0.02;
constexpr int kFineSteps = 6;
// A band whose high-passed profile varies less than this (per row, squared
// relative units: a standard deviation of 0.1 %, a tenth of an 8-bit step at
// mid-grey) shows no structure: a silent track under uneven light keeps only
// the light's faint curvature, which would correlate with anything smooth.
constexpr double kFlatVariance = 1e-6;

bool isLongStrip16(SoundtrackType type, bool longStrip) {
    return longStrip && type == SoundtrackType::VariableArea16;
}

// Running sums: entry i holds the sum over values[0 .. i).
struct Prefix {
    std::vector<double> sum;
    std::vector<double> squares;
};

Prefix prefixOf(std::span<const float> values) {
    Prefix p;
    p.sum.assign(values.size() + 1, 0.0);
    p.squares.assign(values.size() + 1, 0.0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        p.sum[i + 1] = p.sum[i] + v;
        p.squares[i + 1] = p.squares[i] + v * v;
    }
    return p;
}

// Pearson correlation from sums over n pairs; nothing when either side is flat.
std::optional<double> pearson(double sx, double sy, double sxx, double syy, double sxy, int n) {
    if (n < 3) {
        return std::nullopt;
    }
    const double vx = sxx - sx * sx / n;
    const double vy = syy - sy * sy / n;
    if (!(vx > kFlatVariance * n) || !(vy > kFlatVariance * n)) {
        return std::nullopt;
    }
    return std::clamp((sxy - sx * sy / n) / std::sqrt(vx * vy), -1.0, 1.0);
}

// dots[d] = sum over i of previous[d + i] x current[i], for every shift d in
// 0 .. previous.size() - 1: the overlap sums of all shifts at once, by FFT.
std::vector<double> overlapDots(std::span<const float> previous, std::span<const float> current) {
    const int lp = static_cast<int>(previous.size());
    const int lc = static_cast<int>(current.size());
    const int n = cv::getOptimalDFTSize(lp + lc);
    cv::Mat a = cv::Mat::zeros(1, n, CV_64F);
    cv::Mat b = cv::Mat::zeros(1, n, CV_64F);
    for (int i = 0; i < lp; ++i) {
        a.at<double>(i) = previous[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < lc; ++i) {
        b.at<double>(i) = current[static_cast<std::size_t>(i)];
    }
    cv::Mat fa;
    cv::Mat fb;
    cv::Mat product;
    cv::Mat r;
    cv::dft(a, fa);
    cv::dft(b, fb);
    cv::mulSpectrums(fa, fb, product, 0, true);
    cv::idft(product, r, cv::DFT_REAL_OUTPUT | cv::DFT_SCALE);
    std::vector<double> dots(static_cast<std::size_t>(lp));
    for (int d = 0; d < lp; ++d) {
        dots[static_cast<std::size_t>(d)] = r.at<double>(d);
    }
    return dots;
}

// One band of both frames and its correlation at every whole shift.
struct BandMatch {
    SearchBand band = SearchBand::Track;
    std::span<const float> previous;
    std::span<const float> current;
    std::vector<std::optional<double>> correlation; // index d - firstShift
};

BandMatch matchBand(SearchBand band, std::span<const float> previous,
                    std::span<const float> current, int firstShift, int lastShift) {
    BandMatch m;
    m.band = band;
    m.previous = previous;
    m.current = current;
    const int lp = static_cast<int>(previous.size());
    const int lc = static_cast<int>(current.size());
    const Prefix pp = prefixOf(previous);
    const Prefix pc = prefixOf(current);
    const std::vector<double> dots = overlapDots(previous, current);
    for (int d = firstShift; d <= lastShift; ++d) {
        const int n = std::min(lc, lp - d);
        const auto at = [](const std::vector<double>& v, int i) {
            return v[static_cast<std::size_t>(i)];
        };
        m.correlation.push_back(pearson(at(pp.sum, d + n) - at(pp.sum, d), at(pc.sum, n),
                                        at(pp.squares, d + n) - at(pp.squares, d),
                                        at(pc.squares, n), at(dots, d), n));
    }
    return m;
}

// Correlation of previous[d0 + i] with the current profile read at i - delta,
// over i in [begin, end): the match at the fractional shift d0 + delta.
std::optional<double> correlationAtShift(const BandMatch& m, int d0, double delta, int begin,
                                         int end) {
    const double whole = std::floor(-delta);
    const double fraction = -delta - whole;
    const std::vector<double> kernel =
        fraction != 0.0 ? shiftKernel(fraction) : std::vector<double>{};
    const int lc = static_cast<int>(m.current.size());
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int i = begin; i < end; ++i) {
        const double x = m.previous[static_cast<std::size_t>(d0 + i)];
        const int base = i + static_cast<int>(whole);
        double y = 0.0;
        if (kernel.empty()) {
            y = m.current[static_cast<std::size_t>(std::clamp(base, 0, lc - 1))];
        } else {
            const int first = base - kShiftKernelReach + 1;
            for (int k = 0; k < 2 * kShiftKernelReach; ++k) {
                y += kernel[static_cast<std::size_t>(k)] *
                     m.current[static_cast<std::size_t>(std::clamp(first + k, 0, lc - 1))];
            }
        }
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
    }
    return pearson(sx, sy, sxx, syy, sxy, end - begin);
}

// Whether both frames' profiles over the rows they share at whole shift d
// (n rows) are shaped rather than white: most of their variation lies well
// below the row rate, as sound, frame lines and pictures do, and grain and
// scanner noise do not. Measured by the variance of the row-to-row change
// against twice the variance (equal for white noise, far less for shapes).
bool isShaped(const BandMatch& m, int d, int n) {
    auto shaped = [](std::span<const float> v) {
        if (v.size() < 3) {
            return false;
        }
        double mean = 0.0;
        for (float x : v) {
            mean += x;
        }
        mean /= static_cast<double>(v.size());
        double variance = 0.0;
        double change = 0.0;
        for (std::size_t i = 0; i < v.size(); ++i) {
            variance += (v[i] - mean) * (v[i] - mean);
            if (i > 0) {
                change += (v[i] - v[i - 1]) * (v[i] - v[i - 1]);
            }
        }
        variance /= static_cast<double>(v.size());
        change /= static_cast<double>(v.size() - 1);
        return variance > kFlatVariance && change < kWhitenessLimit * 2.0 * variance;
    };
    return shaped(m.previous.subspan(static_cast<std::size_t>(d), static_cast<std::size_t>(n))) &&
           shaped(m.current.first(static_cast<std::size_t>(n)));
}

// Offset of the vertex of the parabola through (-1, a), (0, b), (1, c), when
// b is its peak.
std::optional<double> parabolaPeak(double a, double b, double c) {
    const double curvature = a - 2.0 * b + c;
    if (!(curvature < 0.0)) {
        return std::nullopt;
    }
    return 0.5 * (a - c) / curvature;
}

struct Refined {
    double position = 0;
    double correlation = 0;
};

// The fractional peak of a band near whole shift d0, over current rows
// [begin, end): a parabola through the whole shifts, then a fine grid of
// sinc-shifted profiles and a parabola through its best points (a parabola
// on whole shifts alone leans towards whole rows).
std::optional<Refined> refinedPeak(const BandMatch& m, int d0, int begin, int end) {
    const auto left = correlationAtShift(m, d0, -1.0, begin, end);
    const auto centre = correlationAtShift(m, d0, 0.0, begin, end);
    const auto right = correlationAtShift(m, d0, 1.0, begin, end);
    if (!left || !centre || !right) {
        return std::nullopt;
    }
    const auto coarse = parabolaPeak(*left, *centre, *right);
    if (!coarse || std::abs(*coarse) > 1.0) {
        return std::nullopt;
    }
    std::vector<double> grid;
    for (int j = -kFineSteps; j <= kFineSteps; ++j) {
        const auto r = correlationAtShift(m, d0, *coarse + j * kFineStepRows, begin, end);
        if (!r) {
            return std::nullopt;
        }
        grid.push_back(*r);
    }
    const int best = static_cast<int>(std::max_element(grid.begin(), grid.end()) - grid.begin());
    double offset = *coarse + (best - kFineSteps) * kFineStepRows;
    if (best > 0 && best + 1 < static_cast<int>(grid.size())) {
        const auto fine = parabolaPeak(grid[static_cast<std::size_t>(best - 1)],
                                       grid[static_cast<std::size_t>(best)],
                                       grid[static_cast<std::size_t>(best + 1)]);
        if (fine) {
            offset += *fine * kFineStepRows;
        }
    }
    return Refined{d0 + offset, grid[static_cast<std::size_t>(best)]};
}

} // namespace

PreciseJoin findPreciseJoin(const ArchivalFrame& previous, const ArchivalFrame& current,
                            SoundtrackType type, bool longStrip) {
    PreciseJoin join;
    join.bandScores.fill(kNoBandScore);
    const int lp = previous.rows();
    const int lc = current.rows();
    // the shifts the standard coarse step allows, leaving some overlap
    const int guard = roundHalfAway((isLongStrip16(type, longStrip) ? 0.82 : 0.52) * lp);
    const int firstShift = std::max(guard, 0);
    const int lastShift = lp - kMinOverlapRows;
    join.position = lp;
    if (lc < kMinOverlapRows || lastShift < firstShift) {
        return join;
    }

    // every band both frames have, correlated at every allowed whole shift,
    // without the rows at the frames' ends that the high-pass smoothed
    // differently. Both frames lose the same number of rows at their start,
    // so a shift keeps its meaning.
    const int margin = std::max(previous.profileMargin, current.profileMargin);
    const int lpSearched = lp - 2 * margin;
    const int lcSearched = lc - 2 * margin;
    const int lastSearched = std::min(lastShift, lpSearched - kMinOverlapRows);
    if (lcSearched < kMinOverlapRows || lastSearched < firstShift) {
        return join;
    }
    std::vector<BandMatch> bands;
    for (int b = 0; b < kSearchBandCount; ++b) {
        const std::vector<float>& p = previous.profiles[static_cast<std::size_t>(b)];
        const std::vector<float>& c = current.profiles[static_cast<std::size_t>(b)];
        if (static_cast<int>(p.size()) == lp && static_cast<int>(c.size()) == lc) {
            bands.push_back(
                matchBand(static_cast<SearchBand>(b),
                          std::span<const float>(p).subspan(static_cast<std::size_t>(margin),
                                                            static_cast<std::size_t>(lpSearched)),
                          std::span<const float>(c).subspan(static_cast<std::size_t>(margin),
                                                            static_cast<std::size_t>(lcSearched)),
                          firstShift, lastSearched));
        }
    }

    // the whole shift: the most significant agreement of all bands (Fisher's z
    // of each correlation, weighed by the overlap it rests on, summed)
    int best = -1;
    double bestEvidence = 0.0;
    for (int d = firstShift; d <= lastSearched; ++d) {
        const int n = std::min(lcSearched, lpSearched - d);
        double evidence = 0.0;
        bool any = false;
        for (const BandMatch& m : bands) {
            const auto r = m.correlation[static_cast<std::size_t>(d - firstShift)];
            if (r) {
                evidence += std::atanh(std::clamp(*r, -0.999999, 0.999999)) * std::sqrt(n - 3.0);
                any = true;
            }
        }
        if (any && (best < 0 || evidence > bestEvidence)) {
            best = d;
            bestEvidence = evidence;
        }
    }
    if (best < 0) {
        return join;
    }
    join.wholeShift = best;
    join.position = best;

    // each band's own peak near it
    const int from = std::max(firstShift, best - kBandSearchReach);
    const int to = std::min(lastSearched, best + kBandSearchReach);
    std::vector<int> peaks(bands.size(), -1);
    std::vector<double> peakValues(bands.size(), 0.0);
    double sum = 0.0;
    double sumShaped = 0.0;
    int shapedBands = 0;
    std::optional<double> trackScore;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        double peakValue = 0.0;
        for (int d = from; d <= to; ++d) {
            const auto r = bands[k].correlation[static_cast<std::size_t>(d - firstShift)];
            if (r && (peaks[k] < 0 || *r > peakValue)) {
                peaks[k] = d;
                peakValue = *r;
                peakValues[k] = *r;
            }
        }
        if (peaks[k] >= 0) {
            sum += peakValue;
            ++join.bandsUsed;
            join.bandScores[static_cast<std::size_t>(bands[k].band)] = peakValue;
            if (isShaped(bands[k], peaks[k], std::min(lcSearched, lpSearched - peaks[k]))) {
                sumShaped += peakValue;
                ++shapedBands;
                if (bands[k].band == SearchBand::Track) {
                    trackScore = peakValue;
                }
            }
        }
    }
    // The score: the sound's own agreement when the track carries any. Frame
    // lines, perforations and slowly changing pictures look alike on every
    // frame and agree even on frames that share no film; only the sound
    // tells. On a silent track: what the shaped bands agree on.
    if (trackScore) {
        join.score = *trackScore;
    } else if (shapedBands > 0) {
        join.score = sumShaped / shapedBands;
    } else {
        join.score = join.bandsUsed > 0 ? sum / join.bandsUsed : 0.0;
    }

    // the track's fraction, or the nearest band's that is precise
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const int d0 = peaks[k];
        if (d0 < 0 || d0 == from || d0 == to || peakValues[k] < kMinDecidingCorrelation) {
            continue; // no peak inside the reach, or one that stands for no match
        }
        // current rows whose sinc reads stay inside both frames for shifts of
        // up to a row and a bit either way
        const int begin = kShiftKernelReach + 2;
        const int end = std::min(lcSearched - kShiftKernelReach - 2, lpSearched - d0 - 1);
        if (end - begin < kMinOverlapRows / 2) {
            continue;
        }
        const int middle = (begin + end) / 2;
        const auto whole = refinedPeak(bands[k], d0, begin, end);
        const auto firstHalf = refinedPeak(bands[k], d0, begin, middle);
        const auto secondHalf = refinedPeak(bands[k], d0, middle, end);
        if (!whole || !firstHalf || !secondHalf) {
            continue;
        }
        const double spread = 0.5 * std::abs(firstHalf->position - secondHalf->position);
        if (spread > kMaxJoinSpreadRows) {
            continue;
        }
        join.position = whole->position;
        join.band = bands[k].band;
        join.spread = spread;
        join.found = true;
        break;
    }
    return join;
}

} // namespace veltrana
