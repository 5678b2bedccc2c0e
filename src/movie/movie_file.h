#pragma once
// The movie of the make-film job: AVI data, FOURCC "DIVX", 24 frames per
// second, 640 x 480 colour frames, through OpenCV's FFmpeg writer.
//
// The writer only takes a file name, so it writes inside a private folder
// beside the target (job/safe_file.h). The finished movie is read back and
// checked whole (movie/movie_check.h) before it is renamed over the target:
// the writer does not report a full disk, and a short movie must not
// replace a good one. Nor does a movie ever replace a WAV file.

#include "base/status.h"
#include "job/safe_file.h"
#include "movie/turned_scale.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace veltrana {

inline constexpr int kMovieWidth = 640;
inline constexpr int kMovieHeight = 480;
inline constexpr double kMovieFramesPerSecond = 24.0;
// "DIVX"
inline constexpr int kMovieFourcc = 'D' | ('I' << 8) | ('V' << 16) | ('X' << 24);

// One movie frame from a cut region: scaled to 640 x 480 with bicubic
// interpolation, grey turned to three channels (a colour writer drops
// one-channel frames without a word).
cv::Mat movieFrame(const cv::Mat& region);

// movieFrame(turnedImage(stored, turn)), the same pixels, without turning
// the stored region first (movie/turned_scale.h).
cv::Mat movieFrameOfTurned(const cv::Mat& stored, const StoredTurn& turn);

class MovieFile {
public:
    MovieFile() = default;
    // Discards the unfinished movie unless commit() succeeded.
    ~MovieFile();
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    // Opens the writer for a target checked with resolveOutputTarget; refuses
    // a target that is a WAV file. On failure the message names the target
    // and the cause.
    Status open(const OutputTarget& target);
    // The same for a path, resolved first.
    Status open(const std::filesystem::path& target);

    // Appends one frame; anything but a 640 x 480 three-channel frame goes
    // through movieFrame first.
    void write(const cv::Mat& frame);

    // Completes the movie, checks that it holds every frame written, and
    // renames it over the target. On failure the message names the target,
    // and the target is left as it was.
    Status commit();

    // Removes the unfinished movie, leaving the target untouched.
    void discard();

    int framesWritten() const { return frames; }
    // Where the unfinished movie is written (inside a private folder).
    std::filesystem::path temporaryPath() const;

private:
    cv::VideoWriter writer;
    std::filesystem::path given;
    std::optional<PendingFolder> pending;
    int frames = 0;
    bool writeFailed = false;
};

} // namespace veltrana
