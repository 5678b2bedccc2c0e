#include "soundtrack/track_geometry.h"

#include "geometry/rounding.h"

namespace veltrana {

std::optional<SoundtrackGeometry> computeSoundtrackGeometry(SoundtrackType type,
                                                            ScanResolution resolution) {
    switch (type) {
    case SoundtrackType::VariableArea35:
    case SoundtrackType::VariableDensity35:
    case SoundtrackType::VariableArea16:
        return SoundtrackGeometry{
            centimetresToPixels(resolution.dpiX, filmStandard(type).soundtrackCutWidthCm),
            centimetresToPixels(resolution.dpiY, filmStandard(type).framePitchCm)};
    }
    return std::nullopt;
}

} // namespace veltrana
