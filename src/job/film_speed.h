#pragma once
// Film speed: frames per second, as a fraction, so that the NTSC-derived
// rates (24000/1001, 30000/1001) are what they are and not a rounding of it.

#include "reading/dpx_header.h"

#include <optional>
#include <string>
#include <string_view>

namespace veltrana {

struct FilmSpeed {
    int numerator = 25;
    int denominator = 1; // at least 1; the fraction in lowest terms

    FilmSpeed() = default;
    // A whole number of frames per second; implicit, as 24 is a film speed.
    FilmSpeed(int framesPerSecond) : numerator(framesPerSecond) {}
    FilmSpeed(int numerator, int denominator);

    double perSecond() const { return static_cast<double>(numerator) / denominator; }
    // The film's rate for a frame pitch: samples per second.
    double rate(int framePitch) const { return perSecond() * framePitch; }
    // Whether speed x pitch is a whole number of samples per second.
    bool givesWholeRate(int framePitch) const;

    bool operator==(const FilmSpeed&) const = default;
};

inline constexpr int kSlowestFilmSpeed = 16;
inline constexpr int kFastestFilmSpeed = 60;

// A film speed from 16 to 60 frames per second, written as a whole number
// ("24"), a decimal ("23.976", "16.5") or a fraction ("24000/1001"). A
// decimal that is a rate of 1000/1001 rounded (23.976, 29.97, 59.94) means
// that rate exactly. Nothing for anything else.
std::optional<FilmSpeed> parseFilmSpeed(std::string_view text);

// "24", "23.976" (a 1000/1001 rate, to three decimals), "16.5", or the
// fraction ("50/3").
std::string filmSpeedText(const FilmSpeed& speed);

// The seconds since midnight a time code stands for at this film speed: its
// frames are counted at the whole rate nearest to it (24 for 23.976), each
// lasting one frame of the speed, and drop-frame time code (29.97, 59.94)
// skips the frame numbers it skips.
double secondsOfTimecode(const DpxTimecode& timecode, const FilmSpeed& speed);

} // namespace veltrana
