#pragma once
// The sound at a delivery rate.

#include "base/status.h"

#include <span>
#include <vector>

namespace veltrana {

// The samples resampled from `fromRate` to `toRate` by libsoxr at its very
// high quality (linear phase, about 175 dB of rejection), in double
// precision internally; the same rate gives the samples back. The result
// holds round(count x toRate / fromRate) samples.
Result<std::vector<float>> resampleSound(std::span<const float> samples, double fromRate,
                                         double toRate);

} // namespace veltrana
