#include "sound/track_geometry.h"

#include "geometry/rounding.h"

namespace veltrana {

namespace {
constexpr double kVariableAreaTrackWidthCm = 0.24;
constexpr double kVariableDensityTrackWidthCm = 0.254;
constexpr double k35mmFramePitchCm = 1.919;
constexpr double k16mmFramePitchCm = 0.762;
} // namespace

double trackWidthCm(SoundtrackType type) {
    return type == SoundtrackType::VariableDensity35 ? kVariableDensityTrackWidthCm
                                                     : kVariableAreaTrackWidthCm;
}

double framePitchCm(SoundtrackType type) {
    return is35mm(type) ? k35mmFramePitchCm : k16mmFramePitchCm;
}

std::optional<SoundtrackGeometry> computeSoundtrackGeometry(SoundtrackType type,
                                                            ScanResolution resolution) {
    switch (type) {
    case SoundtrackType::VariableArea35:
    case SoundtrackType::VariableDensity35:
    case SoundtrackType::VariableArea16:
        return SoundtrackGeometry{centimetresToPixels(resolution.dpiX, trackWidthCm(type)),
                                  centimetresToPixels(resolution.dpiY, framePitchCm(type))};
    }
    return std::nullopt;
}

} // namespace veltrana
