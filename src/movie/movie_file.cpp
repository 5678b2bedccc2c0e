#include "movie/movie_file.h"

#include "movie/movie_check.h"
#include "movie/turned_scale.h"

#include <opencv2/imgproc.hpp>

#include <utility>

namespace veltrana {

namespace {

Status cannotWrite(const std::filesystem::path& target, const std::string& why) {
    return Status::failure("Cannot write the movie to " + target.string() + ": " + why);
}

cv::Mat blackFrame() {
    return cv::Mat(cv::Size(kMovieWidth, kMovieHeight), CV_8UC3, cv::Scalar::all(0));
}

// A scaled frame in three channels.
cv::Mat colourFrame(const cv::Mat& scaled) {
    if (scaled.channels() == 3) {
        return scaled;
    }
    cv::Mat colour;
    cv::cvtColor(scaled, colour, scaled.channels() == 4 ? cv::COLOR_BGRA2BGR : cv::COLOR_GRAY2BGR);
    return colour;
}

} // namespace

cv::Mat movieFrame(const cv::Mat& region) {
    if (region.empty()) {
        return blackFrame();
    }
    cv::Mat scaled;
    cv::resize(region, scaled, cv::Size(kMovieWidth, kMovieHeight), 0.0, 0.0, cv::INTER_CUBIC);
    return colourFrame(scaled);
}

cv::Mat movieFrameOfTurned(const cv::Mat& stored, const StoredTurn& turn) {
    if (stored.empty()) {
        return blackFrame();
    }
    return colourFrame(scaleTurnedCubic(stored, turn, cv::Size(kMovieWidth, kMovieHeight)));
}

MovieFile::~MovieFile() {
    discard();
}

Status MovieFile::open(const std::filesystem::path& target) {
    const Result<OutputTarget> resolved = resolveOutputTarget(target, "the movie");
    if (!resolved) {
        return resolved.status();
    }
    return open(*resolved);
}

Status MovieFile::open(const OutputTarget& target) {
    discard();
    given = target.given;
    frames = 0;
    // a sound is worth more than the movie that would take its name
    if (target.exists && fileStartsAsRiff(target.file, "WAVE")) {
        return cannotWrite(given, "it is a WAV file, and a movie never replaces a sound");
    }
    Result<PendingFolder> folder = PendingFolder::create(target, "the movie");
    if (!folder) {
        return folder.status();
    }
    pending.emplace(std::move(folder).value());
    bool opened = false;
    try {
        opened = writer.open(pending->filePath().string(), cv::CAP_FFMPEG, kMovieFourcc,
                             kMovieFramesPerSecond, cv::Size(kMovieWidth, kMovieHeight), true);
    } catch (const cv::Exception&) {
        opened = false;
    }
    if (!opened || !writer.isOpened()) {
        discard();
        return cannotWrite(given, "the FFmpeg video writer cannot write DIVX (MPEG-4) AVI data");
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

Status MovieFile::commit() {
    if (!writer.isOpened() || !pending) {
        return cannotWrite(given, "it was not opened");
    }
    try {
        writer.release();
    } catch (const cv::Exception&) {
        writeFailed = true;
    }
    // the writer says nothing of a full disk: read the movie back
    const Status whole = writeFailed ? Status::failure("the video writer failed")
                                     : checkFinishedMovie(pending->filePath(), frames);
    if (!whole) {
        discard();
        return cannotWrite(given, whole.message() + " (is the disk full?)");
    }
    Status committed = pending->commit();
    pending.reset();
    return committed;
}

void MovieFile::discard() {
    try {
        writer.release();
    } catch (const cv::Exception&) {
    }
    pending.reset();
    writeFailed = false;
}

std::filesystem::path MovieFile::temporaryPath() const {
    return pending ? pending->filePath() : std::filesystem::path();
}

} // namespace veltrana
