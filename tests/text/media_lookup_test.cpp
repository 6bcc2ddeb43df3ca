#include "text/media_lookup.h"

#include "platform/console.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

TEST(FindMatchingMedia, SameBaseNameAndMediaExtension) {
    TempDir dir;
    writeTestFile(dir / "talk.txt", "script");
    writeTestFile(dir / "talk.srt", "");
    writeTestFile(dir / "talk2.mp4", "");
    writeTestFile(dir / "Talk.mp4", "");
    writeTestFile(dir / "talk.WAV", "");
    EXPECT_EQ(findMatchingMediaFileInSameDirectory(dir / "talk.txt"), dir / "talk.WAV");
}

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

TEST(FindMatchingMedia, NothingWhenNoneMatches) {
    TempDir dir;
    writeTestFile(dir / "talk.docx", "");
    writeTestFile(dir / "talk.m4a", "");
    writeTestFile(dir / "talk.mp4.txt", "");
    EXPECT_FALSE(findMatchingMediaFileInSameDirectory(dir / "talk.docx"));
    // "talk.mp4.txt" has base "talk.mp4": a file "talk.mp4.mov" would match it.
    writeTestFile(dir / "talk.mp4.mov", "");
    EXPECT_EQ(findMatchingMediaFileInSameDirectory(dir / "talk.mp4.txt"), dir / "talk.mp4.mov");
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
