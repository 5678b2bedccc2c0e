#include "soundtrack/precise_join.h"

#include "geometry/rounding.h"
#include "soundtrack/fractional_shift.h"
#include "soundtrack/join_rules.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>
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

// The fraction is read on profiles shifted by this much at a time (rows);
// a parabola through three such points leans towards them by far less than
// a hundredth of a row.
constexpr double kGridStepRows = 0.1;
// Grid points a peak may move from the whole rows' parabola before the band
// is taken to have no clear peak there.
constexpr int kMostGridSteps = 12;

// Peaks of a band's correlation within this of its highest are alike: the
// band alone cannot tell them apart.
constexpr double kAmbiguousCorrelation = 0.05;

// The track looks for its own peak this many rows either side of what the
// other bands read at its column.
constexpr int kTrackReach = 5;
// The track's peak and the other bands' reading agree when they lie within
// this many standard deviations, plus this slack in rows (the advance may
// differ across the film by more than the bands' line follows).
constexpr double kAgreementSigmas = 3.0;
constexpr double kAgreementSlackRows = 0.5;
// A band beside the track that lies further than this many standard
// deviations from what the others read at its column is left out.
constexpr double kOutlierSigmas = 4.0;
// Where the track's peak and the other bands' reading disagree, the track
// decides only when it is the more precise of the two, lies within
// kTrackOverrideRows of the reading (the advance differs across a warped
// film by a row or two, never by more) and correlates at least
// kOverridingCorrelation (a quiet track under fading light shows the 8-bit
// steps of the light, which match poorly).
constexpr double kTrackOverrideRows = 2.0;
constexpr double kOverridingCorrelation = 0.9;
// The bands' positions lie along a slanted line across the film (a
// photographed or warped frame) when the slope is this many of its standard
// deviations from level.
constexpr double kSlopeSignificance = 2.0;

// Profiles are compared through a low-pass (see comparedProfile).
constexpr double kComparedCutoff = 0.35; // cycles per row
constexpr int kComparedReach = 12;       // rows

// What a band beside the track is off by, one standard deviation in rows,
// beyond what the agreement of its halves shows: the same in both halves,
// it comes from how the film's sharp structure is drawn when the film lies
// a fraction of a row further on (aliasing near the row rate; at the
// perforations, light clipped at full scale). Measured on renders with
// bench_archival: the pictures' frame lines about 0.005 rows, the
// perforations' edges about 0.02.
constexpr double kPictureDrawingRows = 0.005;
constexpr double kEdgeDrawingRows = 0.02;

// No band's position is taken to be known better than to a thousandth of a
// row (a perfect match would otherwise weigh infinitely).
constexpr double kLeastVariance = 1e-6;

// The precision of a whole shift whose fraction no band could read: a
// fraction spread evenly over a row.
constexpr double kWholeRowPrecision = 0.29;

// ------------------------------------------------------------------ sums

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

// Sums for one Pearson correlation.
struct Sums {
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    int n = 0;
    void add(double x, double y) {
        sx += x;
        sy += y;
        sxx += x * x;
        syy += y * y;
        sxy += x * y;
        ++n;
    }
    Sums operator+(const Sums& o) const {
        return {sx + o.sx, sy + o.sy, sxx + o.sxx, syy + o.syy, sxy + o.sxy, n + o.n};
    }
    std::optional<double> correlation() const { return pearson(sx, sy, sxx, syy, sxy, n); }
};

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

// ------------------------------------------------- step 1: the whole shift

// The whole shifts searched, first..last included.
struct ShiftRange {
    int first = 0;
    int last = -1;
    std::size_t count() const {
        return last < first ? 0 : static_cast<std::size_t>(last - first + 1);
    }
};

// One band of both frames as compared (without the rows at their ends that
// the high-pass smoothed differently, smoothed along the film beside the
// track), and its correlation at every whole shift over all the rows the
// two share.
struct BandMatch {
    SearchBand band = SearchBand::Track;
    double column = 0; // the band's centre across the film (working columns of an UP frame)
    std::vector<float> previous;
    std::vector<float> current;
    // the same before the low-pass, whose shape tells structure from noise
    std::span<const float> previousRaw;
    std::span<const float> currentRaw;
    std::vector<std::optional<double>> correlation; // index d - range.first
};

void correlateEveryShift(BandMatch& m, ShiftRange range) {
    const int lp = static_cast<int>(m.previous.size());
    const int lc = static_cast<int>(m.current.size());
    const Prefix pp = prefixOf(m.previous);
    const Prefix pc = prefixOf(m.current);
    const std::vector<double> dots = overlapDots(m.previous, m.current, range.first);
    const auto at = [](const std::vector<double>& v, int i) {
        return v[static_cast<std::size_t>(i)];
    };
    for (int d = range.first; d <= range.last; ++d) {
        const int n = std::min(lc, lp - d);
        m.correlation.push_back(pearson(at(pp.sum, d + n) - at(pp.sum, d), at(pc.sum, n),
                                        at(pp.squares, d + n) - at(pp.squares, d),
                                        at(pc.squares, n), at(dots, d - range.first), n));
    }
}

// The low-pass every profile is compared through: a Blackman-windowed sinc
// passing up to kComparedCutoff cycles per row, reaching kComparedReach rows
// either way, its weights summing to one.
std::vector<double> comparedKernel() {
    std::vector<double> w(2 * kComparedReach + 1);
    double sum = 0.0;
    for (int k = -kComparedReach; k <= kComparedReach; ++k) {
        const double a = 2.0 * std::numbers::pi * kComparedCutoff * k;
        const double sinc = k == 0 ? 1.0 : std::sin(a) / a;
        const double u = std::numbers::pi * k / (kComparedReach + 1);
        const double window = 0.42 + 0.5 * std::cos(u) + 0.08 * std::cos(2.0 * u);
        w[static_cast<std::size_t>(k + kComparedReach)] = sinc * window;
        sum += sinc * window;
    }
    for (double& v : w) {
        v /= sum;
    }
    return w;
}

// The profile as compared: low-passed (its kComparedReach rows at each end
// kept as they are). What lies near the row rate is not the same film seen
// a fraction of a row further on: the sensor aliases sharp structure (frame
// lines, perforations), and interpolation kernels, a scanner's or the
// renderer's, are flat only to about 0.3 cycles per row. The sound lies
// well below (0.35 cycles per row is 8 kHz on 35 mm at 1200 dpi).
//
// Only rows [first, end) are filtered: the rest takes no part in a search.
std::vector<float> comparedProfile(std::span<const float> in, const std::vector<double>& kernel,
                                   std::size_t first, std::size_t end) {
    std::vector<float> out(in.begin(), in.end());
    const std::size_t from = std::max<std::size_t>(first, kComparedReach);
    for (std::size_t k = from; k < end && k + kComparedReach < in.size(); ++k) {
        double v = 0.0;
        for (int j = 0; j <= 2 * kComparedReach; ++j) {
            v += kernel[static_cast<std::size_t>(j)] *
                 in[k + static_cast<std::size_t>(j) - kComparedReach];
        }
        out[k] = static_cast<float>(v);
    }
    return out;
}

// Every band both frames have, each without `margin` rows at either end.
// Both frames lose the same rows at their start, so a shift keeps its meaning.
std::vector<BandMatch> matchBands(const ArchivalFrame& previous, const ArchivalFrame& current,
                                  ShiftRange range, int margin) {
    std::vector<BandMatch> bands;
    const std::vector<double> kernel = comparedKernel();
    const int lp = previous.rows();
    const int lc = current.rows();
    for (int b = 0; b < kSearchBandCount; ++b) {
        const std::size_t k = static_cast<std::size_t>(b);
        const std::vector<float>& p = previous.profiles[k];
        const std::vector<float>& c = current.profiles[k];
        if (static_cast<int>(p.size()) != lp || static_cast<int>(c.size()) != lc) {
            continue;
        }
        BandMatch m;
        m.band = static_cast<SearchBand>(b);
        m.column = 0.5 * (previous.bandColumns[k] + current.bandColumns[k]);
        m.previousRaw = std::span<const float>(p).subspan(
            static_cast<std::size_t>(margin), static_cast<std::size_t>(lp - 2 * margin));
        m.currentRaw = std::span<const float>(c).subspan(static_cast<std::size_t>(margin),
                                                         static_cast<std::size_t>(lc - 2 * margin));
        // the previous frame from the first shift on, the current one as far
        // as that shift reaches (and a little beyond, for the sinc reads)
        const std::size_t reached = m.previousRaw.size() - static_cast<std::size_t>(range.first);
        m.previous = comparedProfile(m.previousRaw, kernel, static_cast<std::size_t>(range.first),
                                     m.previousRaw.size());
        m.current = comparedProfile(m.currentRaw, kernel, 0, reached + kShiftKernelReach + 2);
        correlateEveryShift(m, range);
        bands.push_back(std::move(m));
    }
    return bands;
}

// Per shift, how strongly all bands agree on it: Fisher's z of each band's
// correlation, capped, weighed by the overlap it rests on, summed; nothing
// where no band could be correlated.
std::vector<std::optional<double>> shiftEvidence(const std::vector<BandMatch>& bands,
                                                 ShiftRange range) {
    std::vector<std::optional<double>> evidence(range.count());
    for (int d = range.first; d <= range.last; ++d) {
        const std::size_t k = static_cast<std::size_t>(d - range.first);
        for (const BandMatch& m : bands) {
            const auto r = m.correlation[k];
            if (!r) {
                continue;
            }
            const int n = std::min(static_cast<int>(m.current.size()),
                                   static_cast<int>(m.previous.size()) - d);
            evidence[k] =
                evidence[k].value_or(0.0) +
                std::atanh(std::clamp(*r, -kEvidenceCorrelationCap, kEvidenceCorrelationCap)) *
                    std::sqrt(n - 3.0);
        }
    }
    return evidence;
}

struct WholeShift {
    int best = -1; // -1: no band could be correlated anywhere
    int runnerUp = -1;
    double runnerUpShare = 0;
};

// The shift with the most evidence, and the best other peak of the evidence
// well away from it.
WholeShift chooseWholeShift(const std::vector<std::optional<double>>& evidence, ShiftRange range) {
    WholeShift w;
    const auto at = [&](int d) { return evidence[static_cast<std::size_t>(d - range.first)]; };
    for (int d = range.first; d <= range.last; ++d) {
        if (at(d) && (w.best < 0 || *at(d) > *at(w.best))) {
            w.best = d;
        }
    }
    if (w.best < 0) {
        return w;
    }
    for (int d = range.first; d <= range.last; ++d) {
        if (std::abs(d - w.best) <= kBandSearchReach || !at(d)) {
            continue;
        }
        const bool peak = (d == range.first || !at(d - 1) || *at(d) >= *at(d - 1)) &&
                          (d == range.last || !at(d + 1) || *at(d) >= *at(d + 1));
        if (peak && (w.runnerUp < 0 || *at(d) > *at(w.runnerUp))) {
            w.runnerUp = d;
        }
    }
    const double bestEvidence = *at(w.best);
    if (w.runnerUp >= 0) {
        w.runnerUpShare = bestEvidence > 0.0 ? std::max(0.0, *at(w.runnerUp) / bestEvidence) : 1.0;
    }
    return w;
}

// ------------------------------------------------ the score of the shift

// Whether a profile is shaped rather than white: most of its variation lies
// well below the row rate, as sound, frame lines and pictures do, and grain
// and scanner noise do not. Measured by the variance of the row-to-row
// change against twice the variance (equal for white noise, far less for
// shapes).
bool isShaped(std::span<const float> v) {
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
}

// Each band's best correlation within the reach of the whole shift, and
// from them the score: the sound's own agreement when the track carries
// any. Frame lines, perforations and slowly changing pictures look alike on
// every frame and agree even on frames that share no film; only the sound
// tells. On a silent track: what the shaped bands agree on.
void scoreShift(const std::vector<BandMatch>& bands, ShiftRange range, int best,
                PreciseJoin& join) {
    const int from = std::max(range.first, best - kBandSearchReach);
    const int to = std::min(range.last, best + kBandSearchReach);
    double sum = 0.0, sumShaped = 0.0, sumOthers = 0.0;
    int shaped = 0, others = 0;
    std::optional<double> track;
    for (const BandMatch& m : bands) {
        std::optional<double> peak;
        int at = from;
        for (int d = from; d <= to; ++d) {
            const auto r = m.correlation[static_cast<std::size_t>(d - range.first)];
            if (r && (!peak || *r > *peak)) {
                peak = r;
                at = d;
            }
        }
        if (!peak) {
            continue;
        }
        sum += *peak;
        ++join.bandsUsed;
        join.bandScores[static_cast<std::size_t>(m.band)] = *peak;
        const std::size_t n = static_cast<std::size_t>(
            std::min(static_cast<int>(m.current.size()), static_cast<int>(m.previous.size()) - at));
        if (!isShaped(m.previousRaw.subspan(static_cast<std::size_t>(at), n)) ||
            !isShaped(m.currentRaw.first(n))) {
            continue;
        }
        sumShaped += *peak;
        ++shaped;
        if (m.band == SearchBand::Track) {
            track = peak;
        } else {
            sumOthers += *peak;
            ++others;
        }
    }
    join.trackSounds = track.has_value();
    join.otherBandsScore = others > 0 ? sumOthers / others : 0.0;
    join.score = track                ? *track
                 : shaped > 0         ? sumShaped / shaped
                 : join.bandsUsed > 0 ? sum / join.bandsUsed
                                      : 0.0;
}

// ------------------------------------------- step 2: each band's own peak

// The rows of the current frame compared, begin..end excluded: the same for
// every shift tried, clear of the rows a sinc read beyond the frame would
// need, and short enough that the previous frame reaches past them at the
// largest shift tried.
struct Template {
    int begin = 0;
    int end = 0;
    int middle() const { return (begin + end) / 2; }
};

std::optional<Template> templateFor(const BandMatch& m, int largestShift) {
    Template t;
    t.begin = kShiftKernelReach + 2;
    t.end = std::min(static_cast<int>(m.current.size()) - kShiftKernelReach - 2,
                     static_cast<int>(m.previous.size()) - largestShift - 2);
    if (t.end - t.begin < kMinOverlapRows / 2) {
        return std::nullopt;
    }
    return t;
}

// Correlations at one fractional shift: over the whole template and its halves.
struct HalvesMatch {
    std::optional<double> whole, first, second;
};

// The template of the current frame read `fraction` rows earlier (by the
// windowed sinc) against the previous frame from row `whole` on: the match
// at shift whole + fraction, |fraction| below two rows.
HalvesMatch matchAt(const BandMatch& m, int whole, double fraction, const Template& t) {
    const double floorShift = std::floor(-fraction);
    const double within = -fraction - floorShift;
    const std::vector<double> kernel = within != 0.0 ? shiftKernel(within) : std::vector<double>{};
    std::array<Sums, 2> halves{};
    for (int i = t.begin; i < t.end; ++i) {
        const int base = i + static_cast<int>(floorShift);
        double y = 0.0;
        if (kernel.empty()) {
            y = m.current[static_cast<std::size_t>(base)];
        } else {
            const float* c = m.current.data() + (base - kShiftKernelReach + 1);
            for (int k = 0; k < 2 * kShiftKernelReach; ++k) {
                y += kernel[static_cast<std::size_t>(k)] * c[k];
            }
        }
        halves[i < t.middle() ? 0 : 1].add(m.previous[static_cast<std::size_t>(whole + i)], y);
    }
    return {(halves[0] + halves[1]).correlation(), halves[0].correlation(),
            halves[1].correlation()};
}

// Offset of the vertex of the parabola through (-h, a), (0, b), (h, c),
// when b is its peak.
std::optional<double> parabolaPeak(std::optional<double> a, std::optional<double> b,
                                   std::optional<double> c, double h) {
    if (!a || !b || !c) {
        return std::nullopt;
    }
    const double curvature = *a - 2.0 * *b + *c;
    if (!(curvature < 0.0)) {
        return std::nullopt;
    }
    return 0.5 * (*a - *c) / curvature * h;
}

// A band's peak: its position, its correlation and the variance of the position.
struct BandPeak {
    SearchBand band = SearchBand::Track;
    double column = 0;
    double position = 0;
    double correlation = 0;
    double variance = 0;
};

// The best whole shift of the template within [from, to], when it lies
// inside. With `near`: of the peaks about as high as the best (a repeating
// sound matches a period away almost as well), the one nearest it.
std::optional<int> wholePeak(const BandMatch& m, int from, int to, const Template& t,
                             std::optional<double> near) {
    std::vector<std::optional<double>> r;
    std::optional<int> best;
    for (int d = from; d <= to; ++d) {
        r.push_back(matchAt(m, d, 0.0, t).whole);
        const auto& v = r.back();
        if (v && (!best || *v > *r[static_cast<std::size_t>(*best - from)])) {
            best = d;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    const double highest = *r[static_cast<std::size_t>(*best - from)];
    const auto at = [&](int d) { return r[static_cast<std::size_t>(d - from)]; };
    if (near) {
        for (int d = from + 1; d < to; ++d) {
            const bool peak =
                at(d) && at(d - 1) && at(d + 1) && *at(d) >= *at(d - 1) && *at(d) >= *at(d + 1);
            if (peak && *at(d) >= highest - kAmbiguousCorrelation &&
                std::abs(d - *near) < std::abs(*best - *near)) {
                best = d;
            }
        }
    }
    if (*best == from || *best == to) {
        return std::nullopt;
    }
    return best;
}

// Three grid points a tenth of a row apart around the peak near whole + start.
struct GridPeak {
    double centre = 0; // fraction of the middle point
    HalvesMatch below, at, above;
};

std::optional<GridPeak> gridPeak(const BandMatch& m, int whole, double start, const Template& t) {
    GridPeak g;
    g.centre = std::round(start / kGridStepRows) * kGridStepRows;
    g.below = matchAt(m, whole, g.centre - kGridStepRows, t);
    g.at = matchAt(m, whole, g.centre, t);
    g.above = matchAt(m, whole, g.centre + kGridStepRows, t);
    for (int step = 0; step < kMostGridSteps; ++step) {
        if (!g.below.whole || !g.at.whole || !g.above.whole) {
            return std::nullopt;
        }
        const bool higherBelow = *g.below.whole > *g.at.whole;
        const bool higherAbove = *g.above.whole > *g.at.whole;
        if (!higherBelow && !higherAbove) {
            return g;
        }
        // walk towards the higher side
        const double direction = higherAbove ? 1.0 : -1.0;
        g.centre += direction * kGridStepRows;
        if (direction > 0) {
            g.below = g.at;
            g.at = g.above;
            g.above = matchAt(m, whole, g.centre + kGridStepRows, t);
        } else {
            g.above = g.at;
            g.at = g.below;
            g.below = matchAt(m, whole, g.centre - kGridStepRows, t);
        }
    }
    return std::nullopt;
}

// The variance of a peak's position: the larger of what its height and
// curvature allow over n rows ((1 - r) / (curvature x n), for independent
// noise on both profiles) and what its two halves' disagreement says (a
// quarter of the squared difference; halves of an overlap need not share
// the noise's independence).
double peakVariance(const GridPeak& g, std::optional<double> firstHalf,
                    std::optional<double> secondHalf, int rows) {
    const double curvature =
        -(*g.below.whole - 2.0 * *g.at.whole + *g.above.whole) / (kGridStepRows * kGridStepRows);
    const double fromCurvature = (1.0 - *g.at.whole) / (curvature * rows);
    const double fromHalves = firstHalf && secondHalf
                                  ? 0.25 * (*firstHalf - *secondHalf) * (*firstHalf - *secondHalf)
                                  : kWholeRowPrecision * kWholeRowPrecision;
    return std::max({fromCurvature, fromHalves, kLeastVariance});
}

// A band's own peak within whole shifts [from, to], refined to a fraction
// (of similar peaks, the one nearest `near` when given).
std::optional<BandPeak> bandPeak(const BandMatch& m, int from, int to,
                                 std::optional<double> near = std::nullopt) {
    const auto t = templateFor(m, to + 1);
    if (!t) {
        return std::nullopt;
    }
    const auto whole = wholePeak(m, from, to, *t, near);
    if (!whole) {
        return std::nullopt;
    }
    // the fraction is read on the current frame: the previous one reaches
    // past a longer template at this one whole shift (the rows count on a
    // short overlap)
    const auto fine = templateFor(m, *whole);
    const auto start =
        parabolaPeak(matchAt(m, *whole, -1.0, *fine).whole, matchAt(m, *whole, 0.0, *fine).whole,
                     matchAt(m, *whole, 1.0, *fine).whole, 1.0);
    const auto grid = gridPeak(m, *whole, start.value_or(0.0), *fine);
    if (!grid) {
        return std::nullopt;
    }
    const auto step =
        parabolaPeak(grid->below.whole, grid->at.whole, grid->above.whole, kGridStepRows);
    if (!step) {
        return std::nullopt;
    }
    const auto halfPeak = [&](auto half) {
        const auto v =
            parabolaPeak(grid->below.*half, grid->at.*half, grid->above.*half, kGridStepRows);
        return v ? std::optional<double>(grid->centre + *v) : std::nullopt;
    };
    BandPeak p;
    p.band = m.band;
    p.column = m.column;
    p.position = *whole + grid->centre + *step;
    p.correlation = *grid->at.whole;
    p.variance = peakVariance(*grid, halfPeak(&HalvesMatch::first), halfPeak(&HalvesMatch::second),
                              fine->end - fine->begin);
    return p;
}

// ------------------------------------------ step 3: across the film

// A position read at the track's column, with its variance.
struct Reading {
    double position = 0;
    double variance = 0;
    SearchBand nearest = SearchBand::Edge; // the band nearest the track that took part
};

// Weighted sums of the bands' positions against their columns.
struct LineSums {
    double w = 0, wx = 0, wxx = 0, wy = 0, wxy = 0;
    explicit LineSums(const std::vector<BandPeak>& peaks) {
        for (const BandPeak& p : peaks) {
            const double weight = 1.0 / p.variance;
            w += weight;
            wx += weight * p.column;
            wxx += weight * p.column * p.column;
            wy += weight * p.position;
            wxy += weight * p.column * p.position;
        }
    }
};

// The bands' positions read at `column`: along their weighted line when its
// slope is significant, else their weighted mean. Its variance is widened
// by how much more the bands scatter about it than their own variances say.
Reading readAt(const std::vector<BandPeak>& peaks, double column) {
    const LineSums s(peaks);
    Reading r;
    r.position = s.wy / s.w;
    r.variance = 1.0 / s.w;
    const double determinant = s.w * s.wxx - s.wx * s.wx;
    double slope = 0.0;
    if (peaks.size() >= 2 && determinant > 1e-12 * s.w * s.wxx) {
        const double candidate = (s.w * s.wxy - s.wx * s.wy) / determinant;
        if (std::abs(candidate) > kSlopeSignificance * std::sqrt(s.w / determinant)) {
            slope = candidate;
            const double intercept = (s.wxx * s.wy - s.wx * s.wxy) / determinant;
            r.position = intercept + slope * column;
            r.variance = (s.wxx - 2.0 * column * s.wx + column * column * s.w) / determinant;
        }
    }
    const double mean = s.wy / s.w;
    const double meanColumn = s.wx / s.w;
    double chiSquare = 0.0;
    for (const BandPeak& p : peaks) {
        const double fitted = mean + slope * (p.column - meanColumn);
        chiSquare += (p.position - fitted) * (p.position - fitted) / p.variance;
    }
    const int freedom = static_cast<int>(peaks.size()) - (slope != 0.0 ? 2 : 1);
    if (freedom > 0) {
        r.variance *= std::max(1.0, chiSquare / freedom);
    }
    return r;
}

// How far a band lies from what the others read at its column, in standard
// deviations of the difference; 0 within the slack of kAgreementSlackRows
// (bands of many columns on a slanted frame lie off their line by tenths).
double deviation(const std::vector<BandPeak>& peaks, std::size_t k) {
    std::vector<BandPeak> others = peaks;
    others.erase(others.begin() + static_cast<std::ptrdiff_t>(k));
    const Reading r = readAt(others, peaks[k].column);
    const double apart = std::abs(peaks[k].position - r.position);
    return apart < kAgreementSlackRows ? 0.0 : apart / std::sqrt(peaks[k].variance + r.variance);
}

// What the bands beside the track read at its column. A band far off what
// the others read at its own column (a peak on a repeating pattern, a band
// of noise) is left out, the worst first, while three or more remain.
std::optional<Reading> readAcrossFilm(std::vector<BandPeak> peaks, double trackColumn) {
    if (peaks.empty()) {
        return std::nullopt;
    }
    while (peaks.size() > 2) {
        std::size_t worst = 0;
        double worstDeviation = 0.0;
        for (std::size_t k = 0; k < peaks.size(); ++k) {
            const double d = deviation(peaks, k);
            if (d > worstDeviation) {
                worst = k;
                worstDeviation = d;
            }
        }
        if (worstDeviation <= kOutlierSigmas) {
            break;
        }
        peaks.erase(peaks.begin() + static_cast<std::ptrdiff_t>(worst));
    }
    Reading r = readAt(peaks, trackColumn);
    r.nearest =
        std::min_element(peaks.begin(), peaks.end(), [](const BandPeak& a, const BandPeak& b) {
            return a.band < b.band;
        })->band;
    return r;
}

// ---------------------------------------------------- steps 4 and 5

// The peaks of the bands beside the track near the whole shift, those
// correlated well enough to settle a fraction.
std::vector<BandPeak> besideTrackPeaks(const std::vector<BandMatch>& bands, int from, int to,
                                       std::optional<BandPeak>& bestLoose) {
    std::vector<BandPeak> peaks;
    for (const BandMatch& m : bands) {
        if (m.band == SearchBand::Track) {
            continue;
        }
        const auto p = bandPeak(m, from, to);
        if (!p) {
            continue;
        }
        if (!bestLoose || p->correlation > bestLoose->correlation) {
            bestLoose = p;
        }
        if (p->correlation >= kMinDecidingCorrelation) {
            BandPeak q = *p;
            const double floor =
                q.band == SearchBand::Edge ? kEdgeDrawingRows : kPictureDrawingRows;
            q.variance += floor * floor;
            peaks.push_back(q);
        }
    }
    return peaks;
}

// Sets the join from the reading of the bands beside the track and the
// track's own peak (either may be missing).
void settle(PreciseJoin& join, const std::optional<Reading>& reading,
            std::optional<BandPeak> track) {
    if (track && reading) {
        const double apart = std::abs(track->position - reading->position);
        if (apart <= kAgreementSigmas * std::sqrt(track->variance + reading->variance) +
                         kAgreementSlackRows) {
            const double wt = 1.0 / track->variance;
            const double wr = 1.0 / reading->variance;
            join.position = (wt * track->position + wr * reading->position) / (wt + wr);
            join.precision = std::sqrt(1.0 / (wt + wr));
        } else if (apart <= kTrackOverrideRows && track->correlation >= kOverridingCorrelation &&
                   track->variance < reading->variance) {
            join.position = track->position; // the sound is what is joined
            join.precision = std::sqrt(track->variance);
        } else {
            // further off than any slant or warp moves it (the track matched a
            // repeat of its sound, a period away), a poor match that structure
            // of the scan rather than sound may have made, or a broad peak of
            // a low sound that the other bands pin down better
            join.position = reading->position;
            join.precision = std::sqrt(reading->variance);
            track.reset();
        }
    } else if (track) {
        join.position = track->position;
        join.precision = std::sqrt(track->variance);
    } else {
        join.position = reading->position;
        join.precision = std::sqrt(reading->variance);
    }
    join.trackUsed = track.has_value();
    join.band = track ? SearchBand::Track : reading->nearest;
}

// The track's own peak: near the other bands' reading when there is one.
std::optional<BandPeak> trackPeak(const std::vector<BandMatch>& bands, ShiftRange range,
                                  int wholeShift, const std::optional<Reading>& reading,
                                  std::optional<BandPeak>& bestLoose) {
    const auto track = std::find_if(bands.begin(), bands.end(),
                                    [](const BandMatch& m) { return m.band == SearchBand::Track; });
    if (track == bands.end()) {
        return std::nullopt;
    }
    const int centre = reading ? static_cast<int>(std::lround(reading->position)) : wholeShift;
    const int reach = reading ? kTrackReach : kBandSearchReach;
    const auto p = bandPeak(*track, std::max(range.first, centre - reach),
                            std::min(range.last, centre + reach),
                            reading ? std::optional<double>(reading->position) : std::nullopt);
    if (p && (!bestLoose || p->correlation > bestLoose->correlation)) {
        bestLoose = p;
    }
    if (!p || p->correlation < kMinDecidingCorrelation) {
        return std::nullopt;
    }
    return p;
}

} // namespace

PreciseJoin findPreciseJoin(const ArchivalFrame& previous, const ArchivalFrame& current,
                            SoundtrackType type, bool longStrip) {
    PreciseJoin join;
    join.bandScores.fill(kNoBandScore);
    const int lp = previous.rows();
    const int lc = current.rows();
    join.position = lp;
    // the shifts the standard coarse step allows, leaving some overlap of
    // the rows the high-pass left alone
    const int margin = std::max(previous.profileMargin, current.profileMargin);
    const int guard = roundHalfAway(joinGuardShare(kJoinGuardShare, type, longStrip) * lp);
    const ShiftRange range{std::max(guard, 0), lp - 2 * margin - kMinOverlapRows};
    if (lc - 2 * margin < kMinOverlapRows || range.last < range.first) {
        return join;
    }

    // step 1: the whole shift all bands agree on
    const std::vector<BandMatch> bands = matchBands(previous, current, range, margin);
    const WholeShift whole = chooseWholeShift(shiftEvidence(bands, range), range);
    if (whole.best < 0) {
        return join;
    }
    join.wholeShift = whole.best;
    join.runnerUpShift = whole.runnerUp;
    join.runnerUpShare = whole.runnerUpShare;
    scoreShift(bands, range, whole.best, join);

    // steps 2 to 4: each band's peak, the bands beside the track read at its
    // column, and the track's own peak
    const int from = std::max(range.first, whole.best - kBandSearchReach);
    const int to = std::min(range.last, whole.best + kBandSearchReach);
    std::optional<BandPeak> bestLoose;
    const std::vector<BandPeak> beside = besideTrackPeaks(bands, from, to, bestLoose);
    const double trackColumn = 0.5 * (previous.bandColumns[0] + current.bandColumns[0]);
    std::optional<Reading> reading = readAcrossFilm(beside, trackColumn);
    if (reading && !(reading->position >= from && reading->position <= to)) {
        reading.reset(); // a line through peaks that do not agree, read far from them
    }
    const std::optional<BandPeak> track = trackPeak(bands, range, whole.best, reading, bestLoose);
    join.found = true;
    if (track || reading) {
        settle(join, reading, track);
    } else {
        // step 5: the frames overlap at the whole shift; the fraction is a guess
        join.position = bestLoose ? bestLoose->position : whole.best;
        join.precision = bestLoose ? std::max(std::sqrt(bestLoose->variance), kLoosePrecisionRows)
                                   : kWholeRowPrecision;
        join.band = bestLoose ? bestLoose->band : SearchBand::Track;
    }
    join.loose = join.precision > kLoosePrecisionRows;
    return join;
}

} // namespace veltrana
