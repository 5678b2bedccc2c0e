#pragma once
// Muxing a movie with sound from its encoded pictures and its sound
// (movie/sound_movie.h): the pictures copied packet by packet, the sound
// encoded as it goes, the two interleaved by time.

#include "base/status.h"
#include "movie/movie_sound.h"
#include "movie/sound_movie.h"

#include <filesystem>
#include <span>

namespace veltrana {

// Writes the movie at `moviePath` from the pictures at `picturesPath` and
// `sound` (samples in [-1, 1] at format.sampleRate). The message says what
// failed (a full disk: the write error), without the movie's name.
Status muxSoundMovie(const std::filesystem::path& picturesPath,
                     const std::filesystem::path& moviePath, MovieContainer container,
                     FrameRate rate, std::span<const float> sound, const MovieSoundFormat& format);

} // namespace veltrana
