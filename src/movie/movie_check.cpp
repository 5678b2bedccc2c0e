#include "movie/movie_check.h"

#include "movie/movie_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrana {

namespace {

// A size the writer left as it began it: the file was never finished.
constexpr std::uint32_t kUnfilledSize = 0xffffffffu;
// Where the frame count stands in the main AVI header ("avih").
constexpr std::size_t kAvihTotalFrames = 16;

struct ChunkHeader {
    std::string id;
    std::uint32_t size = 0;
};

std::uint32_t littleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// An open file read at given places.
class FileBytes {
public:
    explicit FileBytes(const std::filesystem::path& path)
        : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileBytes() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    bool opened() const { return fd >= 0; }
    std::int64_t size() const {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    }
    bool read(std::int64_t at, unsigned char* into, std::size_t count) const {
        return ::pread(fd, into, count, static_cast<off_t>(at)) == static_cast<ssize_t>(count);
    }
    bool chunk(std::int64_t at, ChunkHeader& header) const {
        unsigned char bytes[8];
        if (!read(at, bytes, sizeof bytes)) {
            return false;
        }
        header.id.assign(reinterpret_cast<const char*>(bytes), 4);
        header.size = littleEndian32(bytes + 4);
        return true;
    }
    std::string fourcc(std::int64_t at) const {
        unsigned char bytes[4] = {};
        return read(at, bytes, sizeof bytes) ? std::string(reinterpret_cast<char*>(bytes), 4)
                                             : std::string();
    }

private:
    int fd;
};

// What the chunks of the first RIFF chunk ("AVI ") say.
struct AviContents {
    bool movi = false;
    bool index = false;
    std::int64_t headerFrames = -1;
};

// The chunks inside the first RIFF chunk, from `at` to `end`.
Status readAviContents(const FileBytes& file, std::int64_t at, std::int64_t end,
                       AviContents& contents) {
    while (at + 8 <= end) {
        ChunkHeader chunk;
        if (!file.chunk(at, chunk)) {
            return Status::failure("its chunk at byte " + std::to_string(at) + " cannot be read");
        }
        const std::int64_t next = at + 8 + chunk.size + (chunk.size & 1u);
        if (chunk.size == kUnfilledSize || at + 8 + chunk.size > end) {
            return Status::failure("the size of its " + chunk.id +
                                   " chunk was never filled in: the movie was not finished");
        }
        const std::string list = chunk.id == "LIST" ? file.fourcc(at + 8) : std::string();
        if (list == "movi") {
            contents.movi = true;
        } else if (list == "hdrl") {
            ChunkHeader avih;
            unsigned char frames[4];
            if (file.chunk(at + 12, avih) && avih.id == "avih" &&
                avih.size >= kAvihTotalFrames + 4 &&
                file.read(at + 20 + static_cast<std::int64_t>(kAvihTotalFrames), frames, 4)) {
                contents.headerFrames = littleEndian32(frames);
            }
        } else if (chunk.id == "idx1") {
            contents.index = contents.movi;
        }
        at = next;
    }
    return {};
}

// The AVI layout: RIFF chunks that fill the file exactly, and in the first
// the header's frame count and an index after the frames.
Status checkAviLayout(const std::filesystem::path& path, int expectedFrames) {
    const FileBytes file(path);
    const std::int64_t size = file.opened() ? file.size() : -1;
    if (size < 0) {
        return Status::failure("it cannot be read back: " + std::string(std::strerror(errno)));
    }
    std::int64_t at = 0;
    int riffs = 0;
    AviContents contents;
    while (at < size) {
        ChunkHeader riff;
        const std::string form = file.fourcc(at + 8);
        if (!file.chunk(at, riff) || riff.id != "RIFF" || form != (riffs == 0 ? "AVI " : "AVIX")) {
            return Status::failure(riffs == 0 ? std::string("it is no AVI file")
                                              : "it ends in " + std::to_string(size - at) +
                                                    " bytes that are no part of the movie");
        }
        const std::int64_t end = at + 8 + riff.size;
        if (riff.size == kUnfilledSize || end > size) {
            return Status::failure("its RIFF size was never filled in: the movie was not "
                                   "finished");
        }
        if (riffs == 0) {
            if (Status read = readAviContents(file, at + 12, end, contents); !read) {
                return read;
            }
        }
        ++riffs;
        at = end + (riff.size & 1u);
    }
    if (riffs == 0 || !contents.movi) {
        return Status::failure("it holds no frames");
    }
    // a movie past one RIFF chunk (OpenDML) counts and indexes its frames elsewhere
    if (riffs == 1 && !contents.index) {
        return Status::failure("it has no index: the movie was not finished");
    }
    if (riffs == 1 && contents.headerFrames != expectedFrames) {
        return Status::failure("its header counts " + std::to_string(contents.headerFrames) +
                               " of its " + std::to_string(expectedFrames) + " frames");
    }
    return {};
}

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// Takes every frame the decoder has ready; false on a decoding error.
bool receiveFrames(AVCodecContext& decoder, AVFrame& frame, int& decoded) {
    for (;;) {
        const int got = avcodec_receive_frame(&decoder, &frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return true;
        }
        if (got < 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame.decode_error_flags) {
            return false;
        }
        ++decoded;
        av_frame_unref(&frame);
    }
}

// Opens the movie's one video stream and its decoder; fails on anything but
// a 640 x 480 MPEG-4 stream, so that nothing larger is ever decoded.
Status openDecoder(const std::filesystem::path& path,
                   std::unique_ptr<AVFormatContext, FormatCloser>& format,
                   std::unique_ptr<AVCodecContext, CodecCloser>& decoder, int& stream) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), av_find_input_format("avi"), nullptr) < 0) {
        return Status::failure("it cannot be opened as a movie");
    }
    format.reset(opened);
    const AVCodec* codec = nullptr;
    stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) {
        return Status::failure("it holds no video stream");
    }
    const AVCodecParameters& parameters = *format->streams[stream]->codecpar;
    if (parameters.codec_id != AV_CODEC_ID_MPEG4 || parameters.width != kMovieWidth ||
        parameters.height != kMovieHeight) {
        return Status::failure("it holds no 640 x 480 MPEG-4 video");
    }
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), &parameters) < 0) {
        return Status::failure("its video cannot be decoded");
    }
    // any damage in a frame is an error, not something to hide
    decoder->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    decoder->max_pixels = static_cast<std::int64_t>(kMovieWidth) * kMovieHeight;
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return Status::failure("its video cannot be decoded");
    }
    return {};
}

// Decodes every frame of the movie, as a player would play it through.
Status checkFramesDecode(const std::filesystem::path& path, int expectedFrames) {
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecCloser> decoder;
    int stream = -1;
    if (Status opened = openDecoder(path, format, decoder, stream); !opened) {
        return opened;
    }
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    const std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame) {
        return Status::failure("there is no memory to read it back");
    }
    int packets = 0;
    int decoded = 0;
    for (;;) {
        const int got = av_read_frame(format.get(), packet.get());
        if (got == AVERROR_EOF) {
            break;
        }
        if (got < 0) {
            return Status::failure("it cannot be read through after frame " +
                                   std::to_string(packets));
        }
        if (packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        }
        ++packets;
        const bool corrupt = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        const bool sent = avcodec_send_packet(decoder.get(), packet.get()) >= 0;
        av_packet_unref(packet.get());
        if (corrupt || !sent || !receiveFrames(*decoder, *frame, decoded)) {
            return Status::failure("frame " + std::to_string(packets) + " is damaged");
        }
    }
    if (avcodec_send_packet(decoder.get(), nullptr) < 0 ||
        !receiveFrames(*decoder, *frame, decoded)) {
        return Status::failure("its last frame is damaged");
    }
    if (decoded != expectedFrames) {
        return Status::failure(std::to_string(decoded) + " of its " +
                               std::to_string(expectedFrames) + " frames decode");
    }
    return {};
}

} // namespace

void silenceMovieLibraryLog() {
    av_log_set_level(AV_LOG_QUIET);
}

Status checkFinishedMovie(const std::filesystem::path& path, int expectedFrames) {
    if (Status layout = checkAviLayout(path, expectedFrames); !layout) {
        return layout;
    }
    return checkFramesDecode(path, expectedFrames);
}

} // namespace veltrana
