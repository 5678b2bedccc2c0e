#pragma once
// The containers of a movie with sound (movie/sound_movie.h), chosen by the
// file name.

#include "base/status.h"

#include <filesystem>

namespace veltrana {

enum class MovieContainer { Avi, Mp4, Mkv };

// The container a file name asks for (.avi, .mp4, .mkv, in any case); a
// message naming the file and the names known otherwise.
Result<MovieContainer> movieContainerOf(const std::filesystem::path& path);

// "avi", "mp4" or "mkv".
const char* movieContainerName(MovieContainer container);

// What the container holds, for the log: "DIVX with PCM" ...
const char* movieCodecsName(MovieContainer container);

// The sound's format in a container: .mp4 is always 48 kHz (AAC has no film
// rate); the others take `askedRate` when it is given (not 0), else 48 kHz.
// PCM and FLAC hold 16 bits, or 24 when `archivalBits` is set.
struct MovieSoundFormat {
    int sampleRate = 48000;
    int bits = 16; // PCM and FLAC
};
MovieSoundFormat movieSoundFormat(MovieContainer container, int askedRate, bool archivalBits);

} // namespace veltrana
