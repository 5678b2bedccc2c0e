#include "soundtrack/frame_joining.h"

#include <algorithm>
#include <cmath>

namespace veltrana {

namespace {

// current[i], or 0 past its end
float sampleAt(std::span<const float> values, int i) {
    return i >= 0 && i < static_cast<int>(values.size()) ? values[static_cast<std::size_t>(i)]
                                                         : 0.0f;
}

// Appends values[from .. to - 1], clipped to the array.
void appendRange(std::vector<float>& output, std::span<const float> values, int from, int to) {
    from = std::clamp(from, 0, static_cast<int>(values.size()));
    to = std::clamp(to, from, static_cast<int>(values.size()));
    output.insert(output.end(), values.begin() + from, values.begin() + to);
}

// The previous frame fades out over previous[join ..] while the current frame
// fades in over current[0 ..].
void appendBlend(std::vector<float>& output, std::span<const float> previous,
                 std::span<const float> current, int join, int count) {
    const std::vector<float> weights = crossfadeWeights(count);
    for (int i = 0; i < count; ++i) {
        const float w = weights[static_cast<std::size_t>(i)];
        output.push_back(w * sampleAt(previous, join + i) + (1 - w) * sampleAt(current, i));
    }
}

} // namespace

std::vector<float> crossfadeWeights(int count) {
    std::vector<float> weights(static_cast<std::size_t>(std::max(count, 0)));
    if (count <= 0) {
        return weights;
    }
    // the angle is held in single precision from step to step
    const double step = count > 1 ? 3.14159265 / (count - 1) : 0.0;
    float theta = 0.0f;
    for (int i = 0; i < count; ++i) {
        weights[static_cast<std::size_t>(i)] = static_cast<float>(0.5 + 0.5 * std::cos(theta));
        theta = static_cast<float>(theta + step);
    }
    return weights;
}

void joinFrameSamples(std::vector<float>& output, std::span<const float> samples,
                      std::span<const float> previousSamples, const FrameRangeProgress& progress,
                      FrameJoinState& state) {
    const int lp = std::max(state.previousLength, 0);
    const int lc = std::max(state.currentLength, 0);
    const int join = std::clamp(state.joinPosition, 0, lp);
    const bool crossfade = state.crossfade != 0;

    if (progress.frameNumber == progress.startFrame + 1) {
        // first pair: the previous frame up to the join, then the blend
        state.overlapLength = lp - join;
        appendRange(output, previousSamples, 0, join);
        if (crossfade) {
            appendBlend(output, previousSamples, samples, join, state.overlapLength);
        }
    } else if (crossfade) {
        // the first Kb samples of the previous frame went into the blend before
        state.savedOverlapLength = state.overlapLength;
        state.overlapLength = lp - join;
        appendRange(output, previousSamples, state.savedOverlapLength, lp - state.overlapLength);
        appendBlend(output, previousSamples, samples, join, state.overlapLength);
    } else {
        appendRange(output, previousSamples, 0, join);
    }

    if (progress.frameNumber == progress.stopFrame) {
        // the rest of the last frame, after its blended head
        appendRange(output, samples, crossfade ? state.overlapLength : 0, lc);
    }
}

} // namespace veltrana
