#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/error.h"

namespace quillora::media {

/// A media file that cannot be opened or decoded; description() names the cause.
class MediaError : public Error {
  public:
    using Error::Error;
};

enum class TrackKind { video, audio, subtitle, data, other };

struct TrackInfo {
    int index = 0;
    TrackKind kind = TrackKind::other;
    std::string codec;
};

/// An opened media container: duration and tracks. Throws MediaError when the file is not media.
class MediaFile {
  public:
    explicit MediaFile(const std::filesystem::path& path);
    ~MediaFile();
    MediaFile(MediaFile&&) noexcept;
    MediaFile& operator=(MediaFile&&) noexcept;

    /// Seconds; NaN when the container does not say.
    double durationSeconds() const;
    std::vector<TrackInfo> tracks() const;
    bool hasTrack(TrackKind kind) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Packed 8-bit RGB rows, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    const uint8_t* pixel(int x, int y) const {
        return pixels.data() + (static_cast<size_t>(y) * width + x) * 3;
    }
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

/// Reads the first video track forward only. Frames come out upright (the container's
/// rotation applied) at full resolution; only the requested rectangle is converted to RGB.
class VideoFrameReader {
  public:
    /// Throws MediaError when the file has no decodable video track.
    explicit VideoFrameReader(const std::filesystem::path& path);
    ~VideoFrameReader();
    VideoFrameReader(const VideoFrameReader&) = delete;
    VideoFrameReader& operator=(const VideoFrameReader&) = delete;

    /// Upright picture size.
    int width() const;
    int height() const;

    /// One seek before reading, so a run that starts late does not decode from the beginning.
    void startAt(double seconds);

    /// Moves to the frame on screen at `seconds`: the last frame presented no later than
    /// seconds + tolerance (or the first frame when the video starts later). Decodes forward,
    /// never seeks. False when no frame is on screen then: none can be decoded, or the data
    /// ended before `seconds` (the last frame lasts its own length, not to the declared end).
    bool advanceTo(double seconds, double tolerance = 0.01);

    /// Presentation time of the current frame, seconds from the start of the video.
    double frameTime() const;

    /// The current frame's pixels inside `rect` (upright coordinates), clipped to the picture;
    /// with `half`, at half the size in each direction (area-averaged), which is cheaper.
    /// Not const: the conversion reuses the reader's scaler and buffer.
    RgbImage crop(const PixelRect& rect, bool half = false);

    /// Brightness of every other pixel of every other row inside `rect`, straight from the
    /// decoded picture (no conversion): enough to tell whether the region changed between two
    /// frames. Empty when the pixel format has no 8-bit brightness plane.
    std::vector<uint8_t> brightnessSample(const PixelRect& rect) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Half the size in each direction, each pixel the mean of a 2x2 block.
RgbImage halved(const RgbImage& image);

/// Decodes the first audio track to mono 32-bit float samples at `sampleRate` (16 kHz by
/// default), as speech tools expect. Throws MediaError, also when stopped.
std::vector<float> decodeAudioMono(const std::filesystem::path& path, int sampleRate = 16000,
                                   std::stop_token stopToken = {});

}  // namespace quillora::media
