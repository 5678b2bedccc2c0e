#pragma once
// Joining frame samples into the output stream.

#include "sound/join_search.h"

#include <span>
#include <vector>

namespace veltrana {

// K weights of a raised-cosine fade: W[i] = 0.5 + 0.5 cos(theta_i), theta
// stepping by pi / (K - 1) in single precision; W weighs the previous frame,
// 1 - W the current one.
std::vector<float> crossfadeWeights(int count);

// Appends to `output` what the pair (previous, current) settles, given the
// join position already stored in `state`; on the last frame of the range the
// rest of the current frame too. Updates overlapLength / savedOverlapLength.
void joinFrameSamples(std::vector<float>& output, std::span<const float> samples,
                      std::span<const float> previousSamples, JoinState& state);

} // namespace veltrana
