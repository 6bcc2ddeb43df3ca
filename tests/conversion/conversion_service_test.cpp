#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "conversion/conversion_service.h"
#include "conversion/file_converter.h"
#include "platform/documents/office_converter.h"
#include "platform/files.h"
#include "platform/uuid.h"
#include "support/temp_home.h"
#include "text/unicode.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
namespace status = conversion_status;

bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments + " >/dev/null 2>&1").c_str()) ==
           0;
}

size_t filesIn(const fs::path& folder) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) return 0;
    size_t count = 0;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
        if (it->is_regular_file()) ++count;
    }
    return count;
}

// A stand-in LibreOffice: copies the input to the output name after a pause, and logs when
// each run starts and ends.
std::string standInOffice(const fs::path& log, double seconds) {
    return "for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=\"$a\"; prev=\"$a\"; done\n"
           "src=\"$prev\"; name=$(basename \"$src\")\n"
           "echo start >> '" +
           log.string() + "'\nsleep " + std::to_string(seconds) +
           "\ncp \"$src\" \"$out/${name%.*}.doc\"\necho end >> '" + log.string() + "'\n";
}

struct Result {
    std::optional<fs::path> output;
    std::string error;
    std::string domain;
    int code = 0;
    std::vector<double> progress;
    bool completed = false;
};

class ConversionTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    testing::TempDir temp;
    // Profiles of its own: the real LibreOffice test may hold the shared ones meanwhile.
    ConversionService service{{std::chrono::milliseconds(10), temp.path(), temp / "profiles"}};

    MediaFile file(const std::string& name) {
        MediaFile made;
        made.id = uuidString();
        made.originalURL = dir / name;
        return made;
    }

    Result convert(const MediaFile& file, OutputFormat format, ConversionService* on = nullptr) {
        Result result;
        (on ? *on : service)
            .convert(
                file, format, [&](double p) { result.progress.push_back(p); }, {},
                [&](const ConversionService::Outcome& outcome) {
                    result.completed = true;
                    result.output = outcome.output;
                    if (!outcome.error) return;
                    try {
                        std::rethrow_exception(outcome.error);
                    } catch (const ConversionError& error) {
                        result.error = error.description();
                        result.domain = error.domain();
                        result.code = error.code();
                    } catch (const Error& error) {
                        result.error = error.description();
                    }
                });
        return result;
    }

    size_t tempFiles() const { return filesIn(temp / "FileConverter"); }
};

TEST_F(ConversionTest, MediaBecomesAudioBesideTheSourceAndFailuresLeaveNothingBehind) {
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i sine=d=1 -c:a pcm_s16le '" + (dir / "talk.wav").string() + "'"));
    fs::copy_file(dir / "talk.wav", dir / "clip.mov");
    testing::writeTestFile(dir / "broken.mp4", std::string(2000, 'x'));
    fs::create_directory(dir / "busy.m4a");  // the output's place is taken by a folder
    fs::copy_file(dir / "talk.wav", dir / "busy.wav");

    const Result replaced = convert(file("talk.wav"), OutputFormat::wav);
    EXPECT_EQ(replaced.output, dir / "talk.wav");
    const Result m4a = convert(file("clip.mov"), OutputFormat::m4a);
    EXPECT_EQ(m4a.output, dir / "clip.m4a");
    ASSERT_FALSE(m4a.progress.empty());
    EXPECT_EQ(m4a.progress.back(), 1.0);

    struct Failure {
        std::string name;
        OutputFormat format;
        std::string domain;
        int code;
        std::string error;
    };
    const Failure failures[] = {
        {"notes.docx", OutputFormat::doc, "ConversionError", 400, "DOC转换仅支持TXT/RTF/RTFD文件"},
        {"song.mp3", OutputFormat::doc, "ConversionError", 400, "DOC转换仅支持TXT/RTF/RTFD文件"},
        {"vanished.mp4", OutputFormat::m4a, "FileError", ENOENT, "找不到文件“vanished.mp4”"},
        {"busy.wav", OutputFormat::m4a, "FileError", EISDIR, "无法保存转换结果“busy.m4a”"},
        {"broken.mp4", OutputFormat::wav, "", 0, "无法"},
    };
    for (const Failure& f : failures) {
        const Result result = convert(file(f.name), f.format);
        EXPECT_TRUE(result.completed && !result.output) << f.name;
        EXPECT_EQ(result.domain, f.domain) << f.name;
        EXPECT_EQ(result.code, f.code) << f.name;
        EXPECT_EQ(result.error.rfind(f.error, 0), 0u) << f.name << ": " << result.error;
    }
    EXPECT_EQ(tempFiles(), 0u);
    // talk.wav, clip.mov, clip.m4a, broken.mp4, busy.wav; busy.m4a is still the folder.
    EXPECT_EQ(filesIn(dir.path()), 5u);
    EXPECT_TRUE(fs::is_directory(dir / "busy.m4a"));
}

TEST_F(ConversionTest, CancelInTheMiddleOfAnExportKeepsTheSourceAndCallsNothing) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=d=300:sample_rate=44100 -ac 2 '" +
                       (dir / "long.wav").string() + "'"));
    const std::string before = readFile(dir / "long.wav");
    const MediaFile long_ = file("long.wav");
    std::atomic<bool> started{false};
    bool completed = false;
    std::thread worker([&] {
        service.convert(
            long_, OutputFormat::m4a,
            [&](double p) {
                if (p > 0) started = true;
            },
            {}, [&](const ConversionService::Outcome&) { completed = true; });
    });
    while (!started)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    service.cancelConversion(long_.id);
    worker.join();
    EXPECT_FALSE(completed);
    EXPECT_EQ(tempFiles(), 0u);
    EXPECT_EQ(filesIn(dir.path()), 1u);
    EXPECT_EQ(readFile(dir / "long.wav"), before);
}

TEST_F(ConversionTest, DocumentConversionReportsTenStepsAndTheConvertersFailure) {
    testing::StandInPrograms programs;
    testing::writeTestFile(dir / "notes.txt", "hello\n");
    programs.add("soffice", standInOffice(temp / "office.log", 0));
    const Result done = convert(file("notes.txt"), OutputFormat::doc);
    EXPECT_EQ(done.output, dir / "notes.doc");
    EXPECT_EQ(done.progress,
              (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}));

    programs.add("soffice", "echo 'bad input' >&2\nexit 1\n");
    const Result failed = convert(file("notes.txt"), OutputFormat::doc);
    EXPECT_EQ(failed.domain, "TextutilError");
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.error, "bad input");
    programs.add("soffice", "printf '\\377\\376' >&2\nexit 2\n");
    EXPECT_EQ(convert(file("notes.txt"), OutputFormat::doc).error, "Textutil转换失败");
    EXPECT_EQ(tempFiles(), 0u);
}

// The real LibreOffice, once: a GBK Chinese text file becomes a DOC that reads back the same.
TEST_F(ConversionTest, ChineseTextInALegacyEncodingBecomesAWordDocument) {
    const std::string text = "第一场 夜 内景\n李明：你怎么现在才回来？\n王芳：路上堵车了。\n";
    testing::writeTestFile(dir / "utf8.txt", text);
    ASSERT_EQ(std::system(("iconv -f UTF-8 -t GBK '" + (dir / "utf8.txt").string() + "' > '" +
                           (dir / "剧本.txt").string() + "'")
                              .c_str()),
              0);
    // The shared profiles, which later runs reuse.
    ConversionService shared({std::chrono::milliseconds(10), temp.path(), {}});
    const Result result = convert(file("剧本.txt"), OutputFormat::doc, &shared);
    ASSERT_EQ(result.output, dir / "剧本.doc") << result.error;
    EXPECT_EQ(documents::OfficeConverter::forSlot(0).readText(dir / "剧本.doc"), text);
}

TEST_F(ConversionTest, BatchRunsTwoAtATimeAndKeepsFailedAndCancelledWhenClearing) {
    testing::StandInPrograms programs;
    const fs::path log = temp / "office.log";
    programs.add("soffice", standInOffice(log, 0.3));
    FileConverter converter({std::chrono::milliseconds(10), temp.path(), temp / "profiles"});
    converter.setOutputFormat(OutputFormat::doc);
    for (int i = 0; i < 5; ++i) {
        testing::writeTestFile(dir / ("part" + std::to_string(i) + ".txt"), "text");
        converter.addFile(dir / ("part" + std::to_string(i) + ".txt"));
    }
    converter.addFile(dir / "part0.txt");  // listed once
    testing::writeTestFile(dir / "song.mp3", "not really audio");
    converter.addFile(dir / "song.mp3");
    ASSERT_EQ(converter.files().size(), 6u);

    converter.convertAll();
    converter.waitUntilIdle();
    // At most two stand-ins ran at any moment, and two did run together.
    int running = 0, most = 0;
    const std::string lines = readFile(log);
    for (const auto line : splitNewlines(lines)) {
        if (line.empty()) continue;
        running += line == "start" ? 1 : -1;
        most = std::max(most, running);
    }
    EXPECT_EQ(most, 2);
    const auto files = converter.files();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(files[i].status, status::kCompleted);
        EXPECT_EQ(files[i].progress, 1.0);
        EXPECT_EQ(files[i].finalOutputURL, dir / ("part" + std::to_string(i) + ".doc"));
    }
    EXPECT_EQ(files[5].status, status::kFailed);
    EXPECT_EQ(files[5].errorMessage, "DOC转换仅支持TXT/RTF/RTFD文件");

    // A slow one cancelled while it runs stays cancelled after the stand-in finishes.
    programs.add("soffice", standInOffice(log, 1));
    testing::writeTestFile(dir / "slow.txt", "text");
    converter.addFile(dir / "slow.txt");
    converter.convertFile(6);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    converter.cancelConversion(converter.files()[6].id);
    converter.waitUntilIdle();
    EXPECT_EQ(converter.files()[6].status, status::kCancelled);
    EXPECT_FALSE(fs::exists(dir / "slow.doc"));

    converter.clearCompleted();
    const auto left = converter.files();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].status, status::kFailed);
    EXPECT_EQ(left[1].status, status::kCancelled);
}

}  // namespace
}  // namespace quillora
