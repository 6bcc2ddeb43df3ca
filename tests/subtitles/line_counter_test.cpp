#include "subtitles/line_counter.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

using testing::TempDir;
using testing::writeTestFile;

std::vector<int64_t> numbers(const LineCounterDocument& document) {
    std::vector<int64_t> out;
    for (const LineStat& line : document.lines())
        out.push_back(line.originalLineNumber);
    return out;
}

std::vector<std::string> texts(const LineCounterDocument& document) {
    std::vector<std::string> out;
    for (const LineStat& line : document.lines())
        out.push_back(line.rawText);
    return out;
}

TEST(LineCounterCount, CountsUtf16UnitsOfTheTrimmedLine) {
    // An emoji outside the basic plane is two units; the heart is two with its selector.
    for (const auto& [line, units] : std::vector<std::pair<std::string, int>>{
             {"今天天气很好，我们去公园散步", 14}, {"a1,", 3}, {"😀", 2}, {"❤️", 2}})
        EXPECT_EQ(lineCharacterCount(line), units) << line;

    LineCounterDocument document;
    document.processDocument("  Hello 世界  \n今天天气很好，我们去公园散步\n今天天气很好\n \t ");
    ASSERT_EQ(document.lines().size(), 4u);
    const LineStat& hello = document.lines()[0];
    EXPECT_EQ(hello.processedText, "Hello 世界");
    EXPECT_EQ(hello.chineseCount, 8);
    EXPECT_TRUE(document.lines()[1].isOverLimit);
    EXPECT_FALSE(document.lines()[2].isOverLimit);
    EXPECT_EQ(document.lines()[3].chineseCount, 0);
    EXPECT_EQ(lineStatusMark(document.lines()[1]), "超标");
    EXPECT_EQ(lineStatusMark(document.lines()[2]), "正常");
}

TEST(LineCounterDocument, NumbersFollowTheFileAndRenumberAfterSplits) {
    LineCounterDocument document;
    document.processDocument("a\n\nb");
    EXPECT_EQ(numbers(document), (std::vector<int64_t>{1, 3}));
    EXPECT_EQ(document.exportText(), "a\nb");

    // Windows line ends are one break each, so numbers match the lines of the file.
    document.processDocument("a\r\n\r\nb\r\n");
    EXPECT_EQ(numbers(document), (std::vector<int64_t>{1, 3}));
    EXPECT_EQ(texts(document), (std::vector<std::string>{"a", "b"}));

    const std::string first = document.lines()[0].id;
    document.splitLine(first, "x\ny");
    EXPECT_EQ(texts(document), (std::vector<std::string>{"x", "y", "b"}));
    EXPECT_EQ(numbers(document), (std::vector<int64_t>{1, 2, 3}));

    // A record that is no longer there is left alone.
    document.splitLine(first, "gone\nagain");
    EXPECT_EQ(document.lines().size(), 3u);
}

TEST(LineCounterDocument, EditingRecountsOrSplits) {
    LineCounterDocument document;
    document.processDocument("短句");
    const std::string id = document.lines()[0].id;
    ASSERT_TRUE(document.editLine(id, "今天天气很好，我们去公园散步"));
    EXPECT_EQ(document.lines()[0].chineseCount, 14);
    EXPECT_TRUE(document.lines()[0].isOverLimit);
    EXPECT_EQ(document.lines()[0].id, id);

    ASSERT_TRUE(document.editLine(id, "第一行\n第二行\n"));
    EXPECT_EQ(texts(document), (std::vector<std::string>{"第一行", "第二行", ""}));
    EXPECT_EQ(numbers(document), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_FALSE(document.editLine("no such id", "x"));

    document.addNewLineAtEnd();
    ASSERT_EQ(document.lines().size(), 4u);
    EXPECT_EQ(document.lines()[3].originalLineNumber, 4);
    EXPECT_EQ(document.lines()[3].chineseCount, 0);
    EXPECT_FALSE(document.lines()[3].isOverLimit);

    EXPECT_TRUE(document.deleteLine(document.lines()[1].id));
    EXPECT_FALSE(document.deleteLine("no such id"));
    EXPECT_EQ(texts(document), (std::vector<std::string>{"第一行", "", ""}));
    document.renumberLines();
    EXPECT_EQ(numbers(document), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(document.exportText(), "第一行\n\n");
}

TEST(LineCounterDocument, LimitChangesRemarkEveryRow) {
    LineCounterDocument document;
    EXPECT_EQ(document.maxCharacterLimit(), 12);
    document.processDocument("今天天气很好");
    EXPECT_FALSE(document.lines()[0].isOverLimit);
    document.setMaxCharacterLimit(5);
    EXPECT_TRUE(document.lines()[0].isOverLimit);
    document.setMaxCharacterLimit(6);
    EXPECT_FALSE(document.lines()[0].isOverLimit);
    EXPECT_EQ(document.limitText(), "当前限制: 6 个汉字");
    document.setMaxCharacterLimit(0);
    EXPECT_EQ(document.maxCharacterLimit(), LineCounterDocument::kMinimumLimit);
    document.setMaxCharacterLimit(100000);
    EXPECT_EQ(document.maxCharacterLimit(), LineCounterDocument::kMaximumLimit);
}

TEST(LineCounterFiles, LoadAndExport) {
    TempDir dir;
    writeTestFile(dir / "script.txt", "a\n\nb");
    LineCounterDocument document;
    ASSERT_TRUE(document.handleFileResult(dir / "script.txt"));
    EXPECT_FALSE(document.errorMessage());
    ASSERT_TRUE(document.exportContent(dir / "out.txt"));
    EXPECT_EQ(readFile(dir / "out.txt"), "a\nb");

    // A failed read keeps the rows and tells why.
    writeTestFile(dir / "latin.txt", "caf\xE9");
    EXPECT_FALSE(document.handleFileResult(dir / "latin.txt"));
    ASSERT_TRUE(document.errorMessage());
    EXPECT_NE(document.errorMessage()->find("latin.txt"), std::string::npos);
    EXPECT_EQ(document.lines().size(), 2u);
    EXPECT_FALSE(document.handleFileResult(dir / "missing.txt"));

    EXPECT_FALSE(document.exportContent(dir / "no-such-folder" / "out.txt"));
    ASSERT_TRUE(document.errorMessage());
    EXPECT_EQ(document.errorMessage()->rfind("保存文件时出错: ", 0), 0u);
    EXPECT_EQ(LineCounterDocument::errorDisplayText("x"), "错误: x");
}

}  // namespace
}  // namespace quillora
