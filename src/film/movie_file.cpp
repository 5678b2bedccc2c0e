#include "film/movie_file.h"

#include "job/safe_file.h"

#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace veltrana {

namespace {

std::string cannotCreate(const std::filesystem::path& target, const std::string& why) {
    return "Cannot create the movie " + target.string() + ": " + why;
}

} // namespace

cv::Mat movieFrame(const cv::Mat& region) {
    const cv::Size size(kMovieWidth, kMovieHeight);
    if (region.empty()) {
        return cv::Mat(size, CV_8UC3, cv::Scalar::all(0));
    }
    cv::Mat scaled;
    cv::resize(region, scaled, size, 0.0, 0.0, cv::INTER_CUBIC);
    if (scaled.channels() == 3) {
        return scaled;
    }
    cv::Mat colour;
    cv::cvtColor(scaled, colour, scaled.channels() == 4 ? cv::COLOR_BGRA2BGR : cv::COLOR_GRAY2BGR);
    return colour;
}

MovieFile::~MovieFile() {
    discard();
}

std::string MovieFile::open(const std::filesystem::path& movie) {
    namespace fs = std::filesystem;
    discard();
    target = movie;
    frames = 0;
    if (movie.empty() || !movie.has_filename()) {
        return cannotCreate(movie, "no file name given");
    }
    std::error_code ec;
    if (fs::is_directory(movie, ec)) {
        return cannotCreate(movie, "it is a folder");
    }
    const fs::path folder = movie.has_parent_path() ? movie.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) {
        return cannotCreate(movie, folder.string() + " is not an existing folder");
    }

    // Creating the file ourselves first tells why the folder cannot be
    // written, which the video writer would not.
    temporary = temporaryPathFor(movie, ".avi");
    errno = 0;
    std::FILE* claim = std::fopen(temporary.c_str(), "wb");
    if (claim == nullptr) {
        const std::string why = std::strerror(errno);
        temporary.clear();
        return cannotCreate(movie, why);
    }
    std::fclose(claim);

    bool opened = false;
    try {
        opened = writer.open(temporary.string(), cv::CAP_FFMPEG, kMovieFourcc,
                             kMovieFramesPerSecond, cv::Size(kMovieWidth, kMovieHeight), true);
    } catch (const cv::Exception&) {
        opened = false;
    }
    if (!opened || !writer.isOpened()) {
        discard();
        return cannotCreate(movie, "the FFmpeg video writer cannot write DIVX (MPEG-4) AVI data");
    }
    return {};
}

void MovieFile::write(const cv::Mat& frame) {
    if (!writer.isOpened()) {
        return;
    }
    const bool ready =
        frame.cols == kMovieWidth && frame.rows == kMovieHeight && frame.type() == CV_8UC3;
    try {
        writer.write(ready ? frame : movieFrame(frame));
        ++frames;
    } catch (const cv::Exception&) {
        // counted as not written; commit() notices the shortfall
        writeFailed = true;
    }
}

std::string MovieFile::commit() {
    namespace fs = std::filesystem;
    if (!writer.isOpened()) {
        return "Cannot write the movie " + target.string() + ": it was not opened";
    }
    try {
        writer.release();
    } catch (const cv::Exception&) {
        writeFailed = true;
    }
    std::error_code ec;
    const auto size = fs::file_size(temporary, ec);
    if (writeFailed || ec || size == 0) {
        discard();
        return "Cannot write the movie " + target.string() + ": the video writer failed";
    }
    const std::string why = commitTemporary(temporary, target);
    temporary.clear();
    if (!why.empty()) {
        return "Cannot write the movie " + target.string() + ": " + why;
    }
    return {};
}

void MovieFile::discard() {
    try {
        writer.release();
    } catch (const cv::Exception&) {
    }
    if (!temporary.empty()) {
        discardTemporary(temporary);
        temporary.clear();
    }
    writeFailed = false;
}

} // namespace veltrana
