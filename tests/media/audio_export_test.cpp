#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/files.h"
#include "platform/media/audio_export.h"
#include "support/temp_home.h"

namespace quillora::media {
namespace {
namespace fs = std::filesystem;

bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments + " >/dev/null 2>&1").c_str()) ==
           0;
}

// "codec_name,sample_rate,channels" of every stream, one per line.
std::string probeStreams(const fs::path& path) {
    const std::string command =
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,"
        "channels -of csv=p=0 '" +
        path.string() + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

// Frequency of a mono signal from its zero crossings.
double dominantFrequency(const std::vector<float>& samples, int rate) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    return crossings / 2.0 / (static_cast<double>(samples.size()) / rate);
}

size_t filesIn(const fs::path& folder) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class AudioExportTest : public ::testing::Test {
  protected:
    quillora::testing::TempDir dir;
};

TEST_F(AudioExportTest, KeepsOnlyTheFirstAudioTrackInEitherFormat) {
    const auto video = dir / "two tracks.mp4";
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i color=c=gray:s=64x48:r=25:d=2 "
               "-f lavfi -i sine=f=440:d=2:sample_rate=22050 "
               "-f lavfi -i sine=f=2000:d=2:sample_rate=48000 "
               "-map 0:v -map 1:a -map 2:a -c:v libx264 -c:a aac '" +
               video.string() + "'"));
    struct Case {
        AudioFormat format;
        const char* name;
        const char* streams;
    };
    for (const Case& c : {Case{AudioFormat::m4a, "out.m4a", "aac,22050,1\n"},
                          Case{AudioFormat::wav, "out.wav", "pcm_s16le,22050,1\n"}}) {
        std::vector<double> reports;
        exportAudio(video, dir / c.name, c.format, [&](double p) { reports.push_back(p); });
        EXPECT_EQ(probeStreams(dir / c.name), c.streams);
        const auto samples = decodeAudioMono(dir / c.name);
        EXPECT_NEAR(static_cast<double>(samples.size()) / 16000, 2.0, 0.1) << c.name;
        EXPECT_NEAR(dominantFrequency(samples, 16000), 440, 15) << c.name;
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.front(), 0);
        EXPECT_EQ(reports.back(), 1);
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    }
    // Header first: players over the network can start before the whole file has arrived.
    const std::string bytes = readFile(dir / "out.m4a");
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    EXPECT_EQ(filesIn(dir.path()), 3u);
}

TEST_F(AudioExportTest, StereoWavKeepsRateAndChannelsAndReplacesAnExistingFile) {
    const auto source = dir / "talk.wav";
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=300:d=1:sample_rate=44100 -ac 2 -c:a pcm_f32le '" +
                       source.string() + "'"));
    exportAudio(source, source, AudioFormat::wav);
    EXPECT_EQ(probeStreams(source), "pcm_s16le,44100,2\n");
    EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST_F(AudioExportTest, FailuresLeaveNoOutput) {
    const auto silent = dir / "silent.mp4";
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i color=c=gray:s=64x48:r=25:d=1 -c:v libx264 '" + silent.string() + "'"));
    testing::writeTestFile(dir / "corrupt.mp4", std::string(4096, '\x17') + "moov junk");
    try {
        exportAudio(silent, dir / "a.m4a", AudioFormat::m4a);
        ADD_FAILURE() << "no error";
    } catch (const NoAudioTrackError& error) {
        EXPECT_EQ(error.description(), "未找到音频轨道");
    }
    EXPECT_THROW(exportAudio(dir / "corrupt.mp4", dir / "b.wav", AudioFormat::wav), MediaError);
    EXPECT_THROW(exportAudio(dir / "missing.wav", dir / "c.wav", AudioFormat::wav), MediaError);

    const auto tone = dir / "tone.wav";
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=d=1 '" + tone.string() + "'"));
    EXPECT_THROW(exportAudio(tone, dir / "no folder" / "d.m4a", AudioFormat::m4a), MediaError);
    EXPECT_EQ(filesIn(dir.path()), 3u);  // the inputs only
}

TEST_F(AudioExportTest, StopInTheMiddleRemovesThePartialFileAndKeepsTheSource) {
    const auto source = dir / "long.wav";
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=d=240:sample_rate=44100 -ac 2 '" + source.string() + "'"));
    const std::string before = readFile(source);
    std::stop_source stop;
    double stoppedAt = -1;
    auto progress = [&](double p) {
        if (p > 0 && stoppedAt < 0) {
            stoppedAt = p;
            stop.request_stop();
        }
    };
    EXPECT_THROW(
        exportAudio(source, dir / "long.m4a", AudioFormat::m4a, progress, stop.get_token()),
        ExportCancelledError);
    EXPECT_GT(stoppedAt, 0);
    EXPECT_LT(stoppedAt, 1);
    EXPECT_EQ(filesIn(dir.path()), 1u);
    EXPECT_EQ(readFile(source), before);
}

}  // namespace
}  // namespace quillora::media
