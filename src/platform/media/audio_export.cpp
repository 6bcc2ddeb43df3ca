#include "platform/media/audio_export.h"

#include "platform/files.h"
#include "platform/media/ffmpeg_support.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace quillora::media {

NoAudioTrackError::NoAudioTrackError() : MediaError("未找到音频轨道") {}
ExportCancelledError::ExportCancelledError() : MediaError("转换已取消") {}

namespace {
using namespace detail;
namespace fs = std::filesystem;

struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct FifoFreer {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct DictionaryFreer {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};
// Owns a channel layout copy so every path uninitialises it.
struct Layout {
    AVChannelLayout value{};
    Layout() = default;
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
    ~Layout() { av_channel_layout_uninit(&value); }
};

// Removes the half-written file unless the export got to the end.
class PartialFile {
  public:
    explicit PartialFile(fs::path path) : path_(std::move(path)) {}
    ~PartialFile() {
        if (!committed_) {
            std::error_code ignored;
            fs::remove(path_, ignored);
        }
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    const fs::path& path() const { return path_; }
    void commitTo(const fs::path& target) {
        std::error_code error;
        fs::rename(path_, target, error);
        if (error) throw MediaError("无法写入输出文件（" + error.message() + "）");
        committed_ = true;
    }

  private:
    fs::path path_;
    bool committed_ = false;
};

void check(int result, const char* what) {
    if (result < 0) throw MediaError(std::string(what) + "（" + errorText(result) + "）");
}

bool sameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
    return av_channel_layout_compare(&a, &b) == 0;
}

// The closest rate the encoder takes (AAC has a fixed list; PCM takes any).
int supportedRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = 0;
    for (const int* rate = codec->supported_samplerates; *rate; ++rate) {
        if (best == 0 || std::abs(*rate - wanted) < std::abs(best - wanted)) best = *rate;
    }
    return best;
}

// The source layout when the encoder takes it, else the default layout of as many channels,
// else stereo.
void chooseLayout(const AVCodec* codec, const AVChannelLayout& source, AVChannelLayout* out) {
    if (!codec->ch_layouts) {
        av_channel_layout_copy(out, &source);
        return;
    }
    AVChannelLayout fallback{};
    av_channel_layout_default(&fallback, source.nb_channels);
    for (const AVChannelLayout* layout = codec->ch_layouts; layout->nb_channels; ++layout) {
        if (sameLayout(*layout, source)) {
            av_channel_layout_copy(out, layout);
            return;
        }
    }
    for (const AVChannelLayout* layout = codec->ch_layouts; layout->nb_channels; ++layout) {
        if (sameLayout(*layout, fallback)) {
            av_channel_layout_copy(out, layout);
            return;
        }
    }
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(out, &stereo);
}

class Exporter {
  public:
    Exporter(const fs::path& input, const fs::path& partial, AudioFormat format,
             const ExportProgress& progress, std::stop_token stopToken)
        : progress_(progress), stop_(std::move(stopToken)) {
        openInput(input);
        openOutput(partial, format);
    }

    void run() {
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame) throw MediaError("内存不足");
        report(0);
        bool inputEnded = false;
        while (!inputEnded) {
            if (stop_.stop_requested()) throw ExportCancelledError();
            const int read = av_read_frame(input_.get(), packet.get());
            if (read == AVERROR(EAGAIN)) continue;
            if (read < 0) {
                inputEnded = true;
                avcodec_send_packet(decoder_.get(), nullptr);
            } else if (packet->stream_index == streamIndex_) {
                // A damaged packet is skipped, as players do; the rest still converts.
                avcodec_send_packet(decoder_.get(), packet.get());
                av_packet_unref(packet.get());
            } else {
                av_packet_unref(packet.get());
                continue;
            }
            while (avcodec_receive_frame(decoder_.get(), frame.get()) == 0) {
                takeFrame(frame.get());
                av_frame_unref(frame.get());
            }
        }
        if (!decodedAny_) throw MediaError("音频轨道无法解码");
        if (resampler_) resample(nullptr, 0);
        encodeFromFifo(true);
        encode(nullptr);
        check(av_write_trailer(output_.get()), "无法完成输出文件");
        check(avio_closep(&output_->pb), "无法写入输出文件");
        report(1);
    }

  private:
    void openInput(const fs::path& path) {
        input_ = openFormat(path);
        for (unsigned i = 0; i < input_->nb_streams; ++i) {
            if (input_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                streamIndex_ = static_cast<int>(i);
                break;
            }
        }
        if (streamIndex_ < 0) throw NoAudioTrackError();
        for (unsigned i = 0; i < input_->nb_streams; ++i) {
            if (static_cast<int>(i) != streamIndex_) input_->streams[i]->discard = AVDISCARD_ALL;
        }
        const AVStream* stream = input_->streams[streamIndex_];
        decoder_ = openDecoder(stream, 1);
        timeBase_ = av_q2d(stream->time_base);
        if (stream->start_time != AV_NOPTS_VALUE) {
            startSeconds_ = static_cast<double>(stream->start_time) * timeBase_;
        }
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            totalSeconds_ = static_cast<double>(stream->duration) * timeBase_;
        } else if (input_->duration != AV_NOPTS_VALUE && input_->duration > 0) {
            totalSeconds_ = static_cast<double>(input_->duration) / AV_TIME_BASE;
        }
    }

    void openOutput(const fs::path& partial, AudioFormat format) {
        const AVCodecParameters* source = input_->streams[streamIndex_]->codecpar;
        const bool m4a = format == AudioFormat::m4a;
        const AVCodec* codec =
            m4a ? avcodec_find_encoder_by_name("aac") : avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        if (!codec) throw MediaError("没有可用的音频编码器");
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) throw MediaError("内存不足");

        // A track that does not describe itself is written as 44.1 kHz stereo.
        const int sourceRate = source->sample_rate > 0 ? source->sample_rate : 44100;
        Layout sourceLayout;
        if (source->ch_layout.nb_channels > 0 &&
            source->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_copy(&sourceLayout.value, &source->ch_layout);
        } else {
            av_channel_layout_default(&sourceLayout.value, source->ch_layout.nb_channels > 0
                                                               ? source->ch_layout.nb_channels
                                                               : 2);
        }
        encoder_->sample_rate = supportedRate(codec, sourceRate);
        chooseLayout(codec, sourceLayout.value, &encoder_->ch_layout);
        encoder_->sample_fmt = m4a ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
        encoder_->time_base = AVRational{1, encoder_->sample_rate};

        AVFormatContext* raw = nullptr;
        check(avformat_alloc_output_context2(&raw, nullptr, m4a ? "ipod" : "wav", partial.c_str()),
              "无法创建输出文件");
        output_.reset(raw);
        if (output_->oformat->flags & AVFMT_GLOBALHEADER) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        check(avcodec_open2(encoder_.get(), codec, nullptr), "无法打开音频编码器");
        variableFrameSize_ = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
        frameSize_ = encoder_->frame_size > 0 ? encoder_->frame_size : 4096;

        AVStream* stream = avformat_new_stream(output_.get(), nullptr);
        if (!stream) throw MediaError("内存不足");
        check(avcodec_parameters_from_context(stream->codecpar, encoder_.get()),
              "无法设置输出音轨");
        stream->time_base = encoder_->time_base;
        check(avio_open(&output_->pb, partial.c_str(), AVIO_FLAG_WRITE), "无法写入输出文件");

        AVDictionary* rawOptions = nullptr;
        if (m4a) av_dict_set(&rawOptions, "movflags", "+faststart", 0);
        check(avformat_write_header(output_.get(), &rawOptions), "无法写入输出文件");
        std::unique_ptr<AVDictionary, DictionaryFreer> options(rawOptions);

        fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels,
                                        frameSize_ * 4));
        encodeFrame_.reset(av_frame_alloc());
        encodedPacket_.reset(av_packet_alloc());
        if (!fifo_ || !encodeFrame_ || !encodedPacket_) throw MediaError("内存不足");
    }

    void takeFrame(AVFrame* frame) {
        decodedAny_ = true;
        int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = frame->pts;
        if (pts != AV_NOPTS_VALUE && totalSeconds_ > 0) {
            const double seconds = static_cast<double>(pts) * timeBase_ - startSeconds_;
            reportThrottled(std::min(1.0, std::max(0.0, seconds / totalSeconds_)));
        }
        if (frame->ch_layout.nb_channels <= 0 || frame->sample_rate <= 0) return;
        const bool direct =
            frame->format == encoder_->sample_fmt && frame->sample_rate == encoder_->sample_rate &&
            frame->ch_layout.nb_channels == encoder_->ch_layout.nb_channels && !resampler_;
        if (direct && variableFrameSize_ && av_audio_fifo_size(fifo_.get()) == 0) {
            // PCM takes frames of any size: the decoded frame goes straight to the encoder.
            frame->pts = samplesEncoded_;
            samplesEncoded_ += frame->nb_samples;
            encode(frame);
            return;
        }
        if (direct) {
            write(reinterpret_cast<void**>(frame->extended_data), frame->nb_samples);
        } else {
            if (!resamplerMatches(frame)) makeResampler(frame);
            resample(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        }
        encodeFromFifo(false);
    }

    bool resamplerMatches(const AVFrame* frame) const {
        return resampler_ && frame->format == resamplerFormat_ &&
               frame->sample_rate == resamplerRate_ &&
               frame->ch_layout.nb_channels == resamplerChannels_;
    }

    void makeResampler(const AVFrame* frame) {
        if (resampler_) resample(nullptr, 0);  // keep what the old one still holds
        Layout inLayout;
        if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_copy(&inLayout.value, &frame->ch_layout);
        } else {
            av_channel_layout_default(&inLayout.value, frame->ch_layout.nb_channels);
        }
        SwrContext* raw = nullptr;
        const int made = swr_alloc_set_opts2(&raw, &encoder_->ch_layout, encoder_->sample_fmt,
                                             encoder_->sample_rate, &inLayout.value,
                                             static_cast<AVSampleFormat>(frame->format),
                                             frame->sample_rate, 0, nullptr);
        resampler_.reset(raw);
        if (made < 0 || swr_init(resampler_.get()) < 0) throw MediaError("无法转换音频采样");
        resamplerFormat_ = frame->format;
        resamplerRate_ = frame->sample_rate;
        resamplerChannels_ = frame->ch_layout.nb_channels;
    }

    void resample(const uint8_t** input, int count) {
        const int room = swr_get_out_samples(resampler_.get(), count);
        if (room <= 0) return;
        uint8_t** buffer = nullptr;
        int lineSize = 0;
        check(
            av_samples_alloc_array_and_samples(&buffer, &lineSize, encoder_->ch_layout.nb_channels,
                                               room, encoder_->sample_fmt, 0),
            "内存不足");
        const int made = swr_convert(resampler_.get(), buffer, room, input, count);
        if (made > 0) write(reinterpret_cast<void**>(buffer), made);
        av_freep(&buffer[0]);
        av_freep(&buffer);
        check(made, "无法转换音频采样");
    }

    void write(void** data, int count) {
        if (av_audio_fifo_write(fifo_.get(), data, count) < count) {
            throw MediaError("内存不足");
        }
    }

    void encodeFromFifo(bool finishing) {
        while (av_audio_fifo_size(fifo_.get()) >= frameSize_ ||
               (finishing && av_audio_fifo_size(fifo_.get()) > 0)) {
            const int count = std::min(frameSize_, av_audio_fifo_size(fifo_.get()));
            AVFrame* frame = encodeFrame_.get();
            av_frame_unref(frame);
            frame->nb_samples = count;
            frame->format = encoder_->sample_fmt;
            frame->sample_rate = encoder_->sample_rate;
            check(av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout), "内存不足");
            check(av_frame_get_buffer(frame, 0), "内存不足");
            if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), count) <
                count) {
                throw MediaError("无法转换音频采样");
            }
            frame->pts = samplesEncoded_;
            samplesEncoded_ += count;
            encode(frame);
        }
    }

    void encode(AVFrame* frame) {
        check(avcodec_send_frame(encoder_.get(), frame), "音频编码失败");
        AVPacket* packet = encodedPacket_.get();
        while (true) {
            const int received = avcodec_receive_packet(encoder_.get(), packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
            check(received, "音频编码失败");
            packet->stream_index = 0;
            av_packet_rescale_ts(packet, encoder_->time_base, output_->streams[0]->time_base);
            const int written = av_write_frame(output_.get(), packet);
            av_packet_unref(packet);
            check(written, "无法写入输出文件");
        }
    }

    void report(double value) {
        if (progress_) progress_(value);
        lastReport_ = std::chrono::steady_clock::now();
    }

    void reportThrottled(double value) {
        if (std::chrono::steady_clock::now() - lastReport_ >= std::chrono::milliseconds(100)) {
            report(value);
        }
    }

    const ExportProgress& progress_;
    std::stop_token stop_;
    FormatPtr input_;
    int streamIndex_ = -1;
    CodecPtr decoder_;
    double timeBase_ = 0;
    double startSeconds_ = 0;
    double totalSeconds_ = 0;
    std::unique_ptr<AVFormatContext, OutputCloser> output_;
    CodecPtr encoder_;
    int frameSize_ = 0;
    bool variableFrameSize_ = false;
    SwrPtr resampler_;
    int resamplerFormat_ = -1;
    int resamplerRate_ = 0;
    int resamplerChannels_ = 0;
    std::unique_ptr<AVAudioFifo, FifoFreer> fifo_;
    FramePtr encodeFrame_;
    PacketPtr encodedPacket_;
    int64_t samplesEncoded_ = 0;
    bool decodedAny_ = false;
    std::chrono::steady_clock::time_point lastReport_{};
};

}  // namespace

void exportAudio(const fs::path& input, const fs::path& output, AudioFormat format,
                 const ExportProgress& progress, std::stop_token stopToken) {
    if (stopToken.stop_requested()) throw ExportCancelledError();
    PartialFile partial(hiddenSiblingOf(output, ".part"));
    {
        Exporter exporter(input, partial.path(), format, progress, std::move(stopToken));
        exporter.run();
    }
    partial.commitTo(output);
}

}  // namespace quillora::media
