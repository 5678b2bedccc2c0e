#pragma once
// Rounding rules shared by every pixel measure.

#include <cmath>

namespace veltrana {

// Nearest integer with halves away from zero, computed the way the measures
// have always been computed: floor(v + 0.5) for v >= 0, ceil(v - 0.5) below.
// (std::round differs from this for values just under a half.)
inline int roundHalfAway(double v) {
    return static_cast<int>(v >= 0.0 ? std::floor(v + 0.5) : std::ceil(v - 0.5));
}

// Fraction dropped toward zero.
inline int truncateToInt(double v) {
    return static_cast<int>(v);
}

// Centimetres on film to pixels at the given resolution: round(dpi * cm / 2.54),
// the product formed first.
inline int centimetresToPixels(int dpi, double centimetres) {
    return roundHalfAway(static_cast<double>(dpi) * centimetres / 2.54);
}

} // namespace veltrana
