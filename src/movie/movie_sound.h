#pragma once
// The sound of a movie with sound: the soundtrack stream timed against the
// pictures of the same scans.
//
// Conventions for this header:
// - Stream positions are in rows of the soundtrack stream (stream sample i
//   is row i of the run's first frame, as soundtrack/archival_stream.h
//   states), fractional where a position lies between rows.
// - A film frame begins at its frame line: the row where the picture rises
//   out of the dark line between frames (FrameCut::frameStart).
// - The sound is printed `advance` frames ahead of its picture: the sound of
//   picture k is the soundtrack beside film frame k - advance. Movie time 0
//   is the first picture's start.
// - Movie sound samples are floating point in [-1, 1].

#include "base/status.h"

#include <cstdint>
#include <span>
#include <vector>

namespace veltrana {

// Pictures per second as a ratio, so that rates such as 24000/1001 fit.
struct FrameRate {
    int numerator = 24;
    int denominator = 1;
    double perSecond() const { return static_cast<double>(numerator) / denominator; }
};

// The film's frame advance measured over a reel, in stream rows: the mean
// of the joins (one per scan after the first) within kNearMedianShare of
// their median. Each join is the pitch plus the difference of two scans'
// placing errors, so the mean of consecutive joins loses those errors but
// the first's and the last's: the advance comes out to a small fraction of
// a row over a reel, where a narrow window around the median would lean
// towards whichever side the scanner's errors happened to fall. A misjoin
// far from the median counts for nothing. One scan of a 16 mm long strip
// holds `framesPerScan` frames. Fails when there is no join.
struct FrameAdvance {
    double rows = 0;   // per film frame
    int joinsUsed = 0; // the joins near the median
    int joinsCounted = 0;
};
inline constexpr double kNearMedianShare = 0.02;
Result<FrameAdvance> measuredFrameAdvance(std::span<const double> joins, int framesPerScan);

// Where the sound goes against the pictures.
struct SoundPlacement {
    FrameRate pictureRate;
    int advance = 0;           // film frames the sound is printed ahead of its picture
    double rowsPerFrame = 0;   // the reel's measured frame advance
    double firstFrameLine = 0; // stream position of the first picture's frame line
    int sampleRate = 48000;    // of the movie's sound
};

// The movie's sound: silence under the first `advance` pictures (their
// sound lies before the reel), then the stream from the first picture's
// frame line on, played so that one frame advance lasts one picture and
// resampled to the movie's rate. The stream's rows before the first frame
// line are the frame before the reel's and are left out. The stream's last
// rows, printed beside the last `advance` pictures, play after the last
// picture.
Result<std::vector<float>> movieSoundSamples(std::span<const float> stream,
                                             const SoundPlacement& placement);

// How many pictures a movie of `pictures` needs so that its pictures last
// as long as `soundSamples` at `sampleRate` (at least `pictures`).
int picturesCovering(std::int64_t soundSamples, int sampleRate, FrameRate pictureRate,
                     int pictures);

// The stream in [-1, 1]: standard samples as the 8-bit WAV holds them
// (soundtrackBytes), centred on 128; samples centred on 0 (archival levels,
// in 8-bit steps) keep their fractions. Beyond full scale is clipped.
std::vector<float> movieSoundLevels(std::span<const float> stream, bool centredOnZero,
                                    bool removeDc);

} // namespace veltrana
