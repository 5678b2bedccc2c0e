#pragma once
// Reading sampled values between their samples.
//
// Conventions for this header:
// - Index i of an array is sample position i, 0-based. A shift s moves the
//   reading point: the result at i is the value at position i + s.
// - Between samples the values are band-limited interpolations: a
//   Kaiser-windowed sinc reaching kShiftKernelReach samples on either side,
//   its weights normalised to sum to one (a constant stays exactly constant).
// - Beyond the ends the array is taken to continue with its end values.
// - Computed in double, stored as float.
//
// (OpenCV's Lanczos remap would do the same job, but it rounds every
// position to 1/32 of a sample, far coarser than the joins need.)

#include <span>
#include <vector>

namespace veltrana {

inline constexpr int kShiftKernelReach = 8;

// The 2 x kShiftKernelReach weights that give the value at position
// floor(x) + fraction from the samples floor(x) - reach + 1 .. floor(x) + reach.
// `fraction` lies in [0, 1).
std::vector<double> shiftKernel(double fraction);

// The interpolated value at one (fractional) position.
double valueAt(std::span<const float> values, double position);

// Every value moved by `shift` samples: out[i] = value at i + shift. Same
// length as the input.
std::vector<float> shiftedSamples(std::span<const float> values, double shift);

} // namespace veltrana
