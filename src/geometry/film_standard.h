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

// A 16 mm long strip: four frames to a scan, so every share of a frame's
// rows that a measure takes is a quarter of the scan's. Other films ignore
// the long-strip setting.
constexpr bool isLongStrip16(SoundtrackType type, bool longStrip) {
    return longStrip && type == SoundtrackType::VariableArea16;
}

// The sizes of a film standard on the film, in centimetres: the one place
// every measure takes them from. They become pixels by centimetresToPixels
// (geometry/rounding.h) at the scan resolution of the axis they lie on.
struct FilmStandard {
    // Width of film a scan spans across the film; the resolution across is
    // the scan's width measured against it.
    double scanWidthCm;
    // Distance from one frame to the next along the film: the resolution
    // along is measured against it, and a frame's rows (so the sample rate)
    // follow from it.
    double framePitchCm;
    // Width of the band the soundtrack job cuts and reads as sound.
    double soundtrackCutWidthCm;
    // Width of the soundtrack band the film job leaves out of the movie, as
    // it reports it. Not the cut width, on purpose: the two jobs measure
    // different things and each keeps the width it has always used.
    double bandLeftOutOfMovieCm;
    // Width of picture a movie frame keeps from the picture's edge on (35 mm
    // only with the soundtrack cut off; 16 mm always).
    double movieFrameWidthCm;
    // 35 mm: length of a movie frame along the film, the whole frame with
    // the soundtrack left in (not the pitch) and the picture alone with the
    // soundtrack cut off. 0 for 16 mm, whose movie frames are measured frame
    // pitches.
    double movieFrameLengthCm;
    double movieFramePictureLengthCm;
    // The film's whole width, edge to edge: a full-aperture scan's
    // resolution across is its film measured against it.
    double filmWidthCm;
};

// One film a row, the sizes in FilmStandard's order: scan width, frame
// pitch, soundtrack cut width, band left out of the movie, movie frame width,
// movie frame length, movie picture length, film width.
inline constexpr FilmStandard kVariableArea35Standard{2.09, 1.919, 0.24, 0.2, 2.1, 1.9, 1.52, 3.5};
inline constexpr FilmStandard kVariableDensity35Standard{2.09, 1.919, 0.254, 0.2,
                                                         2.05, 1.9,   1.52,  3.5};
inline constexpr FilmStandard kVariableArea16Standard{0.96, 0.762, 0.24, 0.254, 0.7, 0, 0, 1.6};

// The sizes of a film type. A value outside the enumeration gets the 16 mm
// sizes, as every measure has always treated a film that is not 35 mm.
constexpr const FilmStandard& filmStandard(SoundtrackType type) {
    switch (type) {
    case SoundtrackType::VariableArea35:
        return kVariableArea35Standard;
    case SoundtrackType::VariableDensity35:
        return kVariableDensity35Standard;
    case SoundtrackType::VariableArea16:
        break;
    }
    return kVariableArea16Standard;
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
