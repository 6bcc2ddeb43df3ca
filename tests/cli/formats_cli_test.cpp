// Runs the quillora-cli binary on files for the format and text subcommands.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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

fs::path cliBinary() {
    return testing::binaryDir() / "src/cli/quillora-cli";
}

// Runs the binary with `arguments` (already quoted) in `folder`, its stdin not a terminal.
CliRun cli(const fs::path& folder, const std::string& arguments) {
    const fs::path out = folder / ".cli-stdout";
    const fs::path err = folder / ".cli-stderr";
    const std::string command = "cd " + quoted(folder.string()) + " && " +
                                quoted(cliBinary().string()) + " " + arguments + " </dev/null >" +
                                quoted(out.string()) + " 2>" + quoted(err.string());
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
    for (const char* name :
         {"srt2fcpxml", "srt2premiere", "xml2srt", "columns", "count", "encode-script",
          "decode-srt", "extract", "convert", "encoding", "login", "logout", "whoami", "poll",
          "submit", "tasks", "tasks delete"}) {
        if (!std::strchr(name, ' ')) {
            EXPECT_NE(run.out.find(name), std::string::npos) << name;
        }
        const CliRun help = cli(dir.path(), std::string(name) + " --help");
        EXPECT_EQ(help.exitCode, 0) << name;
        EXPECT_NE(help.out.find("Usage:"), std::string::npos) << name;
        // Each help ends with an example of the command itself.
        const size_t example = help.out.rfind("Example:\n  ");
        ASSERT_NE(example, std::string::npos) << name;
        EXPECT_NE(help.out.find(std::string(name).substr(0, 5), example), std::string::npos)
            << name;
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

    // An NTSC rate reads back at the true rate (1:45.7 used to come back as 1:49.2).
    writeTestFile(dir / "ntsc.srt", "1\n00:01:45,700 --> 00:01:46,000\nA\n");
    for (const char* command :
         {"srt2premiere ntsc.srt --fps 29.97", "srt2fcpxml ntsc.srt --fps 29.97"}) {
        ASSERT_EQ(cli(dir.path(), command).exitCode, 0) << command;
    }
    EXPECT_EQ(cli(dir.path(), "xml2srt ntsc.xml").out, "1\n00:01:45,705 --> 00:01:46,005\nA\n\n\n");
    EXPECT_EQ(cli(dir.path(), "xml2srt ntsc.fcpxml").out.substr(0, 31),
              "1\n00:01:45,672 --> 00:01:45,972");

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
    EXPECT_EQ(run.err, "共 2 行，1 行超过 12 字\n");
    EXPECT_EQ(cli(dir.path(), "count s.txt --check").exitCode, 1);
    EXPECT_EQ(cli(dir.path(), "count s.txt --check --limit 14").exitCode, 0);
    // In an SRT only the subtitle text counts; a number line that is not a cue number does.
    writeTestFile(dir / "c.srt", kSrt + "\n3\n00:00:06,000 --> 00:00:07,000\n2024\n");
    EXPECT_EQ(cli(dir.path(), "count c.srt").out,
              "3\t11\t正常\tTom & Jerry\n7\t3\t正常\t第二句\n11\t4\t正常\t2024\n");
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
    writeTestFile(dir / "untitled.fcpxml",
                  "<fcpxml><library><event><project><sequence><spine><clip offset=\"0s\"/>"
                  "</spine></sequence></project></event></library></fcpxml>");
    const char* commands[] = {
        "xml2srt untitled.fcpxml", "srt2fcpxml missing.srt", "srt2fcpxml folder.srt",
        "srt2fcpxml empty.srt",    "srt2fcpxml binary.srt",  "srt2premiere missing.srt",
        "srt2premiere folder.srt", "srt2premiere empty.srt", "srt2premiere binary.srt",
        "xml2srt missing.xml",     "xml2srt binary.xml",     "xml2srt empty.srt",
        "columns folder.srt",      "columns binary.srt",     "columns binary.xml",
        "count missing.txt",       "count folder.srt",       "encode-script binary.srt",
        "decode-srt folder.srt",
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

// What is at an output path survives: an existing file is replaced only when allowed (-y, or
// "y" on a terminal), a link stays a link, a device is written into, "-" is stdout, and output
// that cannot be written fails the command.
TEST_F(FormatsCli, OutputNeverDestroysWhatTheUserHad) {
    writeTestFile(dir / "ep.srt", kSrt);
    writeTestFile(dir / "ep.fcpxml", "mine");
    writeTestFile(dir / "ep.xml", "mine");
    for (const char* command : {"srt2fcpxml ep.srt", "srt2fcpxml ep.srt -n", "srt2premiere ep.srt",
                                "xml2srt ep.fcpxml -o ep.xml", "columns ep.srt -o ep.xml",
                                "encoding ep.srt --to-utf8 ep.xml"}) {
        const CliRun run = cli(dir.path(), command);
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_NE(run.err.find("已存在"), std::string::npos) << command << ": " << run.err;
    }
    EXPECT_EQ(slurp(dir / "ep.fcpxml"), "mine");
    EXPECT_EQ(slurp(dir / "ep.xml"), "mine");
    EXPECT_EQ(cli(dir.path(), "srt2fcpxml ep.srt -y -n").exitCode, 2);

    // On a terminal the user is asked; "n" keeps the file, "y" replaces it.
    for (const char* answer : {"n", "y"}) {
        const std::string command = "cd " + quoted(dir.path().string()) + " && printf '" + answer +
                                    "\\n' | script -qec " +
                                    quoted(quoted(cliBinary().string()) + " srt2premiere ep.srt") +
                                    " /dev/null >/dev/null 2>&1";
        std::system(command.c_str());
        EXPECT_EQ(slurp(dir / "ep.xml") == "mine", std::string(answer) == "n") << answer;
    }

    fs::rename(dir / "ep.fcpxml", dir / "real.fcpxml");
    fs::create_symlink("real.fcpxml", dir / "ep.fcpxml");
    ASSERT_EQ(cli(dir.path(), "srt2fcpxml ep.srt -y").exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "ep.fcpxml"));
    EXPECT_NE(slurp(dir / "real.fcpxml").find("<fcpxml"), std::string::npos);

    CliRun run = cli(dir.path(), "srt2premiere ep.srt -o -");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("<?xml", 0), 0u);
    run = cli(dir.path(), "xml2srt ep.xml -o -");
    EXPECT_EQ(run.out.rfind("1\n00:00:01,520", 0), 0u);
    EXPECT_FALSE(fs::exists(dir / "-"));
    EXPECT_EQ(cli(dir.path(), "srt2premiere ep.srt ep.srt -o -").exitCode, 1);

    // A full disk on stdout or on a device node is a failure, and the node stays a device.
    for (const char* command : {"xml2srt ep.xml", "columns ep.srt", "srt2fcpxml ep.srt -o -"}) {
        const std::string line = "cd " + quoted(dir.path().string()) + " && " +
                                 quoted(cliBinary().string()) + " " + command +
                                 " >/dev/full 2>/dev/null";
        const int status = std::system(line.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << command;
    }
    if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        EXPECT_EQ(cli(dir.path(), "srt2fcpxml ep.srt -o full").exitCode, 1);
        EXPECT_TRUE(fs::is_character_file(dir / "full"));
    }

    // With several inputs a failed one is reported and the others are still converted.
    fs::remove(dir / "ep.xml");
    run = cli(dir.path(), "srt2premiere missing.srt ep.srt");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    EXPECT_TRUE(fs::exists(dir / "ep.xml"));
}

}  // namespace
}  // namespace quillora
