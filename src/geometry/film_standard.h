#pragma once
// The film standards the program knows and the scan resolution that links
// their centimetres to pixels.

#include <optional>
#include <string_view>

namespace veltrana {

// The values are those of the film-type list index + 1, as stored everywhere.
enum class SoundtrackType : int {
    VariableArea35 = 1,
    VariableDensity35 = 2,
    VariableArea16 = 3,
};

inline bool is35mm(SoundtrackType type) {
    return type == SoundtrackType::VariableArea35 || type == SoundtrackType::VariableDensity35;
}

// "35va", "35vd", "16va": the short names used on the command line.
std::optional<SoundtrackType> soundtrackTypeFromName(std::string_view name);
std::string_view soundtrackTypeName(SoundtrackType type);
// "35 mm variable area", ...: for descriptions.
const char* filmStandardDescription(SoundtrackType type);

// Dots per inch: dpiX across the film, dpiY along it (working-image columns
// and rows respectively).
struct ScanResolution {
    int dpiX = 0;
    int dpiY = 0;
    friend bool operator==(const ScanResolution&, const ScanResolution&) = default;
};

} // namespace veltrana
