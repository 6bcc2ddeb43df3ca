#include "text/media_lookup.h"

#include "platform/console.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

TEST(FindMatchingMedia, FirstInListingOrderWins) {
    TempDir dir;
    writeTestFile(dir / "talk.txt", "script");
    writeTestFile(dir / "talk.MP4", "");
    writeTestFile(dir / "talk.mp3", "");
    std::filesystem::path firstListed;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        auto extension = entry.path().extension();
        if (extension == ".MP4" || extension == ".mp3") {
            firstListed = entry.path();
            break;
        }
    }
    EXPECT_EQ(findMatchingMediaFileInSameDirectory(dir / "talk.txt"), firstListed);
}

TEST(FindMatchingMedia, SameBaseNameAndMediaExtensionOnly) {
    TempDir dir;
    writeTestFile(dir / "talk.txt", "script");
    for (const char* other : {"talk.srt", "talk2.mp4", "Talk.mp4", "talk.WAV"})
        writeTestFile(dir / other, "");
    EXPECT_EQ(findMatchingMediaFileInSameDirectory(dir / "talk.txt"), dir / "talk.WAV");

    for (const char* other : {"memo.docx", "memo.m4a", "memo.mp4.txt"})
        writeTestFile(dir / other, "");
    EXPECT_FALSE(findMatchingMediaFileInSameDirectory(dir / "memo.docx"));
    // "memo.mp4.txt" has base "memo.mp4": a file "memo.mp4.mov" would match it.
    writeTestFile(dir / "memo.mp4.mov", "");
    EXPECT_EQ(findMatchingMediaFileInSameDirectory(dir / "memo.mp4.txt"), dir / "memo.mp4.mov");
}

TEST(FindMatchingMedia, UnlistableFolderIsReported) {
    TempDir dir;
    ConsoleCapture capture;
    EXPECT_FALSE(findMatchingMediaFileInSameDirectory(dir / "missing" / "talk.txt"));
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].rfind("❌ 搜索匹配的媒体文件时出错: ", 0), 0u);
}

}  // namespace
}  // namespace quillora
