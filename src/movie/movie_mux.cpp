#include "movie/movie_mux.h"

#include "movie/libav_handles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace veltrana {

namespace {

// Sound frames of codecs that take any size: about 21 ms at 48 kHz.
constexpr int kPcmFrameSamples = 1024;
// AAC's bit rate for mono access copies.
constexpr std::int64_t kAacBitRate = 192000;

struct SoundCodec {
    AVCodecID id;
    AVSampleFormat samples;
};

SoundCodec soundCodecOf(MovieContainer container, int bits) {
    switch (container) {
    case MovieContainer::Mp4:
        return {AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP};
    case MovieContainer::Mkv:
        return {AV_CODEC_ID_FLAC, bits > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16};
    case MovieContainer::Avi:
        break;
    }
    return bits > 16 ? SoundCodec{AV_CODEC_ID_PCM_S24LE, AV_SAMPLE_FMT_S32}
                     : SoundCodec{AV_CODEC_ID_PCM_S16LE, AV_SAMPLE_FMT_S16};
}

const char* formatNameOf(MovieContainer container) {
    switch (container) {
    case MovieContainer::Mp4:
        return "mp4";
    case MovieContainer::Mkv:
        return "matroska";
    case MovieContainer::Avi:
        break;
    }
    return "avi";
}

// One mux: the pictures read, the sound encoded, both written.
class Mux {
public:
    Mux(MovieContainer container, FrameRate rate, std::span<const float> sound,
        const MovieSoundFormat& format)
        : container(container), rate(rate), sound(sound), format(format) {}

    Status run(const std::filesystem::path& picturesPath, const std::filesystem::path& moviePath);

private:
    Status openPictures(const std::filesystem::path& path);
    Status openMovie(const std::filesystem::path& path);
    Status openSoundEncoder();
    Status writeSoundFrame();
    Status writeSoundPackets(bool flushing);
    Status writePicture();
    void fillSoundFrame(int count);
    double soundSeconds() const { return static_cast<double>(soundSent) / format.sampleRate; }

    const MovieContainer container;
    const FrameRate rate;
    const std::span<const float> sound;
    const MovieSoundFormat format;

    libav::Input pictures;
    int pictureStream = -1;
    libav::Output movie;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    libav::Codec encoder;
    libav::Frame frame;
    libav::Packet packet;
    libav::Packet picture;
    std::optional<std::int64_t> pictureStart; // the first picture's time in the pictures' file
    std::size_t soundSent = 0;
    bool soundFlushed = false;
};

Status Mux::openPictures(const std::filesystem::path& path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        return Status::failure("its pictures cannot be read back");
    }
    pictures.reset(opened);
    if (avformat_find_stream_info(pictures.get(), nullptr) < 0) {
        return Status::failure("its pictures cannot be read back");
    }
    pictureStream = av_find_best_stream(pictures.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (pictureStream < 0) {
        return Status::failure("its pictures hold no video");
    }
    return {};
}

Status Mux::openSoundEncoder() {
    const SoundCodec codec = soundCodecOf(container, format.bits);
    const AVCodec* found = avcodec_find_encoder(codec.id);
    encoder.reset(found != nullptr ? avcodec_alloc_context3(found) : nullptr);
    if (!encoder) {
        return Status::failure("FFmpeg has no encoder for its sound");
    }
    AVCodecContext& c = *encoder;
    c.sample_fmt = codec.samples;
    c.sample_rate = format.sampleRate;
    c.time_base = AVRational{1, format.sampleRate};
    av_channel_layout_default(&c.ch_layout, 1);
    if (codec.id == AV_CODEC_ID_AAC) {
        c.bit_rate = kAacBitRate;
    }
    if (codec.samples == AV_SAMPLE_FMT_S32) {
        c.bits_per_raw_sample = 24;
    }
    if ((movie->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (const int opened = avcodec_open2(encoder.get(), found, nullptr); opened < 0) {
        return Status::failure("its sound encoder cannot be opened: " + libav::errorText(opened));
    }
    audio = avformat_new_stream(movie.get(), nullptr);
    if (audio == nullptr || avcodec_parameters_from_context(audio->codecpar, encoder.get()) < 0) {
        return Status::failure("its sound stream cannot be made");
    }
    audio->time_base = c.time_base;
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    picture.reset(av_packet_alloc());
    if (!frame || !packet || !picture) {
        return Status::failure("there is no memory to write it");
    }
    return {};
}

Status Mux::openMovie(const std::filesystem::path& path) {
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, formatNameOf(container), path.c_str()) < 0) {
        return Status::failure("FFmpeg cannot write this container");
    }
    movie.reset(made);
    const AVStream* source = pictures->streams[pictureStream];
    video = avformat_new_stream(movie.get(), nullptr);
    if (video == nullptr || avcodec_parameters_copy(video->codecpar, source->codecpar) < 0) {
        return Status::failure("its picture stream cannot be made");
    }
    // the AVI keeps the standard movie's "DIVX"; the others name their codec themselves
    if (container != MovieContainer::Avi) {
        video->codecpar->codec_tag = 0;
    }
    video->time_base = AVRational{rate.denominator, rate.numerator};
    video->avg_frame_rate = AVRational{rate.numerator, rate.denominator};
    video->r_frame_rate = video->avg_frame_rate;
    if (Status opened = openSoundEncoder(); !opened) {
        return opened;
    }
    if (const int io = avio_open(&movie->pb, path.c_str(), AVIO_FLAG_WRITE); io < 0) {
        return Status::failure(libav::errorText(io));
    }
    AVDictionary* options = nullptr;
    if (container == MovieContainer::Mp4) {
        // the index before the data, so that a browser plays while it loads
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    const int header = avformat_write_header(movie.get(), &options);
    av_dict_free(&options);
    if (header < 0) {
        return Status::failure(libav::errorText(header));
    }
    return {};
}

void Mux::fillSoundFrame(int count) {
    const std::span<const float> part = sound.subspan(soundSent, static_cast<std::size_t>(count));
    if (frame->format == AV_SAMPLE_FMT_FLTP) {
        std::copy(part.begin(), part.end(), reinterpret_cast<float*>(frame->data[0]));
    } else if (frame->format == AV_SAMPLE_FMT_S32) {
        auto* out = reinterpret_cast<std::int32_t*>(frame->data[0]);
        for (std::size_t i = 0; i < part.size(); ++i) {
            // 24 bits in the upper bytes
            out[i] = static_cast<std::int32_t>(std::lrint(part[i] * 8388607.0f)) * 256;
        }
    } else {
        auto* out = reinterpret_cast<std::int16_t*>(frame->data[0]);
        for (std::size_t i = 0; i < part.size(); ++i) {
            out[i] = static_cast<std::int16_t>(std::lrint(part[i] * 32767.0f));
        }
    }
}

Status Mux::writeSoundPackets(bool flushing) {
    for (;;) {
        const int got = avcodec_receive_packet(encoder.get(), packet.get());
        if (got == AVERROR(EAGAIN) || (flushing && got == AVERROR_EOF)) {
            return {};
        }
        if (got < 0) {
            return Status::failure("its sound cannot be encoded");
        }
        av_packet_rescale_ts(packet.get(), encoder->time_base, audio->time_base);
        packet->stream_index = audio->index;
        if (const int written = av_interleaved_write_frame(movie.get(), packet.get());
            written < 0) {
            return Status::failure(libav::errorText(written));
        }
    }
}

// The next frame of sound, or the encoder flushed after the last.
Status Mux::writeSoundFrame() {
    const int size = encoder->frame_size > 0 ? encoder->frame_size : kPcmFrameSamples;
    const int count = static_cast<int>(std::min<std::size_t>(size, sound.size() - soundSent));
    if (count == 0) {
        soundFlushed = true;
        if (avcodec_send_frame(encoder.get(), nullptr) < 0) {
            return Status::failure("its sound cannot be encoded");
        }
        return writeSoundPackets(true);
    }
    av_frame_unref(frame.get());
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    frame->nb_samples = count;
    if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0) {
        return Status::failure("there is no memory to write it");
    }
    fillSoundFrame(count);
    frame->pts = static_cast<std::int64_t>(soundSent);
    soundSent += static_cast<std::size_t>(count);
    if (avcodec_send_frame(encoder.get(), frame.get()) < 0) {
        return Status::failure("its sound cannot be encoded");
    }
    return writeSoundPackets(false);
}

Status Mux::writePicture() {
    const AVStream* source = pictures->streams[pictureStream];
    if (picture->pts == AV_NOPTS_VALUE) {
        picture->pts = picture->dts;
    }
    // the first picture shows at time 0, whatever the pictures' file shifted
    // to keep its decoding times from going negative
    if (!pictureStart) {
        pictureStart = picture->pts;
    }
    picture->pts -= *pictureStart;
    if (picture->dts != AV_NOPTS_VALUE) {
        picture->dts -= *pictureStart;
    }
    av_packet_rescale_ts(picture.get(), source->time_base, video->time_base);
    picture->stream_index = video->index;
    picture->pos = -1;
    const int written = av_interleaved_write_frame(movie.get(), picture.get());
    return written < 0 ? Status::failure(libav::errorText(written)) : Status{};
}

Status Mux::run(const std::filesystem::path& picturesPath, const std::filesystem::path& moviePath) {
    if (Status opened = openPictures(picturesPath); !opened) {
        return opened;
    }
    if (Status opened = openMovie(moviePath); !opened) {
        return opened;
    }
    // the pictures and the sound in the order of their times
    bool picturesLeft = true;
    const AVRational pictureBase = pictures->streams[pictureStream]->time_base;
    while (picturesLeft || !soundFlushed) {
        if (picturesLeft && picture->data == nullptr) {
            do {
                av_packet_unref(picture.get());
                picturesLeft = av_read_frame(pictures.get(), picture.get()) >= 0;
            } while (picturesLeft && picture->stream_index != pictureStream);
        }
        const double pictureSeconds =
            picturesLeft ? static_cast<double>(
                               (picture->dts == AV_NOPTS_VALUE ? picture->pts : picture->dts) -
                               pictureStart.value_or(picture->pts)) *
                               av_q2d(pictureBase)
                         : 0;
        Status step = picturesLeft && (soundFlushed || pictureSeconds <= soundSeconds())
                          ? writePicture()
                          : writeSoundFrame();
        if (!step) {
            return step;
        }
    }
    if (const int trailer = av_write_trailer(movie.get()); trailer < 0) {
        return Status::failure(libav::errorText(trailer));
    }
    if (movie->pb->error < 0) {
        return Status::failure(libav::errorText(movie->pb->error));
    }
    if (const int closed = avio_closep(&movie->pb); closed < 0) {
        return Status::failure(libav::errorText(closed));
    }
    return {};
}

} // namespace

Status muxSoundMovie(const std::filesystem::path& picturesPath,
                     const std::filesystem::path& moviePath, MovieContainer container,
                     FrameRate rate, std::span<const float> sound, const MovieSoundFormat& format) {
    Mux mux(container, rate, sound, format);
    return mux.run(picturesPath, moviePath);
}

} // namespace veltrana
