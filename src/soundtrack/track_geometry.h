#pragma once
// The soundtrack in pixels: how wide the band is across the film and how many
// working-image rows make one film frame.
//
// One working-image row is one sample, so the frame pitch also fixes the
// output sample rate: film speed x frame pitch.

#include "geometry/film_standard.h"

#include <optional>

namespace veltrana {

struct SoundtrackGeometry {
    int trackWidth = 0; // columns, from dpiX
    int framePitch = 0; // rows, from dpiY
    friend bool operator==(const SoundtrackGeometry&, const SoundtrackGeometry&) = default;
};

// The soundtrack cut width and the frame pitch of the film's FilmStandard, each
// round(dpi x cm / 2.54), halves away from zero. Unknown film types give no
// geometry.
std::optional<SoundtrackGeometry> computeSoundtrackGeometry(SoundtrackType type,
                                                            ScanResolution resolution);

} // namespace veltrana
