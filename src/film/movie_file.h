#pragma once
// The movie of the make-film job: AVI data, FOURCC "DIVX", 24 frames per
// second, 640 x 480 colour frames, through OpenCV's FFmpeg writer.
//
// The movie is written to a temporary file beside the target and renamed
// into place only when it is complete, so an interrupted or failed run leaves
// any earlier file at the target as it was. The temporary file's name ends in
// ".avi" because the writer picks the container from the extension; the
// target keeps whatever name the user gave.

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
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

class MovieFile {
public:
    MovieFile() = default;
    // Discards the temporary file unless commit() succeeded.
    ~MovieFile();
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    // Opens the writer on a temporary file beside target. On failure returns
    // a message naming the target; an empty string on success.
    std::string open(const std::filesystem::path& target);

    // Appends one frame; anything but a 640 x 480 three-channel frame goes
    // through movieFrame first.
    void write(const cv::Mat& frame);

    // Completes the movie and renames it to the target. Returns a message
    // naming the target on failure (the temporary file is then removed).
    std::string commit();

    // Closes and removes the temporary file, leaving the target untouched.
    void discard();

    int framesWritten() const { return frames; }
    const std::filesystem::path& temporaryPath() const { return temporary; }

private:
    cv::VideoWriter writer;
    std::filesystem::path target;
    std::filesystem::path temporary;
    int frames = 0;
    bool writeFailed = false;
};

} // namespace veltrana
