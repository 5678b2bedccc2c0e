#include "soundtrack/join_search.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"
#include "geometry/trace.h"
#include "soundtrack/join_rules.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace veltrana {

namespace {

using Samples = std::vector<float>;

Samples copyOf(std::span<const float> values, int count) {
    count = std::clamp(count, 0, static_cast<int>(values.size()));
    return Samples(values.begin(), values.begin() + count);
}

// a copy of the first `count` values, minus their mean
Samples meanFreeCopyOf(std::span<const float> values, int count) {
    Samples copy = copyOf(values, count);
    subtractMean(copy);
    return copy;
}

// values[from .. from + count - 1], zero where that runs outside the array
Samples windowOf(const Samples& values, int from, int count) {
    Samples window(static_cast<std::size_t>(std::max(count, 0)), 0.0f);
    for (int k = 0; k < count; ++k) {
        const int i = from + k;
        if (i >= 0 && i < static_cast<int>(values.size())) {
            window[static_cast<std::size_t>(k)] = values[static_cast<std::size_t>(i)];
        }
    }
    return window;
}

// Zeroes values[from .. to - 1], clipped to the array.
void blank(Samples& values, int from, int to) {
    from = std::clamp(from, 0, static_cast<int>(values.size()));
    to = std::clamp(to, from, static_cast<int>(values.size()));
    std::fill(values.begin() + from, values.begin() + to, 0.0f);
}

// What the two searches do differently; the steps they share read it.
struct SearchVariant {
    // The coarse step correlates the frame profiles and the fine step the
    // frame samples as handed in; otherwise both correlate the frame samples,
    // the fine step the copies the coarse step blanked.
    bool coarseOnProfiles = true;
    // The shortest join the coarse step considers, as a share of the
    // previous frame's length (join_rules.h; a 16 mm long strip keeps its
    // own in both searches).
    double guardFraction = kJoinGuardShare;
    // Of the previous frame only its last `guard` values take part;
    // otherwise all from row `guard` on.
    bool previousKeepsLastGuard = false;
    // which of equal strongest coarse peaks is taken
    TiedPeak coarseTie = TiedPeak::Last;
    // A position past the end of the previous frame becomes its last row
    // (Lp - 1) rather than its end (Lp).
    bool pastTheEndToLastRow = true;
};

// findJoinPosition: coarse on the profiles, fine on the samples
constexpr SearchVariant kProfileSearch{.coarseOnProfiles = true,
                                       .guardFraction = kJoinGuardShare,
                                       .previousKeepsLastGuard = false,
                                       .coarseTie = TiedPeak::Last,
                                       .pastTheEndToLastRow = true};
// findJoinPositionFromSamples: both steps on the samples
constexpr SearchVariant kSampleSearch{.coarseOnProfiles = false,
                                      .guardFraction = kSampleJoinGuardShare,
                                      .previousKeepsLastGuard = true,
                                      .coarseTie = TiedPeak::First,
                                      .pastTheEndToLastRow = false};

int guardLength(const SearchVariant& variant, int previousLength, SoundtrackType type,
                bool longStrip) {
    return roundHalfAway(joinGuardShare(variant.guardFraction, type, longStrip) * previousLength);
}

// Length of the fine window, in rows of the previous frame.
int fineWindowLength(int previousLength, SoundtrackType type, bool longStrip) {
    return roundHalfAway(fineWindowShare(type, longStrip) * previousLength);
}

// A correlation value as a correlation coefficient: divided by the root of
// the energies of the two arrays correlated, so -1..1 whatever their levels.
double normalisedCorrelation(float value, const Samples& a, const Samples& b) {
    double energyA = 0.0;
    double energyB = 0.0;
    for (const float v : a) {
        energyA += static_cast<double>(v) * v;
    }
    for (const float v : b) {
        energyB += static_cast<double>(v) * v;
    }
    return energyA > 0.0 && energyB > 0.0 ? value / std::sqrt(energyA * energyB) : 0.0;
}

// The coarse join and how well the frames matched there.
struct CoarseJoin {
    int shift = 0;
    double score = 0; // the peak, normalised
};

// The coarse join: the shift of the strongest peak of the correlation of the
// blanked current frame against the blanked previous one, from the guard on.
// L is taken from the frames' lengths. Nothing when there is no peak.
std::optional<CoarseJoin> coarseJoin(const Samples& current, const Samples& previous, int lc,
                                     int lp, int guard, TiedPeak tie) {
    // index guard + Lp - 1 holds the shift guard + Lp - L; only the values
    // from just before it on are worked out
    const Samples r = crossCorrelateFrom(current, previous, guard + lp - 2);
    const int peak = strongestPeak(r, guard + lp - 1, static_cast<int>(r.size()) - 1, tie);
    if (peak < 0) {
        return std::nullopt;
    }
    return CoarseJoin{peak - (std::max(lc, lp) - 1),
                      normalisedCorrelation(r[static_cast<std::size_t>(peak)], current, previous)};
}

// The fine correction: the shift of the best match of the current frame's
// head against the previous frame from the coarse join on, over w samples;
// 0 when the correlation has no peak.
struct FineMatch {
    int shift = 0;
    Samples correlation;
};

FineMatch fineMatch(const Samples& previous, const Samples& current, int coarse, int w) {
    FineMatch match;
    if (w <= 0) {
        return match;
    }
    Samples e = windowOf(previous, coarse, w);
    Samples f = windowOf(current, 0, w);
    subtractMean(e);
    subtractMean(f);
    match.correlation = crossCorrelate(e, f);
    const int peak = strongestPeak(match.correlation, 0,
                                   static_cast<int>(match.correlation.size()) - 1, TiedPeak::Last);
    if (peak >= 0) {
        match.shift = peak - (w - 1);
    }
    return match;
}

// What r.txt holds of a correlation: its number of values, then all of them
// but the last, which no search reads.
Samples correlationFileValues(const Samples& correlation) {
    Samples values;
    values.reserve(correlation.size());
    values.push_back(static_cast<float>(correlation.size()));
    values.insert(values.end(), correlation.begin(), correlation.end() - 1);
    return values;
}

// The frames' arrays as handed to a search; the profiles only when the
// coarse step reads them.
struct PairInput {
    std::span<const float> samples;
    std::span<const float> previousSamples;
    std::span<const float> profile;
    std::span<const float> previousProfile;
};

JoinSearchResult searchJoin(const SearchVariant& variant, const FrameLengths& lengths,
                            const PairInput& in, SoundtrackType type, bool longStrip,
                            JoinDiagnostics* diagnostics) {
    const int lp = std::max(lengths.previousLength, 0);
    const int lc = std::max(lengths.currentLength, 0);
    if (diagnostics != nullptr) {
        diagnostics->previousSamples = copyOf(in.previousSamples, lp);
        diagnostics->samples = copyOf(in.samples, lc);
        diagnostics->fineCorrelation.clear();
        diagnostics->hasFineCorrelation = false;
    }

    // mean-free copies of what the coarse step correlates
    Samples previous =
        meanFreeCopyOf(variant.coarseOnProfiles ? in.previousProfile : in.previousSamples, lp);
    Samples current = meanFreeCopyOf(variant.coarseOnProfiles ? in.profile : in.samples, lc);

    // of the previous frame only the tail the guard leaves, of the current
    // frame only the head before its last `guard` rows, take part
    const int guard = guardLength(variant, lp, type, longStrip);
    blank(previous, 0, variant.previousKeepsLastGuard ? lp - guard : guard);
    blank(current, lc - guard, lc);

    const std::optional<CoarseJoin> coarse =
        coarseJoin(current, previous, lc, lp, guard, variant.coarseTie);
    if (!coarse) {
        return {lp, 0.0, false}; // no peak at all: keep the whole previous frame
    }

    // fine, around the coarse join: on the frame samples, mean-free over the
    // whole frame, or on the blanked copies the coarse step read
    Samples previousSamples;
    Samples samples;
    if (variant.coarseOnProfiles) {
        previousSamples = meanFreeCopyOf(in.previousSamples, lp);
        samples = meanFreeCopyOf(in.samples, lc);
    }
    const int w = fineWindowLength(lp, type, longStrip);
    const FineMatch fine = variant.coarseOnProfiles
                               ? fineMatch(previousSamples, samples, coarse->shift, w)
                               : fineMatch(previous, current, coarse->shift, w);
    if (diagnostics != nullptr && !fine.correlation.empty()) {
        diagnostics->fineCorrelation = correlationFileValues(fine.correlation);
        diagnostics->hasFineCorrelation = true;
    }

    int position = coarse->shift + fine.shift;
    if (variant.pastTheEndToLastRow && position > lp) {
        position = lp - 1;
    }
    return {std::clamp(position, 0, lp), coarse->score, true};
}

void traceLengths(std::size_t n, std::size_t m) {
    if (n > m) {
        trace("1 \n");
    } else if (n < m) {
        trace("2 \n");
    } else {
        trace("\n3");
    }
}

// R[i] for i from firstIndex on; see crossCorrelate. With skipZeros the terms
// whose P value is zero are left out too (a blanked stretch): adding zero
// changes no sum but the sign of a zero one.
std::vector<float> correlate(std::span<const float> p, std::span<const float> q, int firstIndex,
                             bool skipZeros) {
    const std::size_t n = p.size();
    const std::size_t m = q.size();
    traceLengths(n, m);
    const int length = static_cast<int>(std::max(n, m));
    if (length == 0) {
        return {};
    }
    const int count = 2 * length - 1;
    std::vector<float> r(static_cast<std::size_t>(count), 0.0f);
    // R[i] = sum over k of P[k] Q[k + i - (L - 1)]. The loop over k is
    // outside, so each R[i] still adds its terms for k = 0, 1, 2, ... in order
    // while the inner loop runs over independent sums. Terms with P or Q
    // beyond their data are zero and are left out: adding zero changes no sum.
    const int qCount = static_cast<int>(m);
    float* const out = r.data();
    for (int k = 0; k < static_cast<int>(n); ++k) {
        const float pk = p[static_cast<std::size_t>(k)];
        if (skipZeros && pk == 0.0f) {
            continue;
        }
        // i with max(0, firstIndex) <= i <= 2L - 2 and 0 <= k + i - (L - 1) < m
        const int iBegin = std::max({0, firstIndex, length - 1 - k});
        const int iEnd = std::min(count - 1, length - 1 - k + qCount - 1);
        const float* const qData = q.data();
        const int offset = k - (length - 1);
        for (int i = iBegin; i <= iEnd; ++i) {
            out[i] += pk * qData[i + offset];
        }
    }
    return r;
}

} // namespace

std::string diagnosticText(std::span<const float> values) {
    std::ostringstream out;
    for (float v : values) {
        out << v << ' ';
    }
    return out.str();
}

std::vector<float> crossCorrelate(std::span<const float> p, std::span<const float> q) {
    return correlate(p, q, 0, false);
}

std::vector<float> crossCorrelateFrom(std::span<const float> p, std::span<const float> q,
                                      int firstIndex) {
    return correlate(p, q, firstIndex, true);
}

int strongestPeak(std::span<const float> r, int begin, int end, TiedPeak tie) {
    begin = std::clamp(begin, 0, static_cast<int>(r.size()));
    end = std::clamp(end, begin, static_cast<int>(r.size()));
    // the strongest peak, upwards through the range
    float strongest = 0.0f;
    for (int i = begin; i < end; ++i) {
        const float before =
            i == 0 ? static_cast<float>(r.size()) : r[static_cast<std::size_t>(i - 1)];
        const float v = r[static_cast<std::size_t>(i)];
        if (before < v && v > strongest) {
            strongest = v;
        }
    }
    return tie == TiedPeak::Last ? lastIndexOf(r, strongest, begin, end)
                                 : firstIndexOf(r, strongest, begin, end);
}

JoinSearchResult findJoinPosition(const FrameLengths& lengths, std::span<const float> samples,
                                  std::span<const float> previousSamples,
                                  std::span<const float> profile,
                                  std::span<const float> previousProfile, SoundtrackType type,
                                  bool longStrip, JoinDiagnostics* diagnostics) {
    const PairInput in{samples, previousSamples, profile, previousProfile};
    return searchJoin(kProfileSearch, lengths, in, type, longStrip, diagnostics);
}

JoinRange searchedJoins(int previousLength, SoundtrackType type, bool longStrip, bool onSamples) {
    const SearchVariant& variant = onSamples ? kSampleSearch : kProfileSearch;
    const int lp = std::max(previousLength, 0);
    return {guardLength(variant, lp, type, longStrip), std::max(lp - 1, 0)};
}

JoinSearchResult findJoinPositionFromSamples(const FrameLengths& lengths,
                                             std::span<const float> samples,
                                             std::span<const float> previousSamples,
                                             SoundtrackType type, bool longStrip) {
    const PairInput in{samples, previousSamples, {}, {}};
    return searchJoin(kSampleSearch, lengths, in, type, longStrip, nullptr);
}

} // namespace veltrana
