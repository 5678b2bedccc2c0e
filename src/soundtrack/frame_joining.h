#pragma once
// Joining frame samples into the output stream.

#include <span>
#include <vector>

namespace veltrana {

// Where the job's loop over its range of frames stands.
struct FrameRangeProgress {
    int startFrame = 0;
    int stopFrame = 0;
    int frameNumber = 0; // the frame being joined to the one before
};

// The pair being joined and what the joining carries from one pair to the
// next.
struct FrameJoinState {
    int crossfade = 0;          // 1 to blend the overlap, 0 to cut at the join
    int joinPosition = 0;       // P, found for the current pair
    int currentLength = 0;      // Lc: rows of the current frame
    int previousLength = 0;     // Lp: rows of the previous frame
    int overlapLength = 0;      // K, kept by joinFrameSamples
    int savedOverlapLength = 0; // Kb, kept by joinFrameSamples
};

// K weights of a raised-cosine fade: W[i] = 0.5 + 0.5 cos(theta_i), theta
// stepping by pi / (K - 1) in single precision; W weighs the previous frame,
// 1 - W the current one.
std::vector<float> crossfadeWeights(int count);

// Appends to `output` what the pair (previous, current) settles, given the
// join position already stored in `state`; on the last frame of the range the
// rest of the current frame too. Updates overlapLength / savedOverlapLength.
void joinFrameSamples(std::vector<float>& output, std::span<const float> samples,
                      std::span<const float> previousSamples, const FrameRangeProgress& progress,
                      FrameJoinState& state);

} // namespace veltrana
