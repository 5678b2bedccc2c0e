#pragma once
// A movie with its sound, through FFmpeg's libraries: the container chosen
// by the file name.
//
// - .avi: the standard movie's DIVX (MPEG-4) picture, made by the same
//   video writer with the same settings, and PCM sound;
// - .mp4: H.264 and AAC at 48 kHz, for access: the index first (faststart,
//   for browsers) and an edit list that takes off AAC's priming, so that
//   the first sample decoded is the first sample given;
// - .mkv: FFV1 (lossless, in the frames' own colours) and FLAC.
//
// The sound is known only once every picture is: its timing comes from the
// whole reel. So the pictures are encoded first, into a file of their own in
// a private folder beside the target (job/safe_file.h), and the movie is then
// muxed from them and the sound, read back whole (movie/movie_check.h) and
// renamed over the target. Nothing larger than one picture and the sound is
// held in memory.

#include "base/status.h"
#include "job/safe_file.h"
#include "movie/movie_container.h"
#include "movie/movie_sound.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace veltrana {

class PictureEncoder;

class SoundMovie {
public:
    SoundMovie();
    // Discards the unfinished movie unless commit() succeeded.
    ~SoundMovie();
    SoundMovie(const SoundMovie&) = delete;
    SoundMovie& operator=(const SoundMovie&) = delete;

    // Starts the pictures for a target checked with resolveOutputTarget;
    // refuses a target that is a WAV file. On failure the message names the
    // target and the cause.
    Status open(const OutputTarget& target, MovieContainer container, FrameRate rate);

    // Appends one picture; anything but a 640 x 480 three-channel frame goes
    // through movieFrame first.
    void write(const cv::Mat& frame);
    // Appends the last picture again `count` times.
    void hold(int count);

    // Muxes the pictures with `sound` (samples in [-1, 1] at the format's
    // rate), reads the movie back and renames it over the target. On failure
    // the message names the target, and the target is left as it was.
    Status commit(std::span<const float> sound, const MovieSoundFormat& format);

    // Removes the unfinished movie, leaving the target untouched.
    void discard();

    int framesWritten() const { return frames; }

private:
    Status failed(const std::string& why);

    std::filesystem::path given;
    MovieContainer container = MovieContainer::Avi;
    FrameRate rate;
    std::optional<PendingFolder> pending;
    std::unique_ptr<PictureEncoder> pictures;
    cv::Mat last;
    int frames = 0;
};

} // namespace veltrana
