#include <gtest/gtest.h>

#include "platform/documents/office_converter.h"
#include "platform/files.h"
#include "support/temp_home.h"

namespace quillora::documents {
namespace {
namespace fs = std::filesystem;

// The real LibreOffice: each start costs seconds, so one test walks every real behaviour.
TEST(OfficeConverter, WritesDocFromChineseTextAndRtfAndReadsItBack) {
    testing::TempDir dir;
    const auto office = OfficeConverter::forSlot(0);
    testing::writeTestFile(dir / "台词.txt", "第一行：你好，世界\nSecond line\n");
    testing::writeTestFile(dir / "notes.rtf",
                           "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Hello "
                           "{\\b bold} world\\par Second\\par}");
    office.convertToDoc(dir / "台词.txt", dir / "台词.doc");
    office.convertToDoc(dir / "notes.rtf", dir / "notes.doc");
    // Word 97 documents start with the compound-file signature.
    EXPECT_EQ(readFile(dir / "台词.doc").substr(0, 4), "\xD0\xCF\x11\xE0");
    EXPECT_EQ(office.readText(dir / "台词.doc"), "第一行：你好，世界\nSecond line\n");
    EXPECT_EQ(office.readText(dir / "notes.doc"), "Hello bold world\nSecond\n");
    try {
        office.convertToDoc(dir / "missing.txt", dir / "missing.doc");
        ADD_FAILURE() << "no error";
    } catch (const OfficeError& error) {
        // It exits 0 for this; only the missing output tells.
        EXPECT_EQ(error.exitStatus(), 0);
        EXPECT_EQ(error.description(), "Error: source file could not be loaded");
    }
    EXPECT_FALSE(fs::exists(dir / "missing.doc"));
}

TEST(OfficeConverter, ReportsExitStatusAndMessageWithoutStartUpNotices) {
    testing::TempDir dir;
    testing::StandInPrograms programs;
    programs.add("soffice",
                 "echo 'Warning: failed to launch javaldx - java may not function correctly' >&2\n"
                 "printf '  bad input\\n' >&2\nexit 1\n");
    testing::writeTestFile(dir / "a.txt", "text");
    try {
        OfficeConverter(dir / "profile").convertToDoc(dir / "a.txt", dir / "a.doc");
        ADD_FAILURE() << "no error";
    } catch (const OfficeError& error) {
        EXPECT_EQ(error.exitStatus(), 1);
        EXPECT_EQ(error.description(), "bad input");
    }
    EXPECT_FALSE(fs::exists(dir / "a.doc"));
}

}  // namespace
}  // namespace quillora::documents
