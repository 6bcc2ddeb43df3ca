// Runs the quillora-cli binary on files for the format and text subcommands.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_home.h"

namespace quillora {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::TempHome;
using testing::writeTestFile;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the binary with `arguments` (already quoted) in `folder`.
CliRun cli(const fs::path& folder, const std::string& arguments) {
    const fs::path binary = testing::binaryDir() / "src/cli/quillora-cli";
    const fs::path out = folder / ".cli-stdout";
    const fs::path err = folder / ".cli-stderr";
    const std::string command = "cd " + quoted(folder.string()) + " && " + quoted(binary.string()) +
                                " " + arguments + " >" + quoted(out.string()) + " 2>" +
                                quoted(err.string());
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return run;
}

bool wellFormed(const fs::path& file) {
    return std::system(("xmllint --noout " + quoted(file.string()) + " 2>/dev/null").c_str()) == 0;
}

size_t lineCount(const std::string& text) {
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

const std::string kSrt =
    "1\n00:00:01,500 --> 00:00:03,000\nTom & Jerry\n\n"
    "2\n00:00:03,200 --> 00:00:05,000\n第二句\n";

class FormatsCli : public ::testing::Test {
  protected:
    TempHome home;  // the preferences of the runs live here
    TempDir dir;
};

TEST_F(FormatsCli, HelpListsEverySubcommand) {
    const CliRun run = cli(dir.path(), "--help");
    EXPECT_EQ(run.exitCode, 0);
    for (const char* name : {"srt2fcpxml", "srt2premiere", "xml2srt", "columns", "count",
                             "encode-script", "decode-srt"}) {
        EXPECT_NE(run.out.find(name), std::string::npos) << name;
        const CliRun help = cli(dir.path(), std::string(name) + " --help");
        EXPECT_EQ(help.exitCode, 0) << name;
        EXPECT_NE(help.out.find("Usage:"), std::string::npos) << name;
    }
    EXPECT_EQ(cli(dir.path(), "").exitCode, 2);
    EXPECT_EQ(cli(dir.path(), "srt2fcpxml --no-such-option a.srt").exitCode, 2);
}

TEST_F(FormatsCli, SrtToFcpxmlUsesPreferencesAndOverrides) {
    writeTestFile(dir / "talk.srt", kSrt);
    writeTestFile(home.configHome() / "quillora/preferences.json",
                  "{\"srt_fontname\": \"PingFang SC\", \"srt_fps\": \"50\"}");
    CliRun run = cli(dir.path(), "srt2fcpxml talk.srt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string document = slurp(dir / "talk.fcpxml");
    EXPECT_NE(document.find("font=\"PingFang SC\""), std::string::npos);
    EXPECT_NE(document.find("FFVideoFormat1920x1080p50"), std::string::npos);
    EXPECT_NE(document.find("<title name=\"Tom &amp; Jerry\""), std::string::npos);
    EXPECT_TRUE(wellFormed(dir / "talk.fcpxml"));

    run =
        cli(dir.path(), "srt2fcpxml talk.srt --fps 25 --font Hei --frame 3840x2160 -o out.fcpxml");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string other = slurp(dir / "out.fcpxml");
    EXPECT_NE(other.find("FFVideoFormat3840x2160p25"), std::string::npos);
    EXPECT_NE(other.find("font=\"Hei\""), std::string::npos);
    // The overrides were for that run only.
    EXPECT_NE(slurp(home.configHome() / "quillora/preferences.json").find("PingFang SC"),
              std::string::npos);

    EXPECT_EQ(cli(dir.path(), "srt2fcpxml talk.srt --fps 24.5").exitCode, 2);
    EXPECT_EQ(cli(dir.path(), "srt2fcpxml talk.srt --frame 1920").exitCode, 2);
    // An invalid stored rate stops the conversion with one message.
    writeTestFile(home.configHome() / "quillora/preferences.json", "{\"srt_fps\": \"0\"}");
    fs::remove(dir / "talk.fcpxml");
    run = cli(dir.path(), "srt2fcpxml talk.srt");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("无效的 FPS 值 (0)"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "talk.fcpxml"));
}

TEST_F(FormatsCli, SrtToPremiereAndBack) {
    writeTestFile(dir / "ep.srt", kSrt);
    CliRun run = cli(dir.path(), "srt2premiere ep.srt --fps 25 --width 3840 --height 2160");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(wellFormed(dir / "ep.xml"));
    EXPECT_NE(slurp(dir / "ep.xml").find("<width>3840</width>"), std::string::npos);

    run = cli(dir.path(), "xml2srt ep.xml");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "1\n00:00:01,520 --> 00:00:03,000\nTom & Jerry\n\n\n"
              "2\n00:00:03,200 --> 00:00:05,000\n第二句\n\n\n");

    ASSERT_EQ(cli(dir.path(), "srt2fcpxml ep.srt").exitCode, 0);
    fs::create_directory(dir / "ep.fcpxmld");
    fs::copy_file(dir / "ep.fcpxml", dir / "ep.fcpxmld/Info.fcpxml");
    run = cli(dir.path(), "xml2srt ep.fcpxmld -o back.srt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(slurp(dir / "back.srt"),
              "1\n00:00:01,480 --> 00:00:02,960\nTom  &  Jerry\n\n\n"
              "2\n00:00:03,200 --> 00:00:04,960\n第二句\n\n\n");

    writeTestFile(dir / "plate.srt", "1\n00:00:01,000 --> 00:00:02,000\n解说\n画外音\n");
    ASSERT_EQ(cli(dir.path(), "srt2premiere plate.srt --tianhe").exitCode, 0);
    EXPECT_NE(slurp(dir / "plate.xml").find("<name>无人名底板.png</name>"), std::string::npos);
}

TEST_F(FormatsCli, ColumnsAndCount) {
    writeTestFile(dir / "a.srt", kSrt);
    CliRun run = cli(dir.path(), "columns a.srt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "序号 \t开始时码  \t结束时码  \t  文本\n1\t00:00:01\t00:00:03\tTom & Jerry\n"
              "2\t00:00:03\t00:00:05\t第二句\n");
    EXPECT_EQ(cli(dir.path(), "columns a.srt --csv").out,
              "序号,开始时码,结束时码,文本\n1,00:00:01,00:00:03,Tom & Jerry\n"
              "2,00:00:03,00:00:05,第二句\n");
    EXPECT_EQ(cli(dir.path(), "columns a.srt --text").out, "Tom & Jerry\n第二句\n");
    EXPECT_EQ(cli(dir.path(), "columns a.srt --csv --text").exitCode, 2);

    writeTestFile(dir / "s.txt", "今天天气很好，我们去公园散步\n\n  Hello 世界  \n");
    run = cli(dir.path(), "count s.txt");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "1\t14\t超标\t今天天气很好，我们去公园散步\n3\t8\t正常\t  Hello 世界  \n");
    EXPECT_EQ(cli(dir.path(), "count s.txt --limit 20").out.find("超标"), std::string::npos);
    EXPECT_EQ(cli(dir.path(), "count s.txt --limit 0").exitCode, 2);
}

TEST_F(FormatsCli, ScriptEncodingBothWays) {
    writeTestFile(dir / "script.txt", "第一行，你好。  \r\n\r\n1号\n\"好\"\n");
    CliRun run = cli(dir.path(), "encode-script script.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "第一行砚19篁你好砚20篁\n一砚篁号\n好🎶✌️");
    EXPECT_EQ(run.err, "");
    writeTestFile(dir / "script.pages", "x");
    EXPECT_EQ(cli(dir.path(), "encode-script script.pages").exitCode, 1);

    writeTestFile(dir / "result.srt",
                  "1\n00:00:01,000 --> 00:00:02,000\n你好砚19篁世界砚20篁\n\n"
                  "2\n00:00:02,300 --> 00:00:03,000\n拜拜\n");
    run = cli(dir.path(), "decode-srt result.srt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "1\n00:00:01,000 --> 00:00:02,300\n你好，世界。\n\n"
              "2\n00:00:02,300 --> 00:00:03,000\n再见\n");
}

TEST_F(FormatsCli, BadInputsFailWithOneMessage) {
    writeTestFile(dir / "empty.srt", "");
    std::string binary(2048, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 37 + 11) % 256);
    writeTestFile(dir / "binary.srt", binary);
    writeTestFile(dir / "binary.xml", binary);
    fs::create_directory(dir / "folder.srt");
    const char* commands[] = {
        "srt2fcpxml missing.srt", "srt2fcpxml folder.srt",    "srt2fcpxml empty.srt",
        "srt2fcpxml binary.srt",  "srt2premiere missing.srt", "srt2premiere folder.srt",
        "srt2premiere empty.srt", "srt2premiere binary.srt",  "xml2srt missing.xml",
        "xml2srt binary.xml",     "xml2srt empty.srt",        "columns folder.srt",
        "columns binary.srt",     "columns binary.xml",       "count missing.txt",
        "count folder.srt",       "encode-script binary.srt", "decode-srt folder.srt",
    };
    for (const char* command : commands) {
        const CliRun run = cli(dir.path(), command);
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_EQ(lineCount(run.err), 1u) << command << ": " << run.err;
        EXPECT_EQ(run.err.rfind("quillora-cli: ", 0), 0u) << command << ": " << run.err;
        EXPECT_EQ(run.out, "") << command;
    }
    for (const char* left : {"empty.fcpxml", "empty.xml", "binary.fcpxml", "folder.fcpxml",
                             "folder.xml", "missing.fcpxml"}) {
        EXPECT_FALSE(fs::exists(dir / left)) << left;
    }
}

}  // namespace
}  // namespace quillora
