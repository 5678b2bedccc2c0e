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

#include <filesystem>

namespace veltrana {

// Whether the AVI at `path` is whole and holds exactly `expectedFrames`
// 640 x 480 MPEG-4 frames that all decode. The message says what is wrong,
// without the file's name: the caller names the movie.
Status checkFinishedMovie(const std::filesystem::path& path, int expectedFrames);

// Keeps FFmpeg's libraries from printing what they find wrong in a movie;
// the check says it in one sentence. For a program's start: it sets the
// libraries' one log level for the whole process.
void silenceMovieLibraryLog();

} // namespace veltrana
