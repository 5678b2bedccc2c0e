#pragma once
// FFmpeg's objects owned by unique_ptr, each freed by its library's own call.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace veltrana::libav {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
// An output context with the file it opened, if it did.
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c != nullptr && (c->oformat->flags & AVFMT_NOFILE) == 0) {
            avio_closep(&c->pb);
        }
        avformat_free_context(c);
    }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ScalerFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Scaler = std::unique_ptr<SwsContext, ScalerFreer>;

// FFmpeg's words for an error code.
inline std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace veltrana::libav
