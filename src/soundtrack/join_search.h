#pragma once
// Where consecutive frames join.
//
// Consecutive scans overlap on the film. The join position of a pair
// (previous, current) is the row of the previous frame that shows the same
// film as row 0 of the current one: the number of samples the previous frame
// contributes before the current one takes over. It always lies in
// 0..previousLength.
//
// Both searches take the strongest peak of a correlation:
// - A peak is a value above zero that is higher than the value before it. The
//   first value of a correlation has none before it; it counts as a peak only
//   when it is above the number of values, 2L - 1. That is how the joins have
//   always been measured, and any other rule would move some of them.
// - The position is the index of a value exactly equal to the strongest peak,
//   compared in single precision, without tolerance. Where several values are
//   equal, the coarse step of findJoinPosition and the fine step of both
//   searches take the LAST of them, the coarse step of
//   findJoinPositionFromSamples the FIRST; the value taken need not be a peak
//   itself (the end of a flat top is taken over its start). std::max_element
//   and cv::minMaxLoc return the first of equal maxima of all values, peaks
//   or not, and cv::reduce the value without its place: none of them can
//   stand in for either rule.
// - The last value of a correlation (the largest shift) is never read.

#include "geometry/film_standard.h"

#include <span>
#include <string>
#include <vector>

namespace veltrana {

// The lengths of the pair's arrays, in rows of their working images.
struct FrameLengths {
    int currentLength = 0;  // Lc: rows of the current frame
    int previousLength = 0; // Lp: rows of the previous frame
};

// R[i] for i = 0 .. 2L - 2: the sum over k of P[k] x Q[k + i - (L - 1)], with
// L = max(n, m), both inputs zero-padded to L. R[i] matches Q shifted by
// i - (L - 1) against P; R[L - 1] is the unshifted match. Each sum runs over
// k upwards in single precision.
std::vector<float> crossCorrelate(std::span<const float> p, std::span<const float> q);

// The same values from R[firstIndex] on; the values before are 0. The
// searches read only the shifts past their guard, which saves most of the
// work.
std::vector<float> crossCorrelateFrom(std::span<const float> p, std::span<const float> q,
                                      int firstIndex);

// Which of several equal strongest peaks a search takes.
enum class TiedPeak { First, Last };

// Index of the strongest peak of the whole correlation r (2L - 1 values)
// among r[begin .. end - 1], of equal ones the one `tie` names; -1 when no
// value there equals it. When no peak there is above zero that is the index
// of a zero value of the range, if one is there.
int strongestPeak(std::span<const float> r, int begin, int end, TiedPeak tie);

// Where a pair joins, and how clearly.
struct JoinSearchResult {
    int position = 0; // clamped into 0..previousLength
    // The coarse step's strongest peak as a correlation coefficient (the
    // peak over the root of the two correlated arrays' energies, -1..1):
    // near 1 where the frames clearly share their film, near 0 where nothing
    // matched. The position does not depend on it.
    double score = 0;
    // The coarse step found a peak; otherwise the position is the whole
    // previous frame and the score 0.
    bool found = false;
};

// What the search worked on, for whoever tunes it: the job writes the last
// pair's as "v.txt", "z.txt" and "r.txt" beside the scans.
struct JoinDiagnostics {
    std::vector<float> previousSamples; // v.txt: the previous frame's samples
    std::vector<float> samples;         // z.txt: the current frame's samples
    // r.txt: the number of fine correlation values, 2L - 1, followed by all
    // of them but the last; only when the coarse step found a peak
    std::vector<float> fineCorrelation;
    bool hasFineCorrelation = false;
};

// The values as the diagnostic files hold them: each as a stream writes a
// float by default, followed by a blank.
std::string diagnosticText(std::span<const float> values);

// Coarse search on the frame profiles, refined on the frame samples. Fills
// `diagnostics` when it is given.
JoinSearchResult findJoinPosition(const FrameLengths& lengths, std::span<const float> samples,
                                  std::span<const float> previousSamples,
                                  std::span<const float> profile,
                                  std::span<const float> previousProfile, SoundtrackType type,
                                  bool longStrip, JoinDiagnostics* diagnostics = nullptr);

// The joins a search considers, first..last included: from its guard to the
// last row of the previous frame. A join found at either end may have been
// cut short by the range.
struct JoinRange {
    int first = 0;
    int last = 0;
};
JoinRange searchedJoins(int previousLength, SoundtrackType type, bool longStrip, bool onSamples);

// Both searches on the frame samples; no files.
JoinSearchResult findJoinPositionFromSamples(const FrameLengths& lengths,
                                             std::span<const float> samples,
                                             std::span<const float> previousSamples,
                                             SoundtrackType type, bool longStrip);

} // namespace veltrana
