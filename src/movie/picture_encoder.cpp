#include "movie/picture_encoder.h"

#include "movie/libav_handles.h"
#include "movie/movie_file.h"
#include "movie/sound_movie.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <opencv2/videoio.hpp>

namespace veltrana {

namespace {

// The standard movie's picture: the same writer, fourcc and size; the film's
// picture rate.
class DivxPictures : public PictureEncoder {
public:
    bool open(const std::filesystem::path& path, FrameRate rate) {
        try {
            return writer.open(path.string(), cv::CAP_FFMPEG, kMovieFourcc, rate.perSecond(),
                               cv::Size(kMovieWidth, kMovieHeight), true) &&
                   writer.isOpened();
        } catch (const cv::Exception&) {
            return false;
        }
    }
    bool write(const cv::Mat& picture) override {
        try {
            writer.write(picture);
            return true;
        } catch (const cv::Exception&) {
            return false;
        }
    }
    Status finish() override {
        try {
            writer.release();
        } catch (const cv::Exception&) {
            return Status::failure("the video writer failed");
        }
        return {};
    }

private:
    cv::VideoWriter writer;
};

// What the libavcodec pictures are encoded as.
struct PictureCodec {
    const char* encoder;
    AVPixelFormat pixels;
};

PictureCodec pictureCodecOf(MovieContainer container) {
    if (container == MovieContainer::Mp4) {
        // 4:2:0, which browsers play
        return {"libx264", AV_PIX_FMT_YUV420P};
    }
    // lossless in the frames' own colours
    return {"ffv1", AV_PIX_FMT_BGR0};
}

// H.264 or FFV1 through libavcodec, into a NUT file (which keeps both
// timestamps of each packet and the codec's global header).
class LibavPictures : public PictureEncoder {
public:
    Status open(const std::filesystem::path& path, MovieContainer container, FrameRate rate);
    bool write(const cv::Mat& picture) override;
    Status finish() override;

private:
    Status openEncoder(MovieContainer container, FrameRate rate);
    bool drain(bool flushing);

    libav::Output output;
    libav::Codec encoder;
    libav::Scaler scaler;
    libav::Frame frame;
    libav::Packet packet;
    AVStream* stream = nullptr;
    std::int64_t pictures = 0;
};

Status LibavPictures::openEncoder(MovieContainer container, FrameRate rate) {
    const PictureCodec codec = pictureCodecOf(container);
    const AVCodec* found = avcodec_find_encoder_by_name(codec.encoder);
    if (found == nullptr) {
        return Status::failure(std::string("FFmpeg has no ") + codec.encoder + " encoder");
    }
    encoder.reset(avcodec_alloc_context3(found));
    if (!encoder) {
        return Status::failure("there is no memory for the encoder");
    }
    AVCodecContext& c = *encoder;
    c.width = kMovieWidth;
    c.height = kMovieHeight;
    c.pix_fmt = codec.pixels;
    c.time_base = AVRational{rate.denominator, rate.numerator};
    c.framerate = AVRational{rate.numerator, rate.denominator};
    c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c.thread_count = 0; // every core the encoder can use
    AVDictionary* options = nullptr;
    if (container == MovieContainer::Mp4) {
        // a key frame every two seconds, for seeking in a browser
        c.gop_size = 2 * (rate.numerator / rate.denominator);
        c.colorspace = AVCOL_SPC_BT470BG;
        c.color_range = AVCOL_RANGE_MPEG;
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set(&options, "crf", "18", 0);
        av_dict_set(&options, "profile", "high", 0);
    } else {
        c.gop_size = 1;
        av_dict_set(&options, "level", "3", 0);
        av_dict_set(&options, "slices", "4", 0);
        av_dict_set(&options, "slicecrc", "1", 0);
    }
    const int opened = avcodec_open2(encoder.get(), found, &options);
    av_dict_free(&options);
    if (opened < 0) {
        return Status::failure(std::string("the ") + codec.encoder +
                               " encoder cannot be opened: " + libav::errorText(opened));
    }
    return {};
}

Status LibavPictures::open(const std::filesystem::path& path, MovieContainer container,
                           FrameRate rate) {
    if (Status opened = openEncoder(container, rate); !opened) {
        return opened;
    }
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, "nut", path.c_str()) < 0) {
        return Status::failure("FFmpeg cannot write NUT files");
    }
    output.reset(made);
    stream = avformat_new_stream(output.get(), nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0) {
        return Status::failure("the pictures' stream cannot be made");
    }
    stream->time_base = encoder->time_base;
    if (const int io = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE); io < 0) {
        return Status::failure("the pictures cannot be written: " + libav::errorText(io));
    }
    if (const int header = avformat_write_header(output.get(), nullptr); header < 0) {
        return Status::failure("the pictures cannot be written: " + libav::errorText(header));
    }
    scaler.reset(sws_getContext(kMovieWidth, kMovieHeight, AV_PIX_FMT_BGR24, kMovieWidth,
                                kMovieHeight, encoder->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                                nullptr));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!scaler || !frame || !packet) {
        return Status::failure("there is no memory for the encoder");
    }
    frame->format = encoder->pix_fmt;
    frame->width = kMovieWidth;
    frame->height = kMovieHeight;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return Status::failure("there is no memory for the encoder");
    }
    return {};
}

// Writes every packet the encoder has ready.
bool LibavPictures::drain(bool flushing) {
    for (;;) {
        const int got = avcodec_receive_packet(encoder.get(), packet.get());
        if (got == AVERROR(EAGAIN) || (flushing && got == AVERROR_EOF)) {
            return true;
        }
        if (got < 0) {
            return false;
        }
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_write_frame(output.get(), packet.get()) < 0) {
            return false;
        }
    }
}

bool LibavPictures::write(const cv::Mat& picture) {
    if (av_frame_make_writable(frame.get()) < 0) {
        return false;
    }
    const uint8_t* source[1] = {picture.data};
    const int stride[1] = {static_cast<int>(picture.step[0])};
    sws_scale(scaler.get(), source, stride, 0, kMovieHeight, frame->data, frame->linesize);
    frame->pts = pictures++;
    return avcodec_send_frame(encoder.get(), frame.get()) >= 0 && drain(false);
}

Status LibavPictures::finish() {
    if (avcodec_send_frame(encoder.get(), nullptr) < 0 || !drain(true)) {
        return Status::failure("the last pictures cannot be encoded");
    }
    if (av_write_trailer(output.get()) < 0 || output->pb->error < 0) {
        return Status::failure("the pictures cannot be written whole");
    }
    if (avio_closep(&output->pb) < 0) {
        return Status::failure("the pictures cannot be written whole");
    }
    return {};
}

} // namespace

std::filesystem::path pictureFileName(MovieContainer container) {
    return container == MovieContainer::Avi ? "pictures.avi" : "pictures.nut";
}

Result<std::unique_ptr<PictureEncoder>>
openPictureEncoder(const std::filesystem::path& path, MovieContainer container, FrameRate rate) {
    if (container == MovieContainer::Avi) {
        auto divx = std::make_unique<DivxPictures>();
        if (!divx->open(path, rate)) {
            return Status::failure("the FFmpeg video writer cannot write DIVX (MPEG-4) AVI data");
        }
        return std::unique_ptr<PictureEncoder>(std::move(divx));
    }
    auto pictures = std::make_unique<LibavPictures>();
    if (Status opened = pictures->open(path, container, rate); !opened) {
        return opened;
    }
    return std::unique_ptr<PictureEncoder>(std::move(pictures));
}

} // namespace veltrana
