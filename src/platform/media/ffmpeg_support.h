#pragma once

// FFmpeg handles and helpers shared by the media sources of this folder. Included only by .cpp
// files here: FFmpeg's headers stay out of the public headers.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <filesystem>
#include <memory>
#include <string>

namespace quillora::media::detail {

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwrFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

/// FFmpeg's text for an error code.
std::string errorText(int code);

/// Opens a container for reading and reads its stream information; throws MediaError.
FormatPtr openFormat(const std::filesystem::path& path);

/// An opened decoder for the stream; `threads` 0 lets FFmpeg choose. Throws MediaError.
CodecPtr openDecoder(const AVStream* stream, int threads);

}  // namespace quillora::media::detail
