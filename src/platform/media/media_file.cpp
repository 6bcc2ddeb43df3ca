#include "platform/media/media_file.h"

#include "platform/media/ffmpeg_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace quillora::media {

namespace detail {

std::string errorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

FormatPtr openFormat(const std::filesystem::path& path) {
    // Failures reach the caller as MediaError; FFmpeg's own log lines would only clutter the
    // terminal (and a progress bar on it).
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_FATAL);
        return true;
    }();
    (void)quiet;
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (opened < 0) {
        throw MediaError("无法打开媒体文件（" + errorText(opened) + "）");
    }
    FormatPtr format(raw);
    const int found = avformat_find_stream_info(format.get(), nullptr);
    if (found < 0) throw MediaError("无法读取媒体信息（" + errorText(found) + "）");
    return format;
}

CodecPtr openDecoder(const AVStream* stream, int threads) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) throw MediaError("没有可用的解码器");
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) throw MediaError("内存不足");
    if (avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        throw MediaError("无法读取解码参数");
    }
    context->thread_count = threads;
    context->pkt_timebase = stream->time_base;
    const int opened = avcodec_open2(context.get(), codec, nullptr);
    if (opened < 0) throw MediaError("无法打开解码器（" + errorText(opened) + "）");
    return context;
}

}  // namespace detail

namespace {
using namespace detail;

struct SwsFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using ScalerPtr = std::unique_ptr<SwsContext, SwsFreer>;

TrackKind kindOf(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return TrackKind::video;
        case AVMEDIA_TYPE_AUDIO:
            return TrackKind::audio;
        case AVMEDIA_TYPE_SUBTITLE:
            return TrackKind::subtitle;
        case AVMEDIA_TYPE_DATA:
            return TrackKind::data;
        default:
            return TrackKind::other;
    }
}

// Cover art is stored as a one-picture "video" stream; it is not a video track.
bool isRealVideo(const AVStream* stream) {
    return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

// Decodes frames of one stream in order; false at the end of the stream.
class StreamDecoder {
  public:
    StreamDecoder(AVFormatContext* format, int streamIndex, AVCodecContext* codec)
        : format_(format), stream_(streamIndex), codec_(codec), packet_(av_packet_alloc()) {
        if (!packet_) throw MediaError("内存不足");
    }

    bool next(AVFrame* frame) {
        while (true) {
            const int received = avcodec_receive_frame(codec_, frame);
            if (received == 0) return true;
            if (received == AVERROR_EOF || draining_) return false;
            // EAGAIN or a damaged frame: feed the next packet.
            const int read = av_read_frame(format_, packet_.get());
            if (read < 0) {
                draining_ = true;
                avcodec_send_packet(codec_, nullptr);
                continue;
            }
            if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_.get());
            av_packet_unref(packet_.get());
        }
    }

    void reset() {
        avcodec_flush_buffers(codec_);
        draining_ = false;
    }

  private:
    AVFormatContext* format_;
    int stream_;
    AVCodecContext* codec_;
    PacketPtr packet_;
    bool draining_ = false;
};

}  // namespace

// ---- MediaFile ----

struct MediaFile::Impl {
    FormatPtr format;
};

MediaFile::MediaFile(const std::filesystem::path& path) : impl_(std::make_unique<Impl>()) {
    impl_->format = openFormat(path);
}
MediaFile::~MediaFile() = default;
MediaFile::MediaFile(MediaFile&&) noexcept = default;
MediaFile& MediaFile::operator=(MediaFile&&) noexcept = default;

double MediaFile::durationSeconds() const {
    const AVFormatContext* format = impl_->format.get();
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        return static_cast<double>(format->duration) / AV_TIME_BASE;
    }
    double longest = std::numeric_limits<double>::quiet_NaN();
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->duration == AV_NOPTS_VALUE) continue;
        const double seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
        if (std::isnan(longest) || seconds > longest) longest = seconds;
    }
    return longest;
}

std::vector<TrackInfo> MediaFile::tracks() const {
    std::vector<TrackInfo> list;
    const AVFormatContext* format = impl_->format.get();
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        TrackInfo info;
        info.index = static_cast<int>(i);
        info.kind = kindOf(stream->codecpar->codec_type);
        if (info.kind == TrackKind::video && !isRealVideo(stream)) info.kind = TrackKind::other;
        info.codec = avcodec_get_name(stream->codecpar->codec_id);
        list.push_back(info);
    }
    return list;
}

bool MediaFile::hasTrack(TrackKind kind) const {
    const auto list = tracks();
    return std::any_of(list.begin(), list.end(),
                       [&](const TrackInfo& t) { return t.kind == kind; });
}

// ---- VideoFrameReader ----

struct VideoFrameReader::Impl {
    FormatPtr format;
    CodecPtr codec;
    int streamIndex = -1;
    AVStream* stream = nullptr;
    std::unique_ptr<StreamDecoder> decoder;
    FramePtr current{av_frame_alloc()};
    FramePtr pending{av_frame_alloc()};
    bool haveCurrent = false;
    bool havePending = false;
    bool ended = false;
    int rotation = 0;  // clockwise degrees that make the picture upright: 0, 90, 180, 270
    double startOffset = 0;
    ScalerPtr scaler;
    std::vector<uint8_t> converted;  // reused: a fresh buffer per frame costs page faults

    double timeOf(const AVFrame* frame) const {
        int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = frame->pts;
        if (pts == AV_NOPTS_VALUE) return std::numeric_limits<double>::quiet_NaN();
        return static_cast<double>(pts) * av_q2d(stream->time_base) - startOffset;
    }

    // How long a frame stays on screen when no frame follows it: its packet's duration, else
    // the stream's frame interval.
    double lengthOf(const AVFrame* frame) const {
        if (frame->pkt_duration > 0) {
            return static_cast<double>(frame->pkt_duration) * av_q2d(stream->time_base);
        }
        for (const AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
            if (rate.num > 0 && rate.den > 0) return av_q2d(av_inv_q(rate));
        }
        return 0.04;
    }

    // Past the last frame's own length there is no picture: a video whose data ends before
    // its declared duration (a cut-off download) has nothing more to show.
    bool onScreenAt(double seconds) const {
        if (havePending || !ended) return true;
        const double start = timeOf(current.get());
        return std::isnan(start) || seconds < start + lengthOf(current.get()) - 1e-3;
    }

    bool decodeInto(AVFrame* frame) {
        if (ended) return false;
        av_frame_unref(frame);
        if (!decoder->next(frame)) {
            ended = true;
            return false;
        }
        return true;
    }
};

VideoFrameReader::VideoFrameReader(const std::filesystem::path& path)
    : impl_(std::make_unique<Impl>()) {
    auto& d = *impl_;
    if (!d.current || !d.pending) throw MediaError("内存不足");
    d.format = openFormat(path);
    for (unsigned i = 0; i < d.format->nb_streams; ++i) {
        if (isRealVideo(d.format->streams[i])) {
            d.streamIndex = static_cast<int>(i);
            break;
        }
    }
    if (d.streamIndex < 0) throw MediaError("没有视频轨道");
    for (unsigned i = 0; i < d.format->nb_streams; ++i) {
        if (static_cast<int>(i) != d.streamIndex) d.format->streams[i]->discard = AVDISCARD_ALL;
    }
    d.stream = d.format->streams[d.streamIndex];
    if (d.stream->start_time != AV_NOPTS_VALUE) {
        d.startOffset = static_cast<double>(d.stream->start_time) * av_q2d(d.stream->time_base);
    }
    // Frame threads keep decoding busy on every core while recognition is idle.
    d.codec = openDecoder(d.stream, 0);
    d.decoder = std::make_unique<StreamDecoder>(d.format.get(), d.streamIndex, d.codec.get());

    size_t sideSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(d.stream, AV_PKT_DATA_DISPLAYMATRIX, &sideSize);
    if (matrix && sideSize >= 9 * sizeof(int32_t)) {
        const double counterClockwise =
            av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        if (!std::isnan(counterClockwise)) {
            int clockwise = static_cast<int>(std::lround(-counterClockwise)) % 360;
            if (clockwise < 0) clockwise += 360;
            d.rotation = ((clockwise + 45) / 90 * 90) % 360;
        }
    }
}

VideoFrameReader::~VideoFrameReader() = default;

int VideoFrameReader::width() const {
    const auto* par = impl_->stream->codecpar;
    return impl_->rotation % 180 == 0 ? par->width : par->height;
}

int VideoFrameReader::height() const {
    const auto* par = impl_->stream->codecpar;
    return impl_->rotation % 180 == 0 ? par->height : par->width;
}

void VideoFrameReader::startAt(double seconds) {
    auto& d = *impl_;
    if (seconds <= 0) return;
    const auto target =
        static_cast<int64_t>((seconds + d.startOffset) / av_q2d(d.stream->time_base));
    if (av_seek_frame(d.format.get(), d.streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0) {
        d.decoder->reset();
        d.haveCurrent = d.havePending = d.ended = false;
    }
}

bool VideoFrameReader::advanceTo(double seconds, double tolerance) {
    auto& d = *impl_;
    const double limit = seconds + tolerance;
    if (!d.haveCurrent) {
        d.haveCurrent = d.decodeInto(d.current.get());
        if (!d.haveCurrent) return false;
    }
    while (true) {
        if (!d.havePending) {
            d.havePending = d.decodeInto(d.pending.get());
            if (!d.havePending) break;
        }
        const double next = d.timeOf(d.pending.get());
        if (std::isnan(next) || next <= limit) {
            std::swap(d.current, d.pending);
            d.havePending = false;
            continue;
        }
        break;
    }
    return d.onScreenAt(seconds);
}

double VideoFrameReader::frameTime() const {
    return impl_->haveCurrent ? impl_->timeOf(impl_->current.get())
                              : std::numeric_limits<double>::quiet_NaN();
}

RgbImage halved(const RgbImage& image) {
    RgbImage out;
    out.width = image.width / 2;
    out.height = image.height / 2;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    const size_t row = static_cast<size_t>(image.width) * 3;
    uint8_t* dst = out.pixels.data();
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* a = image.pixels.data() + static_cast<size_t>(2 * y) * row;
        const uint8_t* b = a + row;
        for (int x = 0; x < out.width; ++x, a += 6, b += 6) {
            for (int c = 0; c < 3; ++c) {
                *dst++ = static_cast<uint8_t>((a[c] + a[c + 3] + b[c] + b[c + 3] + 2) / 4);
            }
        }
    }
    return out;
}

namespace {

// Corners of a rectangle, x0/y0 inclusive, x1/y1 exclusive.
struct Span {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};

Span clipped(const Span& s, int width, int height) {
    return {std::clamp(s.x0, 0, width), std::clamp(s.y0, 0, height), std::clamp(s.x1, 0, width),
            std::clamp(s.y1, 0, height)};
}

Span clipped(const PixelRect& wanted, int width, int height) {
    return clipped(Span{wanted.x, wanted.y, wanted.x + std::max(wanted.width, 0),
                        wanted.y + std::max(wanted.height, 0)},
                   width, height);
}

// The same rectangle in the stored (not yet rotated) sw x sh picture.
Span storedSpan(const Span& upright, int rotation, int sw, int sh) {
    const auto [x0, y0, x1, y1] = upright;
    switch (rotation) {
        case 90:
            return {y0, sh - x1, y1, sh - x0};
        case 180:
            return {sw - x1, sh - y1, sw - x0, sh - y0};
        case 270:
            return {sw - y1, x0, sw - y0, x1};
        default:
            return upright;
    }
}

// Converted RGB rows of a stored-orientation piece, before it is cut to size and turned.
struct ConvertedPiece {
    const uint8_t* data = nullptr;
    int stride = 0;
    int offX = 0, offY = 0;  // where the wanted piece starts inside the converted rows
    int width = 0, height = 0;
    const uint8_t* at(int x, int y) const {
        return data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
    }
};

// Plane pointers moved to the start of `from` (already on a chroma sample boundary).
void planesAt(const AVFrame* frame, const AVPixFmtDescriptor* desc, int ax0, int ay0,
              const uint8_t* planes[4], int strides[4]) {
    const bool paletted = (desc->flags & AV_PIX_FMT_FLAG_PAL) != 0;
    for (int p = 0; p < 4 && frame->data[p]; ++p) {
        strides[p] = frame->linesize[p];
        planes[p] = frame->data[p];
        if (paletted && p == 1) continue;
        int step = 0;
        for (int c = 0; c < desc->nb_components; ++c) {
            if (desc->comp[c].plane == p) step = std::max(step, desc->comp[c].step);
        }
        if (desc->flags & AV_PIX_FMT_FLAG_BITSTREAM) step = 0;
        const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int px = chroma ? ax0 >> desc->log2_chroma_w : ax0;
        const int py = chroma ? ay0 >> desc->log2_chroma_h : ay0;
        planes[p] +=
            static_cast<ptrdiff_t>(py) * frame->linesize[p] + static_cast<ptrdiff_t>(px) * step;
    }
}

// Copies the converted piece into `out`, turned upright.
void uprightCopy(const ConvertedPiece& piece, int rotation, RgbImage& out) {
    const int pieceW = piece.width;
    const int pieceH = piece.height;
    if (rotation == 0) {
        out.width = pieceW;
        out.height = pieceH;
        out.pixels.resize(static_cast<size_t>(pieceW) * pieceH * 3);
        for (int y = 0; y < pieceH; ++y) {
            std::memcpy(out.pixels.data() + static_cast<size_t>(y) * pieceW * 3,
                        piece.at(piece.offX, y + piece.offY), static_cast<size_t>(pieceW) * 3);
        }
        return;
    }
    out.width = rotation % 180 == 0 ? pieceW : pieceH;
    out.height = rotation % 180 == 0 ? pieceH : pieceW;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            int px = x, py = y;
            switch (rotation) {
                case 90:
                    px = y;
                    py = pieceH - 1 - x;
                    break;
                case 180:
                    px = pieceW - 1 - x;
                    py = pieceH - 1 - y;
                    break;
                case 270:
                    px = pieceW - 1 - y;
                    py = x;
                    break;
                default:
                    break;
            }
            const uint8_t* src = piece.at(px + piece.offX, py + piece.offY);
            uint8_t* dstPixel = out.pixels.data() + (static_cast<size_t>(y) * out.width + x) * 3;
            dstPixel[0] = src[0];
            dstPixel[1] = src[1];
            dstPixel[2] = src[2];
        }
    }
}

// Converts the stored-orientation span of `frame` to RGB with `scaler` into `converted`;
// nullopt when the pixel format cannot be converted or nothing is left.
std::optional<ConvertedPiece> convertPiece(const AVFrame* frame, const Span& stored, bool half,
                                           ScalerPtr& scaler, std::vector<uint8_t>& converted) {
    // Chroma planes are subsampled: start the conversion on a chroma sample boundary.
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return std::nullopt;
    const int alignX = 1 << desc->log2_chroma_w;
    const int alignY = 1 << desc->log2_chroma_h;
    const int ax0 = stored.x0 / alignX * alignX;
    const int ay0 = stored.y0 / alignY * alignY;
    const int convW = stored.x1 - ax0;
    const int convH = stored.y1 - ay0;
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    planesAt(frame, desc, ax0, ay0, planes, strides);

    const int scale = half ? 2 : 1;
    const int outConvW = convW / scale;
    const int outConvH = convH / scale;
    if (outConvW <= 0 || outConvH <= 0) return std::nullopt;
    scaler.reset(sws_getCachedContext(scaler.release(), convW, convH, format, outConvW, outConvH,
                                      AV_PIX_FMT_RGB24, half ? SWS_AREA : SWS_POINT, nullptr,
                                      nullptr, nullptr));
    if (!scaler) return std::nullopt;
    // swscale writes whole SIMD blocks: aligned rows and slack at the end of the buffer.
    const int stride = (outConvW * 3 + 63) / 64 * 64;
    converted.resize(static_cast<size_t>(stride) * (outConvH + 1) + 64);
    uint8_t* dst[4] = {converted.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {stride, 0, 0, 0};
    sws_scale(scaler.get(), planes, strides, 0, convH, dst, dstStride);

    // The alignment margin is cut off when the piece is copied out.
    ConvertedPiece piece;
    piece.data = converted.data();
    piece.stride = stride;
    piece.offX = (stored.x0 - ax0) / scale;
    piece.offY = (stored.y0 - ay0) / scale;
    piece.width = std::min((stored.x1 - stored.x0) / scale, outConvW - piece.offX);
    piece.height = std::min((stored.y1 - stored.y0) / scale, outConvH - piece.offY);
    if (piece.width <= 0 || piece.height <= 0) return std::nullopt;
    return piece;
}

}  // namespace

RgbImage VideoFrameReader::crop(const PixelRect& wanted, bool half) {
    auto& d = *impl_;
    RgbImage out;
    if (!d.haveCurrent) return out;
    // Rotated pictures are halved after turning; upright ones while converting.
    if (half && d.rotation != 0) return halved(crop(wanted));
    const Span upright = clipped(wanted, width(), height());
    if (upright.empty()) return out;
    const AVFrame* frame = d.current.get();
    const Span stored = clipped(storedSpan(upright, d.rotation, frame->width, frame->height),
                                frame->width, frame->height);
    if (stored.empty()) return out;
    if (const auto piece = convertPiece(frame, stored, half, d.scaler, d.converted)) {
        uprightCopy(*piece, d.rotation, out);
    }
    return out;
}

std::vector<uint8_t> VideoFrameReader::brightnessSample(const PixelRect& wanted) const {
    auto& d = *impl_;
    std::vector<uint8_t> sample;
    if (!d.haveCurrent) return sample;
    const AVFrame* frame = d.current.get();
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL |
                        AV_PIX_FMT_FLAG_BITSTREAM)) ||
        desc->comp[0].plane != 0 || desc->comp[0].depth != 8) {
        return sample;
    }
    // The same rectangle in stored orientation; which way round does not matter here.
    const auto [x0, y0, x1, y1] = clipped(
        storedSpan(clipped(wanted, width(), height()), d.rotation, frame->width, frame->height),
        frame->width, frame->height);
    const int step = desc->comp[0].step;
    if (x1 <= x0 || y1 <= y0) return sample;
    sample.reserve(static_cast<size_t>((x1 - x0) / 2 + 1) * static_cast<size_t>((y1 - y0) / 2 + 1));
    for (int y = y0; y < y1; y += 2) {
        const uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        for (int x = x0; x < x1; x += 2)
            sample.push_back(row[x * step]);
    }
    return sample;
}

// ---- audio ----

std::vector<float> decodeAudioMono(const std::filesystem::path& path, int sampleRate,
                                   std::stop_token stopToken) {
    FormatPtr format = openFormat(path);
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) throw MediaError("没有音频轨道");
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    CodecPtr codec = openDecoder(format->streams[index], 1);
    StreamDecoder decoder(format.get(), index, codec.get());

    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrPtr resampler;
    std::vector<float> samples;
    FramePtr frame(av_frame_alloc());
    if (!frame) throw MediaError("内存不足");
    auto convert = [&](const uint8_t** input, int count) {
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room <= 0) return;
        const size_t at = samples.size();
        samples.resize(at + static_cast<size_t>(room));
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(samples.data() + at)};
        const int made = swr_convert(resampler.get(), out, room, input, count);
        samples.resize(at + static_cast<size_t>(std::max(made, 0)));
    };
    while (decoder.next(frame.get())) {
        if (stopToken.stop_requested()) throw MediaError("已取消");
        if (!resampler) {
            SwrContext* raw = nullptr;
            AVChannelLayout inLayout{};
            if (frame->ch_layout.nb_channels > 0) {
                av_channel_layout_copy(&inLayout, &frame->ch_layout);
            } else {
                av_channel_layout_default(&inLayout, codec->ch_layout.nb_channels);
            }
            if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC) {
                av_channel_layout_default(&inLayout, inLayout.nb_channels);
            }
            const int made = swr_alloc_set_opts2(
                &raw, &mono, AV_SAMPLE_FMT_FLT, sampleRate, &inLayout,
                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&inLayout);
            resampler.reset(raw);
            if (made < 0 || swr_init(resampler.get()) < 0) {
                throw MediaError("无法转换音频采样");
            }
        }
        convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        av_frame_unref(frame.get());
    }
    if (resampler) convert(nullptr, 0);
    return samples;
}

}  // namespace quillora::media
