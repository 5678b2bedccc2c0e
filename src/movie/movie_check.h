#pragma once
// Reading a finished movie back before it may replace anything.
//
// The video writer reports neither a full disk nor a file it could not
// finish: a movie cut short can still hold every frame in its data while its
// sizes were never filled in, its index is missing and its last frame is
// damaged, and a player then gives up on it. So the file is checked as a
// player reads it: the AVI layout first (RIFF chunks that fill the file
// exactly, the frames counted in the header, an index after the frames),
// then every frame decoded with FFmpeg's libraries.

#include "base/status.h"
#include "movie/movie_container.h"

#include <cstdint>
#include <filesystem>

namespace veltrana {

// Whether the AVI at `path` is whole and holds exactly `expectedFrames`
// 640 x 480 MPEG-4 frames that all decode. The message says what is wrong,
// without the file's name: the caller names the movie.
Status checkFinishedMovie(const std::filesystem::path& path, int expectedFrames);

// What a movie with sound must hold.
struct MovieExpectation {
    MovieContainer container = MovieContainer::Avi;
    int frames = 0;                // 640 x 480 pictures of the container's video codec
    std::int64_t soundSamples = 0; // mono, of the container's sound codec
    int sampleRate = 48000;
};

// Whether the movie with sound at `path` is whole: for .avi the AVI layout
// as above; then every picture and the whole sound decode, the pictures
// exactly `frames` of them and the sound no shorter than `soundSamples`
// (AAC may hold up to one frame of 1024 more, FFmpeg's decoders cut its
// priming).
Status checkFinishedMovie(const std::filesystem::path& path, const MovieExpectation& expected);

// Keeps FFmpeg's libraries from printing what they find wrong in a movie;
// the check says it in one sentence. For a program's start: it sets the
// libraries' one log level for the whole process.
void silenceMovieLibraryLog();

} // namespace veltrana
