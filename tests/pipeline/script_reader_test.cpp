#include <gtest/gtest.h>

#include <string>

#include "pipeline/script_reader.h"
#include "pipeline/task_processing_error.h"
#include "platform/console.h"
#include "support/docx_builder.h"
#include "support/temp_home.h"
#include "text/script_codec.h"

namespace quillora {
namespace {

TEST(ScriptReader, SeparatorsAndNameListDetection) {
    const std::pair<const char*, const char*> separators[] = {
        {"主持人：大家好", "："}, {"a:b", ":"},     {"A - B", "-"},   {"甲——乙", "—"},
        {"甲—乙", "—"},           {"无分隔", "："}, {"a-b：c", "："}, {"a:b-c", ":"},
    };
    for (const auto& [line, separator] : separators) {
        EXPECT_EQ(detectSeparator(line), separator) << line;
    }
    const std::pair<const char*, bool> scripts[] = {
        {"主持人：大家好\n嘉宾：你好", true},
        {"九个字九个字九个字：x", true},
        {"十个字十个字十个字十：x", false},
        {"没有分隔符的一行\n嘉宾：你好", false},
        {"A - B", true},
        {"：没有名字", false},
        {"\u3000\t：只有空白", false},
        {"", false},
        {"👨‍👩‍👧：家人", true},
    };
    for (const auto& [script, expected] : scripts) {
        EXPECT_EQ(hasNameList(script), expected) << script;
    }
}

TEST(ScriptReader, NameListSplitsLabelsFromLines) {
    const struct {
        const char* script;
        const char* names;
        const char* lines;
    } cases[] = {
        {"嘉宾：你好\n  接着说 \n\n\t\n主持人: 好的\n旁白——开始", "嘉宾\n嘉宾\n主持人\n旁白",
         "你好\n接着说\n好的\n—开始"},
        {"开场白\n嘉宾：你好", "开场白\n嘉宾", "\n你好"},
        {"：无名\n继续", "\n继续", "无名\n"},
        {"主持人：a：b\r\n嘉宾：c", "主持人\n嘉宾", "a：b\nc"},
    };
    for (const auto& c : cases) {
        const auto [names, lines] = processNameListText(c.script);
        EXPECT_EQ(names, c.names) << c.script;
        EXPECT_EQ(lines, c.lines) << c.script;
    }
}

TEST(ScriptReader, ReadsEachFileTypeAndCountsLines) {
    quillora::testing::TempDir dir;
    const std::string script = "主持人：大家好，欢迎。\n嘉宾：谢谢！\n主持人：开始吧";
    const std::string expected = removeFuhao(script);
    quillora::testing::writeTestFile(dir / "a.TXT", script + "\r\n\r\n");
    quillora::testing::writeTestFile(dir / "b.srt", "\xEF\xBB\xBF" + script);
    quillora::testing::writeTestFile(
        dir / "c.rtf",
        R"({\rtf1\ansi\ansicpg936{\fonttbl\f0\fnil\fcharset134 SimSun;}\f0 )"
        R"(\'d6\'f7\'b3\'d6\'c8\'cb\'a3\'ba\'b4\'f3\'bc\'d2\'ba\'c3\'a3\'ac\'bb\'b6\'d3\'ad\'a1\'a3\par )"
        R"(\u22025?\u23486?\u65306?\u35874?\u35874?\u65281?\line )"
        R"(\'d6\'f7\'b3\'d6\'c8\'cb\'a3\'ba\'bf\'aa\'ca\'bc\'b0\'c9})");
    quillora::testing::writeTestFile(dir / "d.rtfd" / "TXT.rtf", R"({\rtf1 one\par two})");
    quillora::testing::writeTestFile(dir / "e.docx", quillora::testing::docxOfLines(script));
    // An old-format Word file of the same script, written by LibreOffice.
    std::filesystem::copy_file(quillora::testing::sourceDir() / "tests/pipeline/data/script.doc",
                               dir / "f.DOC");
    for (const char* name : {"a.TXT", "b.srt", "c.rtf", "e.docx", "f.DOC"}) {
        const ScriptText text = processTextFile(dir / name);
        EXPECT_EQ(text.content, expected) << name;
        EXPECT_EQ(text.lineCount, "3") << name;
    }
    EXPECT_EQ(processTextFile(dir / "d.rtfd").content, "one\ntwo");
}

TEST(ScriptReader, UnreadableScriptsFailWithTheirReason) {
    quillora::testing::TempDir dir;
    ConsoleCapture console;
    quillora::testing::writeTestFile(dir / "notes.pages", "x");
    quillora::testing::writeTestFile(dir / "README", "x");
    quillora::testing::writeTestFile(dir / "broken.docx", "not a zip");
    quillora::testing::writeTestFile(dir / "empty.docx", quillora::testing::docxOfLines(""));
    quillora::testing::writeTestFile(dir / "gbk.txt", "\xc4\xe3\xba\xc3");
    quillora::testing::writeTestFile(dir / "plain.rtf", "not rtf");
    const std::pair<const char*, const char*> failures[] = {
        {"notes.pages", "不支持的文本格式"}, {"README", "不支持的文本格式"},
        {"broken.docx", "文本处理失败"},     {"empty.docx", "文本处理失败"},
        {"missing.docx", "文本处理失败"},
    };
    for (const auto& [name, description] : failures) {
        try {
            processTextFile(dir / name);
            ADD_FAILURE() << name << " was read";
        } catch (const TaskProcessingError& error) {
            EXPECT_EQ(error.description(), description) << name;
        }
    }
    EXPECT_THROW(processTextFile(dir / "gbk.txt"), Error);
    EXPECT_ANY_THROW(processTextFile(dir / "plain.rtf"));
    EXPECT_TRUE(console.contains("读取 RTF 文件时出错: 不是 RTF 文档"));
}

}  // namespace
}  // namespace quillora
