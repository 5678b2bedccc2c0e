#include "soundtrack/precise_join.h"

#include "geometry/rounding.h"
#include "soundtrack/fractional_shift.h"
#include "soundtrack/join_rules.h"

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

// Each band's correlation counts towards the whole shift as at most this
// much: a band that matches a repeating pattern perfectly (a steady tone, a
// noise-reduction bias) must not outvote the others, which see the film.
constexpr double kEvidenceCorrelationCap = 0.99;
// A band whose high-passed profile varies less than this (per row, squared
// relative units: a standard deviation of 0.1 %, a tenth of an 8-bit step at
// mid-grey) shows no structure: a silent track under uneven light keeps only
// the light's faint curvature, which would correlate with anything smooth.
constexpr double kFlatVariance = 1e-6;

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

// dots[d] = sum over i of previous[firstShift + d + i] x current[i], for
// every d in 0 .. previous.size() - firstShift - 1: the overlap sums of all
// shifts from firstShift on at once, by FFT. Only the previous frame's rows
// from firstShift on, and the current frame's first rows that such a shift
// can reach, take part, which keeps the transforms short.
std::vector<double> overlapDots(std::span<const float> previous, std::span<const float> current,
                                int firstShift) {
    const int lp = static_cast<int>(previous.size()) - firstShift;
    const int lc = std::min(static_cast<int>(current.size()), lp);
    const int n = cv::getOptimalDFTSize(lp + lc - 1);
    cv::Mat a = cv::Mat::zeros(1, n, CV_64F);
    cv::Mat b = cv::Mat::zeros(1, n, CV_64F);
    double* pa = a.ptr<double>();
    double* pb = b.ptr<double>();
    for (int i = 0; i < lp; ++i) {
        pa[i] = previous[static_cast<std::size_t>(firstShift + i)];
    }
    for (int i = 0; i < lc; ++i) {
        pb[i] = current[static_cast<std::size_t>(i)];
    }
    cv::Mat fa;
    cv::Mat fb;
    cv::Mat product;
    cv::Mat r;
    cv::dft(a, fa, 0, lp);
    cv::dft(b, fb, 0, lc);
    cv::mulSpectrums(fa, fb, product, 0, true);
    cv::idft(product, r, cv::DFT_REAL_OUTPUT | cv::DFT_SCALE);
    const double* pr = r.ptr<double>();
    return std::vector<double>(pr, pr + lp);
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
    const std::vector<double> dots = overlapDots(previous, current, firstShift);
    for (int d = firstShift; d <= lastShift; ++d) {
        const int n = std::min(lc, lp - d);
        const auto at = [](const std::vector<double>& v, int i) {
            return v[static_cast<std::size_t>(i)];
        };
        m.correlation.push_back(pearson(at(pp.sum, d + n) - at(pp.sum, d), at(pc.sum, n),
                                        at(pp.squares, d + n) - at(pp.squares, d),
                                        at(pc.squares, n), at(dots, d - firstShift), n));
    }
    return m;
}

// The correlation sums of previous[d0 + i] with the current profile read at
// i - delta, over i in [begin, middle) and [middle, end): the match at the
// fractional shift d0 + delta, on each half of the overlap.
struct Sums {
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    int n = 0;
    Sums operator+(const Sums& o) const {
        return {sx + o.sx, sy + o.sy, sxx + o.sxx, syy + o.syy, sxy + o.sxy, n + o.n};
    }
    std::optional<double> correlation() const { return pearson(sx, sy, sxx, syy, sxy, n); }
};

// Correlations at one fractional shift: over the whole overlap and its halves.
struct HalvesMatch {
    std::optional<double> whole, first, second;
};

HalvesMatch matchAtShift(const BandMatch& m, int d0, double delta, int begin, int middle, int end) {
    const double whole = std::floor(-delta);
    const double fraction = -delta - whole;
    const std::vector<double> kernel =
        fraction != 0.0 ? shiftKernel(fraction) : std::vector<double>{};
    const int lc = static_cast<int>(m.current.size());
    std::array<Sums, 2> halves{};
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
        Sums& h = halves[i < middle ? 0 : 1];
        h.sx += x;
        h.sy += y;
        h.sxx += x * x;
        h.syy += y * y;
        h.sxy += x * y;
        ++h.n;
    }
    return {(halves[0] + halves[1]).correlation(), halves[0].correlation(),
            halves[1].correlation()};
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

// Offset of the vertex of the parabola through (-h, a), (0, b), (h, c).
std::optional<double> parabolaPeak(std::optional<double> a, std::optional<double> b,
                                   std::optional<double> c, double h) {
    if (!a || !b || !c) {
        return std::nullopt;
    }
    const auto vertex = parabolaPeak(*a, *b, *c);
    if (!vertex) {
        return std::nullopt;
    }
    return *vertex * h;
}

struct Refined {
    double position = 0;
    double correlation = 0;
    double spread = 0; // half the difference of the two halves' positions
};

// Steps of the fractional refinement: a parabola through points this far
// apart leans towards them by far less than a hundredth of a row.
constexpr double kCoarseStepRows = 0.1;
constexpr double kFineStepRows = 0.02;

// The fractional peak of a band near whole shift d0, over current rows
// [begin, end): a parabola through the whole shifts (which leans towards
// whole rows by up to 0.2 rows when the content is smooth), then parabolas
// through sinc-shifted profiles a tenth of a row apart around it, twice, and
// a fiftieth of a row apart. The halves' peaks come from the second
// tenth-of-a-row points.
std::optional<Refined> refinedPeak(const BandMatch& m, int d0, int begin, int end) {
    const int middle = (begin + end) / 2;
    const auto left = matchAtShift(m, d0, -1.0, begin, middle, end);
    const auto centre = matchAtShift(m, d0, 0.0, begin, middle, end);
    const auto right = matchAtShift(m, d0, 1.0, begin, middle, end);
    const auto coarse = parabolaPeak(left.whole, centre.whole, right.whole, 1.0);
    if (!coarse || std::abs(*coarse) > 1.0) {
        return std::nullopt;
    }
    // a tenth of a row either way, twice: the second time around the first
    // one's vertex, so that the halves' peaks are read near their points
    double f = *coarse;
    HalvesMatch below, at, above;
    std::optional<double> step;
    for (int pass = 0; pass < 2; ++pass) {
        below = matchAtShift(m, d0, f - kCoarseStepRows, begin, middle, end);
        at = matchAtShift(m, d0, f, begin, middle, end);
        above = matchAtShift(m, d0, f + kCoarseStepRows, begin, middle, end);
        step = parabolaPeak(below.whole, at.whole, above.whole, kCoarseStepRows);
        if (!step || std::abs(*step) > 3 * kCoarseStepRows) {
            return std::nullopt;
        }
        if (pass == 0) {
            f += *step;
        }
    }
    const auto firstHalf = parabolaPeak(below.first, at.first, above.first, kCoarseStepRows);
    const auto secondHalf = parabolaPeak(below.second, at.second, above.second, kCoarseStepRows);
    if (!firstHalf || !secondHalf) {
        return std::nullopt;
    }
    f += *step;
    // a fiftieth of a row either way
    const auto fineBelow = matchAtShift(m, d0, f - kFineStepRows, begin, middle, end);
    const auto fineAt = matchAtShift(m, d0, f, begin, middle, end);
    const auto fineAbove = matchAtShift(m, d0, f + kFineStepRows, begin, middle, end);
    const auto fine = parabolaPeak(fineBelow.whole, fineAt.whole, fineAbove.whole, kFineStepRows);
    if (!fine || std::abs(*fine) > 3 * kFineStepRows) {
        return std::nullopt;
    }
    Refined r;
    r.position = d0 + f + *fine;
    r.correlation = std::max({*fineBelow.whole, *fineAt.whole, *fineAbove.whole});
    r.spread = 0.5 * std::abs(*firstHalf - *secondHalf);
    return r;
}

} // namespace

PreciseJoin findPreciseJoin(const ArchivalFrame& previous, const ArchivalFrame& current,
                            SoundtrackType type, bool longStrip) {
    PreciseJoin join;
    join.bandScores.fill(kNoBandScore);
    const int lp = previous.rows();
    const int lc = current.rows();
    // the shifts the standard coarse step allows, leaving some overlap
    const int guard = roundHalfAway(joinGuardShare(kJoinGuardShare, type, longStrip) * lp);
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
    // of each correlation, capped, weighed by the overlap it rests on, summed)
    std::vector<double> evidence(static_cast<std::size_t>(lastSearched - firstShift + 1), 0.0);
    std::vector<unsigned char> anyBand(evidence.size(), 0);
    int best = -1;
    for (int d = firstShift; d <= lastSearched; ++d) {
        const std::size_t k = static_cast<std::size_t>(d - firstShift);
        const int n = std::min(lcSearched, lpSearched - d);
        for (const BandMatch& m : bands) {
            const auto r = m.correlation[k];
            if (r) {
                evidence[k] +=
                    std::atanh(std::clamp(*r, -kEvidenceCorrelationCap, kEvidenceCorrelationCap)) *
                    std::sqrt(n - 3.0);
                anyBand[k] = 1;
            }
        }
        if (anyBand[k] != 0 &&
            (best < 0 || evidence[k] > evidence[static_cast<std::size_t>(best - firstShift)])) {
            best = d;
        }
    }
    if (best < 0) {
        return join;
    }
    join.wholeShift = best;
    join.position = best;
    // the best other peak of the evidence, well away from the chosen shift
    const double bestEvidence = evidence[static_cast<std::size_t>(best - firstShift)];
    for (int d = firstShift; d <= lastSearched; ++d) {
        const std::size_t k = static_cast<std::size_t>(d - firstShift);
        if (std::abs(d - best) <= kBandSearchReach || anyBand[k] == 0) {
            continue;
        }
        const bool peak = (d == firstShift || evidence[k] >= evidence[k - 1]) &&
                          (d == lastSearched || evidence[k] >= evidence[k + 1]);
        if (peak &&
            (join.runnerUpShift < 0 ||
             evidence[k] > evidence[static_cast<std::size_t>(join.runnerUpShift - firstShift)])) {
            join.runnerUpShift = d;
        }
    }
    if (join.runnerUpShift >= 0 && bestEvidence > 0.0) {
        join.runnerUpShare =
            std::max(0.0, evidence[static_cast<std::size_t>(join.runnerUpShift - firstShift)] /
                              bestEvidence);
    } else if (join.runnerUpShift >= 0) {
        join.runnerUpShare = 1.0;
    }

    // each band's own peak near it
    const int from = std::max(firstShift, best - kBandSearchReach);
    const int to = std::min(lastSearched, best + kBandSearchReach);
    std::vector<int> peaks(bands.size(), -1);
    std::vector<double> peakValues(bands.size(), 0.0);
    double sum = 0.0;
    double sumShaped = 0.0;
    int shapedBands = 0;
    double sumOthers = 0.0;
    int otherBands = 0;
    std::optional<double> trackScore;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        for (int d = from; d <= to; ++d) {
            const auto r = bands[k].correlation[static_cast<std::size_t>(d - firstShift)];
            if (r && (peaks[k] < 0 || *r > peakValues[k])) {
                peaks[k] = d;
                peakValues[k] = *r;
            }
        }
        if (peaks[k] < 0) {
            continue;
        }
        sum += peakValues[k];
        ++join.bandsUsed;
        join.bandScores[static_cast<std::size_t>(bands[k].band)] = peakValues[k];
        if (isShaped(bands[k], peaks[k], std::min(lcSearched, lpSearched - peaks[k]))) {
            sumShaped += peakValues[k];
            ++shapedBands;
            if (bands[k].band == SearchBand::Track) {
                trackScore = peakValues[k];
            } else {
                sumOthers += peakValues[k];
                ++otherBands;
            }
        }
    }
    // The score: the sound's own agreement when the track carries any. Frame
    // lines, perforations and slowly changing pictures look alike on every
    // frame and agree even on frames that share no film; only the sound
    // tells. On a silent track: what the shaped bands agree on.
    join.trackSounds = trackScore.has_value();
    join.otherBandsScore = otherBands > 0 ? sumOthers / otherBands : 0.0;
    if (trackScore) {
        join.score = *trackScore;
    } else if (shapedBands > 0) {
        join.score = sumShaped / shapedBands;
    } else {
        join.score = join.bandsUsed > 0 ? sum / join.bandsUsed : 0.0;
    }

    // the track's fraction, or the nearest band's that is precise; failing
    // that, the band whose halves agree best, if they agree well enough
    std::optional<Refined> loose;
    SearchBand looseBand = SearchBand::Track;
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
        const auto refined = refinedPeak(bands[k], d0, begin, end);
        if (!refined) {
            continue;
        }
        if (refined->spread <= kMaxJoinSpreadRows) {
            join.position = refined->position;
            join.band = bands[k].band;
            join.spread = refined->spread;
            join.found = true;
            return join;
        }
        if (refined->spread <= kMaxLooseSpreadRows && (!loose || refined->spread < loose->spread)) {
            loose = refined;
            looseBand = bands[k].band;
        }
    }
    if (loose) {
        join.position = loose->position;
        join.band = looseBand;
        join.spread = loose->spread;
        join.found = true;
    }
    return join;
}

} // namespace veltrana
