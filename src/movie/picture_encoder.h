#pragma once
// The pictures of a movie with sound, encoded into a file of their own
// before the sound is known (movie/sound_movie.h muxes them with it).

#include "base/status.h"
#include "movie/movie_container.h"
#include "movie/movie_sound.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <memory>

namespace veltrana {

class PictureEncoder {
public:
    virtual ~PictureEncoder() = default;
    // Appends one 640 x 480 BGR picture; false when it could not be encoded.
    virtual bool write(const cv::Mat& picture) = 0;
    // Completes the file; the message says why it could not be.
    virtual Status finish() = 0;
};

// The file name the pictures of a container are kept under, in the private
// folder.
std::filesystem::path pictureFileName(MovieContainer container);

// An encoder writing `path`: for .avi the standard movie's DIVX writer, for
// .mp4 H.264 and for .mkv FFV1 (both through libavcodec, into NUT).
Result<std::unique_ptr<PictureEncoder>>
openPictureEncoder(const std::filesystem::path& path, MovieContainer container, FrameRate rate);

} // namespace veltrana
