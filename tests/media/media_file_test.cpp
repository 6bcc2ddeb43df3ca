#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/media/media_file.h"
#include "support/temp_home.h"

namespace quillora::media {
namespace {

bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments + " >/dev/null 2>&1").c_str()) ==
           0;
}

// Left half red, right half blue: position and orientation can be read off the pixels.
const char* kHalves =
    "-f lavfi -i 'color=c=red:s=64x32:r=30:d=2,drawbox=x=32:y=0:w=32:h=32:color=blue:t=fill' ";

class MediaTest : public ::testing::Test {
  protected:
    quillora::testing::TempDir dir;
};

TEST_F(MediaTest, DurationAndTracks) {
    const auto path = dir / "clip.mp4";
    ASSERT_TRUE(ffmpeg(std::string(kHalves) +
                       "-f lavfi -i sine=d=2 -c:v libx264 -c:a aac -shortest '" + path.string() +
                       "'"));
    MediaFile file(path);
    EXPECT_NEAR(file.durationSeconds(), 2.0, 0.1);
    EXPECT_TRUE(file.hasTrack(TrackKind::video));
    EXPECT_TRUE(file.hasTrack(TrackKind::audio));
    EXPECT_FALSE(file.hasTrack(TrackKind::subtitle));
    ASSERT_EQ(file.tracks().size(), 2u);
    EXPECT_EQ(file.tracks()[0].codec, "h264");
}

TEST_F(MediaTest, NonMediaFailsWithAReason) {
    quillora::testing::writeTestFile(dir / "notes.mp4", "just some words\n");
    quillora::testing::writeTestFile(dir / "empty.mp4", "");
    for (const char* name : {"notes.mp4", "empty.mp4", "missing.mp4"}) {
        try {
            MediaFile file(dir / name);
            ADD_FAILURE() << name << " opened";
        } catch (const MediaError& error) {
            EXPECT_NE(error.description().find("无法"), std::string::npos) << error.description();
        }
    }
    const auto audio = dir / "voice.m4a";
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=d=1 -c:a aac '" + audio.string() + "'"));
    EXPECT_THROW(VideoFrameReader reader(audio), MediaError);
}

TEST_F(MediaTest, ReadsFramesForwardAtTheRequestedInstants) {
    const auto path = dir / "count.mp4";
    ASSERT_TRUE(ffmpeg(std::string(kHalves) + "-c:v libx264 -g 10 '" + path.string() + "'"));
    VideoFrameReader reader(path);
    EXPECT_EQ(reader.width(), 64);
    EXPECT_EQ(reader.height(), 32);
    // 30 frames per second sampled at 25: each instant gets the frame on screen then.
    for (int i = 0; i < 50; ++i) {
        const double t = i / 25.0;
        ASSERT_TRUE(reader.advanceTo(t));
        const double actual = reader.frameTime();
        EXPECT_LE(actual, t + 0.01 + 1e-9);
        EXPECT_GT(actual, t - 1 / 30.0);
    }
    // The last frame lasts its own 1/30 s and no longer: nothing is on screen past 2.0 s.
    EXPECT_TRUE(reader.advanceTo(1.99));
    EXPECT_FALSE(reader.advanceTo(2.04));
    const RgbImage crop = reader.crop({30, 10, 4, 2});
    ASSERT_EQ(crop.width, 4);
    ASSERT_EQ(crop.height, 2);
    EXPECT_GT(crop.pixel(0, 0)[0], 200);  // red
    EXPECT_GT(crop.pixel(3, 1)[2], 200);  // blue
    EXPECT_TRUE(reader.crop({10, 10, 0, 5}).empty());
    EXPECT_EQ(reader.crop({60, 30, 50, 50}).width, 4);  // clipped to the picture
}

TEST_F(MediaTest, StartsLateWithOneSeek) {
    const auto path = dir / "late.mp4";
    ASSERT_TRUE(ffmpeg(std::string(kHalves) + "-c:v libx264 -g 15 '" + path.string() + "'"));
    VideoFrameReader reader(path);
    reader.startAt(1.2);
    ASSERT_TRUE(reader.advanceTo(1.24));
    EXPECT_NEAR(reader.frameTime(), 1.2333, 0.02);
}

TEST_F(MediaTest, RotatedVideoComesOutUpright) {
    const auto plain = dir / "plain.mp4";
    const auto rotated = dir / "rotated.mp4";
    ASSERT_TRUE(ffmpeg(std::string(kHalves) + "-c:v libx264 '" + plain.string() + "'"));
    ASSERT_TRUE(ffmpeg("-i '" + plain.string() + "' -c copy -metadata:s:v:0 rotate=90 '" +
                       rotated.string() + "'"));
    VideoFrameReader reader(rotated);
    ASSERT_EQ(reader.width(), 32);
    ASSERT_EQ(reader.height(), 64);
    ASSERT_TRUE(reader.advanceTo(0.5));
    // Shown as ffmpeg shows it: turned a quarter anticlockwise, the right (blue) half on top.
    const RgbImage top = reader.crop({0, 0, 32, 32});
    const RgbImage bottom = reader.crop({0, 32, 32, 32});
    EXPECT_GT(top.pixel(16, 10)[2], 200);
    EXPECT_LT(top.pixel(16, 10)[0], 60);
    EXPECT_GT(bottom.pixel(16, 20)[0], 200);
    // A strip along the right edge crosses both halves.
    const RgbImage strip = reader.crop({28, 0, 4, 64});
    ASSERT_EQ(strip.height, 64);
    EXPECT_GT(strip.pixel(1, 5)[2], 200);
    EXPECT_GT(strip.pixel(1, 60)[0], 200);
}

TEST_F(MediaTest, DecodesAudioToMonoAtTheRequestedRate) {
    const auto path = dir / "tone.m4a";
    ASSERT_TRUE(ffmpeg("-f lavfi -i 'sine=f=1000:d=1.5:sample_rate=44100' -ac 2 -c:a aac '" +
                       path.string() + "'"));
    const auto samples = decodeAudioMono(path);
    EXPECT_NEAR(static_cast<double>(samples.size()), 1.5 * 16000, 1600);
    double energy = 0;
    for (float s : samples)
        energy += static_cast<double>(s) * s;
    const double rms = std::sqrt(energy / static_cast<double>(samples.size()));
    EXPECT_GT(rms, 0.05);  // the tone survived the mix-down
    const auto silentVideo = dir / "silent.mp4";
    ASSERT_TRUE(ffmpeg(std::string(kHalves) + "-c:v libx264 '" + silentVideo.string() + "'"));
    EXPECT_THROW(decodeAudioMono(silentVideo), MediaError);
}

}  // namespace
}  // namespace quillora::media
