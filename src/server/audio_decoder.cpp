#include "server/audio_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <string>

namespace quillora::server {
namespace {

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
struct ResamplerFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

std::vector<float> decodeAudioMono16k(const std::filesystem::path& file,
                                      std::stop_token stopToken) {
    AVFormatContext* rawFormat = nullptr;
    int rc = avformat_open_input(&rawFormat, file.c_str(), nullptr, nullptr);
    if (rc < 0) throw AudioDecodeError("无法打开音频文件: " + errorText(rc));
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) throw AudioDecodeError("无法读取音频信息: " + errorText(rc));
    const AVCodec* codec = nullptr;
    const int streamIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (streamIndex < 0 || !codec) throw AudioDecodeError("文件中没有音频流");

    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (!decoder) throw AudioDecodeError("内存不足");
    avcodec_parameters_to_context(decoder.get(), format->streams[streamIndex]->codecpar);
    rc = avcodec_open2(decoder.get(), codec, nullptr);
    if (rc < 0) throw AudioDecodeError("无法打开解码器: " + errorText(rc));
    if (decoder->ch_layout.nb_channels <= 0) {
        av_channel_layout_default(&decoder->ch_layout, 1);
    }

    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* rawResampler = nullptr;
    rc = swr_alloc_set_opts2(&rawResampler, &mono, AV_SAMPLE_FMT_FLT, kAnalysisSampleRate,
                             &decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate, 0,
                             nullptr);
    std::unique_ptr<SwrContext, ResamplerFreer> resampler(rawResampler);
    if (rc < 0 || !resampler || swr_init(resampler.get()) < 0) {
        throw AudioDecodeError("无法初始化重采样");
    }

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame) throw AudioDecodeError("内存不足");
    std::vector<float> samples;

    auto convert = [&](const AVFrame* input) {
        const int capacity = swr_get_out_samples(resampler.get(), input ? input->nb_samples : 0);
        if (capacity <= 0) return;
        const size_t offset = samples.size();
        samples.resize(offset + static_cast<size_t>(capacity));
        auto* out = reinterpret_cast<uint8_t*>(samples.data() + offset);
        const int produced =
            swr_convert(resampler.get(), &out, capacity,
                        input ? const_cast<const uint8_t**>(input->extended_data) : nullptr,
                        input ? input->nb_samples : 0);
        if (produced < 0) throw AudioDecodeError("重采样失败: " + errorText(produced));
        samples.resize(offset + static_cast<size_t>(produced));
    };
    auto drainFrames = [&] {
        while (true) {
            const int got = avcodec_receive_frame(decoder.get(), frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
            if (got < 0) throw AudioDecodeError("音频解码失败: " + errorText(got));
            convert(frame.get());
            av_frame_unref(frame.get());
        }
    };

    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (stopToken.stop_requested()) throw AudioDecodeError("已取消");
        if (packet->stream_index == streamIndex) {
            // A damaged packet is skipped rather than failing the whole recording.
            if (avcodec_send_packet(decoder.get(), packet.get()) >= 0) drainFrames();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drainFrames();
    convert(nullptr);
    if (samples.empty()) throw AudioDecodeError("音频为空");
    return samples;
}

}  // namespace quillora::server
