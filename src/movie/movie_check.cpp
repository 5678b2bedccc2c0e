#include "movie/movie_check.h"

#include "movie/libav_handles.h"
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
#include <optional>
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

// What the read-back looks for in a container.
struct ContainerCodecs {
    const char* demuxer;
    AVCodecID video;
    AVCodecID sound;
    AVCodecID otherSound; // a second sound codec the container may hold
    const char* videoName;
};

ContainerCodecs codecsOf(MovieContainer container) {
    switch (container) {
    case MovieContainer::Mp4:
        return {"mov", AV_CODEC_ID_H264, AV_CODEC_ID_AAC, AV_CODEC_ID_AAC, "H.264"};
    case MovieContainer::Mkv:
        return {"matroska", AV_CODEC_ID_FFV1, AV_CODEC_ID_FLAC, AV_CODEC_ID_FLAC, "FFV1"};
    case MovieContainer::Avi:
        break;
    }
    return {"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S24LE, "MPEG-4"};
}

// One stream being decoded: pictures counted, or sound samples.
struct DecodedStream {
    int index = -1;
    libav::Codec decoder;
    std::int64_t decoded = 0;
};

// Takes everything the decoder has ready; false on a decoding error.
bool receiveDecoded(DecodedStream& stream, AVFrame& frame, bool sound) {
    for (;;) {
        const int got = avcodec_receive_frame(stream.decoder.get(), &frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return true;
        }
        if (got < 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame.decode_error_flags) {
            return false;
        }
        stream.decoded += sound ? frame.nb_samples : 1;
        av_frame_unref(&frame);
    }
}

Status openStreamDecoder(const AVStream& stream, DecodedStream& into) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    into.decoder.reset(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!into.decoder || avcodec_parameters_to_context(into.decoder.get(), stream.codecpar) < 0) {
        return Status::failure("its streams cannot be decoded");
    }
    // any damage is an error, not something to hide
    into.decoder->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    into.decoder->max_pixels = static_cast<std::int64_t>(kMovieWidth) * kMovieHeight;
    into.decoder->thread_count = 1;
    if (avcodec_open2(into.decoder.get(), codec, nullptr) < 0) {
        return Status::failure("its streams cannot be decoded");
    }
    into.index = stream.index;
    return {};
}

// Opens the movie's picture stream, and its sound stream when one is
// expected; fails on anything but 640 x 480 pictures of the container's
// codec, so that nothing larger is ever decoded, and on sound of another
// codec, rate or channel count.
Status openDecoders(const std::filesystem::path& path, const ContainerCodecs& codecs,
                    const std::optional<MovieExpectation>& sound, libav::Input& format,
                    DecodedStream& video, DecodedStream& audio) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), av_find_input_format(codecs.demuxer), nullptr) <
        0) {
        return Status::failure("it cannot be opened as a movie");
    }
    format.reset(opened);
    const int v = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v < 0) {
        return Status::failure("it holds no video stream");
    }
    const AVCodecParameters& picture = *format->streams[v]->codecpar;
    if (picture.codec_id != codecs.video || picture.width != kMovieWidth ||
        picture.height != kMovieHeight) {
        return Status::failure(std::string("it holds no 640 x 480 ") + codecs.videoName + " video");
    }
    if (Status decoding = openStreamDecoder(*format->streams[v], video); !decoding) {
        return decoding;
    }
    if (!sound) {
        return {};
    }
    const int a = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodecParameters* heard = a >= 0 ? format->streams[a]->codecpar : nullptr;
    if (heard == nullptr ||
        (heard->codec_id != codecs.sound && heard->codec_id != codecs.otherSound) ||
        heard->sample_rate != sound->sampleRate || heard->ch_layout.nb_channels != 1) {
        return Status::failure("it holds no mono sound of its container's codec at " +
                               std::to_string(sound->sampleRate) + " Hz");
    }
    return openStreamDecoder(*format->streams[a], audio);
}

// Decodes every picture and all the sound of the movie, as a player would
// play it through.
Status decodeWhole(const std::filesystem::path& path, MovieContainer container,
                   const std::optional<MovieExpectation>& sound, int expectedFrames,
                   std::int64_t& soundSamples) {
    libav::Input format;
    DecodedStream video;
    DecodedStream audio;
    if (Status opened = openDecoders(path, codecsOf(container), sound, format, video, audio);
        !opened) {
        return opened;
    }
    const libav::Packet packet(av_packet_alloc());
    const libav::Frame frame(av_frame_alloc());
    if (!packet || !frame) {
        return Status::failure("there is no memory to read it back");
    }
    int packets = 0;
    for (;;) {
        const int got = av_read_frame(format.get(), packet.get());
        if (got == AVERROR_EOF) {
            break;
        }
        if (got < 0) {
            return Status::failure("it cannot be read through after frame " +
                                   std::to_string(packets));
        }
        DecodedStream* into = packet->stream_index == video.index   ? &video
                              : packet->stream_index == audio.index ? &audio
                                                                    : nullptr;
        if (into == nullptr) {
            av_packet_unref(packet.get());
            continue;
        }
        packets += into == &video ? 1 : 0;
        const bool corrupt = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        const bool sent = avcodec_send_packet(into->decoder.get(), packet.get()) >= 0;
        av_packet_unref(packet.get());
        if (corrupt || !sent || !receiveDecoded(*into, *frame, into == &audio)) {
            return Status::failure(into == &video
                                       ? "frame " + std::to_string(packets) + " is damaged"
                                       : std::string("its sound is damaged"));
        }
    }
    for (DecodedStream* s : {&video, &audio}) {
        if (s->decoder && (avcodec_send_packet(s->decoder.get(), nullptr) < 0 ||
                           !receiveDecoded(*s, *frame, s == &audio))) {
            return Status::failure(s == &video ? "its last frame is damaged"
                                               : "its sound is damaged");
        }
    }
    if (video.decoded != expectedFrames) {
        return Status::failure(std::to_string(video.decoded) + " of its " +
                               std::to_string(expectedFrames) + " frames decode");
    }
    soundSamples = audio.decoded;
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
    std::int64_t noSound = 0;
    return decodeWhole(path, MovieContainer::Avi, std::nullopt, expectedFrames, noSound);
}

Status checkFinishedMovie(const std::filesystem::path& path, const MovieExpectation& expected) {
    if (expected.container == MovieContainer::Avi) {
        if (Status layout = checkAviLayout(path, expected.frames); !layout) {
            return layout;
        }
    }
    std::int64_t heard = 0;
    if (Status decoded = decodeWhole(path, expected.container, expected, expected.frames, heard);
        !decoded) {
        return decoded;
    }
    if (heard < expected.soundSamples) {
        return Status::failure("only " + std::to_string(heard) + " of its " +
                               std::to_string(expected.soundSamples) + " sound samples decode");
    }
    return {};
}

} // namespace veltrana
