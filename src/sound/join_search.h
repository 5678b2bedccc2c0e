#pragma once
// Where consecutive frames join.
//
// Consecutive scans overlap on the film. The join position of a pair
// (previous, current) is the row of the previous frame that shows the same
// film as row 0 of the current one: the number of samples the previous frame
// contributes before the current one takes over. It always lies in
// 0..previousLength.

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

// R[0] = 2L - 1 (the count of correlation values, stored as a value) and, for
// j = 1 .. 2L - 1, R[j] = sum over k of P[k] x Q[k + j - L], with
// L = max(n, m), both inputs zero-padded to L. R[L] is the unshifted match.
// Each sum runs over k upwards in single precision.
std::vector<float> crossCorrelate(std::span<const float> p, std::span<const float> q);

// The same values, compared as floats, from R[firstIndex] on; the values
// before are 0. The searches read only the shifts past their guard, which
// saves most of the work.
std::vector<float> crossCorrelateFrom(std::span<const float> p, std::span<const float> q,
                                      int firstIndex);

struct JoinSearchResult {
    int position = 0; // clamped into 0..previousLength
};

// What the search worked on, for whoever tunes it: the job writes the last
// pair's as "v.txt", "z.txt" and "r.txt" beside the scans.
struct JoinDiagnostics {
    std::vector<float> previousSamples; // v.txt: the previous frame's samples
    std::vector<float> samples;         // z.txt: the current frame's samples
    // r.txt: the fine correlation, without its last value; only when the
    // coarse step found a peak
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

// Both searches on the frame samples; no files.
int findJoinPositionFromSamples(const FrameLengths& lengths, std::span<const float> samples,
                                std::span<const float> previousSamples, SoundtrackType type,
                                bool longStrip);

} // namespace veltrana
