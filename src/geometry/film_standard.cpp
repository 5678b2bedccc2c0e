#include "geometry/film_standard.h"

namespace veltrana {

std::optional<SoundtrackType> soundtrackTypeFromName(std::string_view name) {
    if (name == "35va") {
        return SoundtrackType::VariableArea35;
    }
    if (name == "35vd") {
        return SoundtrackType::VariableDensity35;
    }
    if (name == "16va") {
        return SoundtrackType::VariableArea16;
    }
    return std::nullopt;
}

std::string_view soundtrackTypeName(SoundtrackType type) {
    switch (type) {
    case SoundtrackType::VariableArea35:
        return "35va";
    case SoundtrackType::VariableDensity35:
        return "35vd";
    case SoundtrackType::VariableArea16:
        return "16va";
    }
    return "?";
}

const char* filmStandardDescription(SoundtrackType type) {
    switch (type) {
    case SoundtrackType::VariableArea35:
        return "35 mm variable area";
    case SoundtrackType::VariableDensity35:
        return "35 mm variable density";
    case SoundtrackType::VariableArea16:
        return "16 mm variable area";
    }
    return "unknown film";
}

} // namespace veltrana
