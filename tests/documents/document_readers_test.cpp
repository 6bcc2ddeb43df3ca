#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/documents/document_readers.h"
#include "support/docx_builder.h"
#include "support/temp_home.h"

namespace quillora::documents {
namespace {

struct RtfCase {
    const char* name;
    std::string rtf;
    std::string text;
};

TEST(RtfReader, PlainCharactersOfTheDocument) {
    const RtfCase cases[] = {
        {"paragraphs and line breaks", R"({\rtf1\ansi Hello\par World\line !\par})",
         "Hello\nWorld\n!\n"},
        {"source line ends are not text", "{\\rtf1 one\r\ntwo\\\nthree}", "onetwo\nthree"},
        {"escapes and special characters",
         R"({\rtf1 a\\b\{c\}\~d\tab e\emdash f\ldblquote g\rdblquote\-h})",
         "a\\b{c}\u00A0d\te\u2014f\u201Cg\u201Dh"},
        {"unicode with one fallback character", R"({\rtf1\ansi\u20320?\u22909?!})", "你好!"},
        {"unicode with two-byte fallbacks in GBK",
         R"({\rtf1\ansi\ansicpg936\uc2\u20320\'c4\'e3\u22909\'ba\'c3 ok})", "你好 ok"},
        {"negative units form a surrogate pair", R"({\rtf1\u-10179?\u-8704?})", "😀"},
        {"the fallback count is restored after the group", R"({\rtf1{\uc0\u20320}\u22909?})",
         "你好"},
        {"GBK bytes under ansicpg936", R"({\rtf1\ansi\ansicpg936 \'c4\'e3\'ba\'c3\par})", "你好\n"},
        {"Big5 with literal trail bytes under ansicpg950",
         R"({\rtf1\ansi\ansicpg950 \'a7A\'a6n\'a1A})", "你好，"},
        {"the font's charset chooses the code page",
         R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0\fswiss\fcharset0 Arial;}{\f1\fnil\fcharset134 \'cb\'ce;}}\f0 caf\'e9 {\f1\'c4\'e3}\'e9})",
         "café 你é"},
        {"ignorable and non-text destinations",
         R"({\rtf1{\colortbl;\red0\green0\blue0;}{\stylesheet{\s0 Normal;}}{\info{\title T}{\author A}})"
         R"({\*\generator Writer;}{\*\expandedcolortbl;;}{\header H\par}{\pict\pngblip 89504e47}x)"
         R"({\field{\*\fldinst HYPERLINK "u"}{\fldrslt link}}y\bin2 {}z})",
         "xlinkyz"},
        {"the Unicode part of upr", R"({\rtf1{\upr{ansi ?}{\*\ud{\u20320?}}}})", "你"},
        {"a document cut short keeps its text", R"({\rtf1 abc{\b def)", "abcdef"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtfToPlainText(c.rtf), c.text) << c.name;
    }
}

TEST(RtfReader, RefusesWhatIsNotRtf) {
    for (const std::string input : {"", "hello", "{\\rtx1 x}", "rtf1 {x}"}) {
        EXPECT_THROW(rtfToPlainText(input), DocumentError) << input;
    }
}

TEST(RtfReader, ReadsFilesAndRtfdFolders) {
    quillora::testing::TempDir dir;
    quillora::testing::writeTestFile(dir / "script.rtfd" / "TXT.rtf", R"({\rtf1 folder\par})");
    quillora::testing::writeTestFile(dir / "script.rtf", R"({\rtf1 file})");
    EXPECT_EQ(readRtfDocument(dir / "script.rtfd", true), "folder\n");
    EXPECT_EQ(readRtfDocument(dir / "script.rtf", false), "file");
    EXPECT_ANY_THROW(readRtfDocument(dir / "script.rtf", true));
    EXPECT_ANY_THROW(readRtfDocument(dir / "missing.rtf", false));
}

using quillora::testing::docxArchive;
using quillora::testing::wordDocument;
using quillora::testing::zipArchive;

TEST(DocxReader, OneLinePerParagraph) {
    const std::string body =
        R"(<w:p><w:pPr><w:tabs><w:tab w:val="left" w:pos="720"/></w:tabs></w:pPr>)"
        R"(<w:r><w:t>主持人</w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>：大家好</w:t></w:r></w:p>)"
        R"(<w:p/>)"
        R"(<w:p><w:r><w:t xml:space="preserve">a </w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t></w:r></w:p>)"
        R"(<w:p><w:del><w:r><w:delText>gone</w:delText></w:r></w:del>)"
        R"(<w:r><w:instrText>PAGE</w:instrText></w:r><w:r><w:t>kept</w:t></w:r></w:p>)"
        R"(<w:p><w:r><mc:AlternateContent><mc:Choice><w:p><w:r><w:t>box</w:t></w:r></w:p></mc:Choice>)"
        R"(<mc:Fallback><w:p><w:r><w:t>box</w:t></w:r></w:p></mc:Fallback></mc:AlternateContent></w:r></w:p>)"
        R"(<w:tbl><w:tr><w:tc><w:p><w:r><w:t>cell</w:t></w:r></w:p></w:tc></w:tr></w:tbl>)";
    EXPECT_EQ(docxToPlainText(docxArchive(body)), "主持人：大家好\n\na \tb\nc\nkept\nbox\n\ncell");
    EXPECT_EQ(docxToPlainText(docxArchive("<w:p><w:r><w:t>x</w:t></w:r></w:p>", "word/main.xml")),
              "x");
}

TEST(DocxReader, RefusesBrokenDocumentsAndNeverFetches) {
    const std::string external =
        R"(<!DOCTYPE w:document [<!ENTITY secret SYSTEM "file:///etc/hostname">]>)";
    const std::string withEntity =
        zipArchive({{"word/document.xml",
                     wordDocument("<w:p><w:r><w:t>a&secret;b</w:t></w:r></w:p>", external)}});
    EXPECT_EQ(docxToPlainText(withEntity), "ab");

    const std::map<std::string, std::string> broken = {
        {"not an archive", "PK\x03\x04 not really"},
        {"no document part", zipArchive({{"word/other.xml", "<x/>"}})},
        {"malformed XML", zipArchive({{"word/document.xml", "<w:document><w:p>"}})},
    };
    for (const auto& [name, bytes] : broken) {
        EXPECT_THROW(docxToPlainText(bytes), DocumentError) << name;
    }
}

}  // namespace
}  // namespace quillora::documents
