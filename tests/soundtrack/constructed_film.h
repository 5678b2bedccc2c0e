#pragma once
// A film known everywhere, for the archival tests: every column band is a
// sum of sinusoids along the film, so a working image can show it from any
// fractional strip position, with a known sideways weave and illumination.
//
// Columns of an UP working image, 300 wide:
//   0 .. 9     perforation light: soft holes every 60 rows
//   10 .. 79   the track area (30); the band the cutter takes is 15 .. 74.
//              A clear band (200) centred on column 45 is 30 + 20 x the
//              sound columns wide, edge pixels in proportion to their cover
//   80 .. 299  the picture: three textures side by side

#include "soundtrack/strip.h"

#include <opencv2/core.hpp>

#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace veltrana::test {

struct FilmOptions {
    double start = 0; // strip position of row 0
    int rows = 600;
    int weave = 0;            // the film lies this many columns further right
    double falloff = 0;       // light at the ends this share below the middle
    bool silentTrack = false; // the sound is zero
    bool color = false;
    bool rotationUp = true;
    double tonePeriod = 0; // when set, the sound is one steady tone of this period (rows)
    // A frame photographed at a slant: column c reads the film
    // (r - middle) x slant x (c - 45) / 145 rows further on than row r, so
    // that the advance differs by slant x rows between the track's centre
    // (column 45) and the picture's (190) over a frame of `rows`.
    double slant = 0;
};

inline constexpr int kFilmWidth = 300;
inline constexpr StripRange kTrackCut{15, 74};

class ConstructedFilm {
public:
    explicit ConstructedFilm(unsigned variant = 1) {
        std::mt19937 random(variant);
        std::uniform_real_distribution<double> frequency(0.004, 0.12);
        std::uniform_real_distribution<double> phase(0, 2 * std::numbers::pi);
        std::uniform_real_distribution<double> amplitude(3, 12);
        for (auto& texture : textures) {
            for (Wave& w : texture) {
                w = {frequency(random), phase(random), amplitude(random)};
            }
        }
        std::uniform_real_distribution<double> tone(0.01, 0.08);
        for (Wave& w : sound) {
            w = {tone(random), phase(random), 0.048};
        }
    }

    // The sound at strip position t, within -0.96..0.96: twenty sinusoids of
    // unrelated frequencies, so that no stretch of it repeats within many
    // frames (a steady tone matches itself a period later).
    double soundAt(double t) const {
        double v = 0.0;
        for (const Wave& w : sound) {
            v += w.amplitude * std::sin(2 * std::numbers::pi * w.frequency * t + w.phase);
        }
        return v;
    }

    // Brightness of film column c (UP, before weave) at strip position t.
    double at(int c, double t, const FilmOptions& o) const {
        if (c < 10) {
            // soft-edged holes, 60 rows apart
            return 130.0 + 100.0 * std::tanh(2.5 * std::sin(2 * std::numbers::pi * t / 60.0));
        }
        if (c < 80) {
            const double sound = o.silentTrack ? 0.0
                                 : o.tonePeriod
                                     ? 0.9 * std::sin(2 * std::numbers::pi * t / o.tonePeriod)
                                     : soundAt(t);
            const double half = 15.0 + 10.0 * sound;
            const double cover = std::clamp(
                std::min(c + 1.0, 45.0 + half) - std::max(c + 0.0, 45.0 - half), 0.0, 1.0);
            return 30.0 + 170.0 * cover;
        }
        const auto& texture = textures[static_cast<std::size_t>(std::min((c - 80) / 74, 2))];
        double v = 120.0;
        for (const Wave& w : texture) {
            v += w.amplitude * std::sin(2 * std::numbers::pi * w.frequency * t + w.phase);
        }
        return v;
    }

    // The working image of a scan whose row 0 shows strip position o.start.
    cv::Mat image(const FilmOptions& o) const {
        cv::Mat out(o.rows, kFilmWidth, o.color ? CV_8UC3 : CV_8UC1);
        const int channels = out.channels();
        for (int r = 0; r < o.rows; ++r) {
            const double x = 2.0 * r / (o.rows - 1) - 1.0;
            const double light = 1.0 - o.falloff * x * x;
            uchar* row = out.ptr<uchar>(r);
            for (int c = 0; c < kFilmWidth; ++c) {
                const int filmColumn = std::max(c - o.weave, 0);
                const double along =
                    o.start + r + (r - 0.5 * (o.rows - 1)) * o.slant / o.rows * (c - 45.0) / 145.0;
                const double v = std::clamp(light * at(filmColumn, along, o), 0.0, 255.0);
                const int mirrored = o.rotationUp ? c : kFilmWidth - 1 - c;
                for (int ch = 0; ch < channels; ++ch) {
                    row[mirrored * channels + ch] = static_cast<uchar>(std::lround(v));
                }
            }
        }
        return out;
    }

    // The cutter's band in this image's columns.
    static StripRange trackCut(const FilmOptions& o) {
        const StripRange up{kTrackCut.first + o.weave, kTrackCut.last + o.weave};
        if (o.rotationUp) {
            return up;
        }
        return {kFilmWidth - 1 - up.last, kFilmWidth - 1 - up.first};
    }

private:
    struct Wave {
        double frequency = 0;
        double phase = 0;
        double amplitude = 0;
    };
    std::array<std::array<Wave, 10>, 3> textures{};
    std::array<Wave, 20> sound{};
};

} // namespace veltrana::test
