#include "sound/join_search.h"

#include "geometry/profile.h"
#include "geometry/rounding.h"
#include "geometry/trace.h"

#include <algorithm>
#include <sstream>

namespace veltrana {

namespace {

using Samples = std::vector<float>;

Samples copyOf(std::span<const float> values, int count) {
    count = std::clamp(count, 0, static_cast<int>(values.size()));
    return Samples(values.begin(), values.begin() + count);
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

bool isLongStrip16(SoundtrackType type, bool longStrip) {
    return longStrip && type == SoundtrackType::VariableArea16;
}

// Length of the fine window: 2.4 % of the previous frame (1.2 % on a 16 mm
// long strip, whose frames are four times longer).
int fineWindowLength(int previousLength, SoundtrackType type, bool longStrip) {
    return roundHalfAway((isLongStrip16(type, longStrip) ? 0.012 : 0.024) * previousLength);
}

// The fine correction: the offset of the best match of the current frame's
// head against the previous frame from the coarse position on. Returns the
// peak index Ns of the correlation, w when it has no peak (no correction).
struct FineMatch {
    int peak = 0;
    Samples correlation;
};

FineMatch fineMatch(const Samples& previous, const Samples& current, int coarse, int w,
                    int firstCandidate) {
    FineMatch match{w, {}};
    if (w <= 0) {
        return match;
    }
    Samples e = windowOf(previous, coarse, w);
    Samples f = windowOf(current, 0, w);
    subtractMean(e);
    subtractMean(f);
    match.correlation = crossCorrelate(e, f);
    const int count = static_cast<int>(match.correlation[0]);
    const float best = riseMaximum(match.correlation, 1, count);
    const int peak = lastIndexOf(match.correlation, best, firstCandidate, count);
    if (peak >= 0) {
        match.peak = peak;
    }
    return match;
}

} // namespace

std::string diagnosticText(std::span<const float> values) {
    std::ostringstream out;
    for (float v : values) {
        out << v << ' ';
    }
    return out.str();
}

namespace {

void traceLengths(std::size_t n, std::size_t m) {
    if (n > m) {
        trace("1 \n");
    } else if (n < m) {
        trace("2 \n");
    } else {
        trace("\n3");
    }
}

// R[j] for j from firstIndex on; see crossCorrelate. With skipZeros the terms
// whose P value is zero are left out too (a blanked stretch): adding zero
// changes no sum but the sign of a zero one.
std::vector<float> correlate(std::span<const float> p, std::span<const float> q, int firstIndex,
                             bool skipZeros) {
    const std::size_t n = p.size();
    const std::size_t m = q.size();
    traceLengths(n, m);
    const int length = static_cast<int>(std::max(n, m));
    std::vector<float> r(static_cast<std::size_t>(2 * length), 0.0f);
    if (length == 0) {
        return r;
    }
    r[0] = static_cast<float>(2 * length - 1);
    // R[j] = sum over k of P[k] Q[k + j - L]. The loop over k is outside, so
    // each R[j] still adds its terms for k = 0, 1, 2, ... in order while the
    // inner loop runs over independent sums. Terms with P or Q beyond their
    // data are zero and are left out: adding zero changes no sum.
    const int qCount = static_cast<int>(m);
    float* const out = r.data();
    for (int k = 0; k < static_cast<int>(n); ++k) {
        const float pk = p[static_cast<std::size_t>(k)];
        if (skipZeros && pk == 0.0f) {
            continue;
        }
        // j with max(1, firstIndex) <= j <= 2L - 1 and 0 <= k + j - L < m
        const int jBegin = std::max({1, firstIndex, length - k});
        const int jEnd = std::min(2 * length - 1, length - k + qCount - 1);
        const float* const qData = q.data();
        const int offset = k - length;
        for (int j = jBegin; j <= jEnd; ++j) {
            out[j] += pk * qData[j + offset];
        }
    }
    return r;
}

} // namespace

std::vector<float> crossCorrelate(std::span<const float> p, std::span<const float> q) {
    return correlate(p, q, 1, false);
}

std::vector<float> crossCorrelateFrom(std::span<const float> p, std::span<const float> q,
                                      int firstIndex) {
    return correlate(p, q, firstIndex, true);
}

JoinSearchResult findJoinPosition(const FrameLengths& lengths, std::span<const float> samples,
                                  std::span<const float> previousSamples,
                                  std::span<const float> profile,
                                  std::span<const float> previousProfile, SoundtrackType type,
                                  bool longStrip, JoinDiagnostics* diagnostics) {
    JoinSearchResult result;
    const int lp = std::max(lengths.previousLength, 0);
    const int lc = std::max(lengths.currentLength, 0);
    // copies of the two frames' profiles and samples
    Samples mp = copyOf(previousProfile, lp);
    Samples mc = copyOf(profile, lc);
    Samples sp = copyOf(previousSamples, lp);
    Samples sc = copyOf(samples, lc);

    if (diagnostics != nullptr) {
        diagnostics->previousSamples = sp;
        diagnostics->samples = sc;
        diagnostics->fineCorrelation.clear();
        diagnostics->hasFineCorrelation = false;
    }

    subtractMean(mp);
    subtractMean(mc);
    subtractMean(sp);
    subtractMean(sc);

    // only the previous frame's tail from the guard on, and the current
    // frame's head before its last `guard` rows, take part
    const int guard = roundHalfAway((isLongStrip16(type, longStrip) ? 0.82 : 0.52) * lp);
    blank(mp, 0, guard);
    blank(mc, lc - guard, lc);

    // coarse: the last strongest peak of the profile correlation past the
    // guard (only the values from just before the guard on are read)
    const Samples r = crossCorrelateFrom(mc, mp, guard + lp - 1);
    const int length = std::max(lc, lp);
    int coarse = lp; // no peak at all: keep the whole previous frame
    bool found = false;
    if (!r.empty()) {
        const int count = static_cast<int>(r[0]);
        const float best = riseMaximum(r, guard + lp, count);
        const int peak = lastIndexOf(r, best, guard + lp, count);
        if (peak >= 0) {
            coarse = peak - length;
            found = true;
        }
    }

    // fine: the frame samples around the coarse position
    const int w = fineWindowLength(lp, type, longStrip);
    int position = coarse;
    if (found) {
        const FineMatch fine = fineMatch(sp, sc, coarse, w, 0);
        if (diagnostics != nullptr && !fine.correlation.empty()) {
            diagnostics->fineCorrelation.assign(fine.correlation.begin(),
                                                fine.correlation.end() - 1);
            diagnostics->hasFineCorrelation = true;
        }
        position = coarse + (fine.peak - w);
        if (position > lp) {
            position = lp - 1;
        }
    }
    result.position = std::clamp(position, 0, lp);
    return result;
}

int findJoinPositionFromSamples(const FrameLengths& lengths, std::span<const float> samples,
                                std::span<const float> previousSamples, SoundtrackType type,
                                bool longStrip) {
    const int lp = std::max(lengths.previousLength, 0);
    const int lc = std::max(lengths.currentLength, 0);
    // mean-free copies of the two frames' samples
    Samples sp = copyOf(previousSamples, lp);
    Samples sc = copyOf(samples, lc);
    subtractMean(sp);
    subtractMean(sc);

    // only the last `guard` samples of the previous frame, and the current
    // frame's head before its last `guard` samples, take part
    const int guard = roundHalfAway((isLongStrip16(type, longStrip) ? 0.82 : 0.48) * lp);
    blank(sp, 0, lp - guard);
    blank(sc, lc - guard, lc);

    // coarse: the first strongest peak past the guard
    const Samples r = crossCorrelateFrom(sc, sp, guard + lp - 1);
    const int length = std::max(lc, lp);
    if (r.empty()) {
        return lp;
    }
    const int count = static_cast<int>(r[0]);
    const float best = riseMaximum(r, guard + lp, count);
    const int peak = firstIndexOf(r, best, guard + lp, count);
    if (peak < 0) {
        return lp; // no peak at all: keep the whole previous frame
    }
    const int coarse = peak - length;

    // fine, on the blanked copies; the count slot takes no part here
    const int w = fineWindowLength(lp, type, longStrip);
    const FineMatch fine = fineMatch(sp, sc, coarse, w, 1);
    return std::clamp(coarse + (fine.peak - w), 0, lp);
}

} // namespace veltrana
