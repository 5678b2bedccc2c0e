#include "movie/sound_movie.h"

#include "movie/movie_check.h"
#include "movie/movie_file.h"
#include "movie/movie_mux.h"
#include "movie/picture_encoder.h"

#include <algorithm>
#include <cctype>

namespace veltrana {

namespace {

// The movie's own name inside the private folder; the pictures lie beside it.
std::filesystem::path picturesPathIn(const PendingFolder& folder, MovieContainer container) {
    return folder.filePath().parent_path() / pictureFileName(container);
}

} // namespace

Result<MovieContainer> movieContainerOf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".avi") {
        return MovieContainer::Avi;
    }
    if (extension == ".mp4") {
        return MovieContainer::Mp4;
    }
    if (extension == ".mkv") {
        return MovieContainer::Mkv;
    }
    return Status::failure("Cannot write a movie with sound to " + path.string() +
                           ": its name must end in .avi, .mp4 or .mkv, which choose the "
                           "container");
}

const char* movieContainerName(MovieContainer container) {
    switch (container) {
    case MovieContainer::Mp4:
        return "mp4";
    case MovieContainer::Mkv:
        return "mkv";
    case MovieContainer::Avi:
        break;
    }
    return "avi";
}

const char* movieCodecsName(MovieContainer container) {
    switch (container) {
    case MovieContainer::Mp4:
        return "H.264 with AAC";
    case MovieContainer::Mkv:
        return "FFV1 with FLAC";
    case MovieContainer::Avi:
        break;
    }
    return "DIVX with PCM";
}

MovieSoundFormat movieSoundFormat(MovieContainer container, int askedRate, bool archivalBits) {
    MovieSoundFormat format;
    if (container != MovieContainer::Mp4 && askedRate > 0) {
        format.sampleRate = askedRate;
    }
    format.bits = archivalBits ? 24 : 16;
    return format;
}

SoundMovie::SoundMovie() = default;

SoundMovie::~SoundMovie() {
    discard();
}

Status SoundMovie::failed(const std::string& why) {
    const std::filesystem::path target = given;
    discard();
    return Status::failure("Cannot write the movie to " + target.string() + ": " + why);
}

Status SoundMovie::open(const OutputTarget& target, MovieContainer chosen, FrameRate pictureRate) {
    discard();
    given = target.given;
    container = chosen;
    rate = pictureRate;
    frames = 0;
    // a sound is worth more than the movie that would take its name
    if (target.exists && fileStartsAsRiff(target.file, "WAVE")) {
        return failed("it is a WAV file, and a movie never replaces a sound");
    }
    Result<PendingFolder> folder = PendingFolder::create(target, "the movie");
    if (!folder) {
        return folder.status();
    }
    pending.emplace(std::move(folder).value());
    Result<std::unique_ptr<PictureEncoder>> encoder =
        openPictureEncoder(picturesPathIn(*pending, container), container, rate);
    if (!encoder) {
        return failed(encoder.message());
    }
    pictures = std::move(encoder).value();
    return {};
}

void SoundMovie::write(const cv::Mat& frame) {
    if (!pictures) {
        return;
    }
    const bool ready =
        frame.cols == kMovieWidth && frame.rows == kMovieHeight && frame.type() == CV_8UC3;
    last = ready ? frame.clone() : movieFrame(frame);
    if (pictures->write(last)) {
        ++frames;
    }
}

void SoundMovie::hold(int count) {
    for (int i = 0; i < count && !last.empty(); ++i) {
        if (pictures->write(last)) {
            ++frames;
        }
    }
}

Status SoundMovie::commit(std::span<const float> sound, const MovieSoundFormat& format) {
    if (!pictures || !pending) {
        return failed("it was not opened");
    }
    if (Status finished = pictures->finish(); !finished) {
        return failed(finished.message() + " (is the disk full?)");
    }
    pictures.reset();
    const std::filesystem::path picturesPath = picturesPathIn(*pending, container);
    if (Status muxed =
            muxSoundMovie(picturesPath, pending->filePath(), container, rate, sound, format);
        !muxed) {
        return failed(muxed.message() + " (is the disk full?)");
    }
    std::error_code ignored;
    std::filesystem::remove(picturesPath, ignored);
    MovieExpectation expected;
    expected.container = container;
    expected.frames = frames;
    expected.soundSamples = static_cast<std::int64_t>(sound.size());
    expected.sampleRate = format.sampleRate;
    // the muxer says nothing of a file cut short: read the movie back
    if (Status whole = checkFinishedMovie(pending->filePath(), expected); !whole) {
        return failed(whole.message() + " (is the disk full?)");
    }
    Status committed = pending->commit();
    pending.reset();
    return committed;
}

void SoundMovie::discard() {
    pictures.reset();
    pending.reset();
    last.release();
}

} // namespace veltrana
