// The processing job against the reference platform on a free loopback port, on media the tests
// make with espeak-ng and ffmpeg; replies the platform never gives come from the stub server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/task_processor.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "service/client_fixture.h"
#include "service/service_constants.h"
#include "subtitles/srt_parser.h"
#include "support/docx_builder.h"
#include "text/unicode.h"

namespace quillora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Client;
using testing::TestPlatform;

const std::string kPassword = "pw";
const std::vector<std::string> kLines = {"大家好，欢迎收听节目。", "谢谢主持人！", "我们开始吧。"};
const std::vector<std::string> kSpeakers = {"主持人", "嘉宾", "主持人"};

// Speech of the three lines, then silence up to 31 s (charged as one minute): as a video with a
// still picture, which the job converts, and as a WAV, which it sends as it is. Made once.
struct Recordings {
    quillora::testing::TempDir dir;
    fs::path video = dir / "talk.mp4";
    fs::path audio = dir / "talk.wav";
    Recordings() {
        const fs::path speech = dir / "speech.wav";
        std::string text;
        for (const auto& line : kLines)
            text += line;
        const bool made =
            testing::runCommand("espeak-ng -v cmn -s 170 -w '" + speech.string() + "' '" + text +
                                "'") &&
            testing::runCommand("ffmpeg -nostdin -y -f lavfi -i color=c=navy:s=160x90:r=1 -i '" +
                                speech.string() +
                                "' -filter_complex '[1:a]apad=whole_dur=31[a]' -map 0:v -map '[a]'"
                                " -c:v libx264 -tune stillimage -pix_fmt yuv420p -c:a aac -t 31 '" +
                                video.string() + "'") &&
            testing::runCommand("ffmpeg -nostdin -y -i '" + video.string() + "' -vn '" +
                                audio.string() + "'");
        if (!made) throw std::runtime_error("cannot make the test recordings");
    }
};

const Recordings& recordings() {
    static const Recordings made;
    return made;
}

std::string joined(const std::vector<std::string>& lines, const std::string& separator = "\n") {
    return joinStrings(lines, separator);
}

// The text as RTF, every non-ASCII character as \uN with a "?" fallback.
std::string rtfOf(const std::string& text) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg936\\uc1{\\fonttbl\\f0\\fnil\\fcharset134 SimSun;}\\f0 ";
    for (const char32_t c : codePoints(text)) {
        if (c == '\n') {
            rtf += "\\par\n";
        } else if (c < 0x80) {
            rtf += static_cast<char>(c);
        } else {
            rtf += "\\u" + std::to_string(static_cast<int>(c)) + "?";
        }
    }
    return rtf + "}";
}

UserData signedIn(std::int64_t id) {
    UserData user;
    user.userid = id;
    user.preamount = 0;
    user.srtPassword = kPassword;
    return user;
}

// A client with its own stores, signed in, and a processor working on them.
struct Rig {
    Client client;
    TaskProcessor processor{client.database, client.service, client.users,
                            NotificationCenter::shared()};

    explicit Rig(const std::string& url, std::int64_t userid = 1) : client(url) {
        client.users.saveUser(signedIn(userid));
    }
    KestruneItem add(const fs::path& script, const fs::path& recording,
                     const std::string& format = "m4a") {
        KestruneItem item = KestruneItem::newTask(script.string(), recording.string());
        item.outputFormat = format;
        item.id = client.database.insertItem(item);
        return item;
    }
    KestruneItem reload(std::int64_t id) {
        for (const auto& item : client.database.getAllItems()) {
            if (item.id == id) return item;
        }
        throw std::runtime_error("record vanished");
    }
    KestruneItem run(const KestruneItem& item) {
        processor.processTask(item);
        processor.taskQueue().actor.waitUntilIdle();
        return reload(item.id);
    }
};

struct Row {
    std::string status;
    double progress;
    bool operator==(const Row&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.status << "@" << row.progress;
}

// What the dashboard would see: after each taskUpdated, the changed record's status and
// progress; and every progress payload, by record.
class Journal {
  public:
    explicit Journal(DatabaseManager& database) : database_(database) {
        token_ = NotificationCenter::shared().subscribe(
            notification::kTaskUpdated, [this](const NotificationCenter::Payload& payload) {
                if (payload.is_object()) {
                    std::lock_guard lock(mutex_);
                    progress_[payload.at("id").get<std::int64_t>()].push_back(
                        payload.at("progress").get<double>());
                    return;
                }
                {
                    std::lock_guard lock(mutex_);
                    for (const auto& item : database_.getAllItems()) {
                        const Row row{item.status, item.progress};
                        auto& seen = rows_[item.id];
                        if (seen.empty()) {
                            seen.push_back(row);  // where the record stood (a waiting job's too)
                        } else if (!(seen.back() == row)) {
                            seen.push_back(row);
                            order_.push_back(item.id);
                        }
                    }
                }
                if (onStatus) onStatus();
            });
    }
    ~Journal() { NotificationCenter::shared().unsubscribe(token_); }

    std::vector<Row> rows(std::int64_t id) {
        std::lock_guard lock(mutex_);
        return rows_[id];
    }
    std::vector<double> progress(std::int64_t id) {
        std::lock_guard lock(mutex_);
        return progress_[id];
    }
    /// The records in the order of their changes after their first row.
    std::vector<std::int64_t> order() {
        std::lock_guard lock(mutex_);
        return order_;
    }
    std::function<void()> onStatus;  // set before the job starts

  private:
    DatabaseManager& database_;
    std::mutex mutex_;
    std::map<std::int64_t, std::vector<Row>> rows_;
    std::map<std::int64_t, std::vector<double>> progress_;
    std::vector<std::int64_t> order_;
    NotificationCenter::Token token_ = 0;
};

const std::vector<Row> kConvertedAndStarted = {
    {"待处理", 0},     {"文本处理完成", 0.25}, {"转码中", 0.25}, {"处理中", 0.5},
    {"上传成功", 0.7}, {"支付成功", 0.72},     {"处理中", 0.75}};

// Every test keeps the job's temporary files in a folder of its own.
class Pipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        recordings();
        const char* previous = std::getenv("TMPDIR");
        if (previous) savedTmp_ = previous;
        ::setenv("TMPDIR", temp.path().c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    // Files the job left in the temporary folder (the tests' own folders are in it too).
    std::vector<fs::path> temporaryFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(temp.path())) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        return files;
    }
    fs::path copyOf(const fs::path& recording, const std::string& name) {
        fs::copy_file(recording, files / name);
        return files / name;
    }

    quillora::testing::TempDir temp;
    quillora::testing::TempDir files;
    ConsoleCapture console;

  private:
    std::optional<std::string> savedTmp_;
};

std::string resultState(TestPlatform& platform, const std::string& taskid) {
    auto reply = platform.client().Get(("/srt/" + taskid + ".srt").c_str());
    return reply ? std::to_string(reply->status) + " " + reply->body.substr(0, 7) : "no reply";
}

TEST_F(Pipeline, ScriptsAsTextDocxAndNameListRtfBecomeTimedSubtitles) {
    TestPlatform platform;
    const auto account = platform.accounts().addAccount(testing::aliceAccount(kPassword, 20));
    Rig rig(platform.baseURL(), account.id);
    std::vector<std::string> labelled;
    for (size_t i = 0; i < kLines.size(); ++i)
        labelled.push_back(kSpeakers[i] + "：" + kLines[i]);
    quillora::testing::writeTestFile(files / "plain.txt", joined(kLines) + "\n");
    quillora::testing::writeTestFile(files / "plain.docx",
                                     quillora::testing::docxOfLines(joined(kLines)));
    quillora::testing::writeTestFile(files / "names.rtf", rtfOf(joined(labelled)));
    const std::vector<KestruneItem> items = {
        rig.add(files / "plain.txt", copyOf(recordings().video, "from-txt.mp4")),
        rig.add(files / "plain.docx", copyOf(recordings().video, "from-docx.mp4")),
        rig.add(files / "names.rtf", copyOf(recordings().video, "from-rtf.mp4"))};

    Journal journal(rig.client.database);
    for (const auto& item : items)
        rig.processor.processTask(item);
    rig.processor.taskQueue().actor.waitUntilIdle();

    std::vector<std::int64_t> expectedOrder;
    for (const auto& item : items) {
        SCOPED_TRACE(item.textFilePath);
        EXPECT_EQ(journal.rows(item.id), kConvertedAndStarted);
        for (const double p : journal.progress(item.id)) {
            EXPECT_TRUE(p >= 0.25 && p <= 0.75 && std::abs(p * 200 - std::round(p * 200)) < 1e-9)
                << p;
        }
        const KestruneItem stored = rig.reload(item.id);
        EXPECT_EQ(stored.duration, 1);
        EXPECT_EQ(stored.textlost, "3");
        expectedOrder.insert(expectedOrder.end(), kConvertedAndStarted.size() - 1, item.id);
    }
    EXPECT_EQ(journal.order(), expectedOrder) << "one job after the other, in request order";
    EXPECT_EQ(rig.reload(items[2].id).isrenmingtiao, 1);
    EXPECT_EQ(rig.reload(items[2].id).part1, joined(kSpeakers));
    EXPECT_EQ(platform.accounts().findByName("alice")->balance, 17);
    EXPECT_EQ(rig.client.users.getUser()->preamount, 17);
    EXPECT_TRUE(temporaryFiles().empty()) << "converted audio is deleted after the start";

    int finished = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 90s;
         finished < 3 && std::chrono::steady_clock::now() < deadline;) {
        finished += rig.client.service.runPollingPass().finished;
        if (finished < 3) std::this_thread::sleep_for(200ms);
    }
    ASSERT_EQ(finished, 3);
    for (const auto& item : items) {
        SCOPED_TRACE(item.textFilePath);
        EXPECT_EQ(rig.reload(item.id).status, status::kSucceeded);
        const auto cues = SRTParser().parse(readFile(srtPathForRecording(item.movieFilePath)));
        ASSERT_EQ(cues.size(), kLines.size());
        for (size_t i = 0; i < cues.size(); ++i) {
            const std::string expected =
                item.id == items[2].id ? kSpeakers[i] + " " + kLines[i] : kLines[i];
            EXPECT_EQ(cues[i].text, expected);
        }
    }
}

TEST_F(Pipeline, RefusedChargeUploadsButNeverStarts) {
    TestPlatform platform;
    const auto account = platform.accounts().addAccount(testing::aliceAccount(kPassword, 0));
    Rig rig(platform.baseURL(), account.id);
    quillora::testing::writeTestFile(files / "plain.txt", joined(kLines));
    const fs::path recording = copyOf(recordings().audio, "talk.WAV");
    const KestruneItem item = rig.add(files / "plain.txt", recording);
    Journal journal(rig.client.database);

    const KestruneItem done = rig.run(item);
    EXPECT_EQ(journal.rows(item.id), (std::vector<Row>{{"待处理", 0},
                                                       {"文本处理完成", 0.25},
                                                       {"处理中", 0.25},
                                                       {"处理中", 0.5},
                                                       {"上传成功", 0.7},
                                                       {"支付失败", 0}}));
    EXPECT_EQ(done.duration, 1);
    EXPECT_TRUE(console.contains("任务 " + std::to_string(item.id) + " 错误信息: 余额不足" +
                                 "，请前往Quillora平台(" + service::kPlatformWebAddress + ")充值"));
    EXPECT_EQ(resultState(platform, item.taskid), "200 steps/0") << "uploaded, never started";
    EXPECT_TRUE(fs::exists(recording)) << "audio recordings are sent as they are, never deleted";
}

TEST_F(Pipeline, RefusedStartAfterTheChargeIsAPaymentFailureAtThreeQuarters) {
    testing::StubServer stub;
    stub.replyTo("/clients/postdata.php", 200, R"({"status":200,"message":"上传成功"})");
    stub.replyTo("/api/dssrtkoufee", 200,
                 R"({"code":200,"msg":"扣费成功","data":{"user_id":"1","before_amount":20,)"
                 R"("deduct_amount":1,"after_amount":19}})");
    stub.replyTo("/clients/starttask.php", 200, R"({"status":500,"message":"服务器繁忙"})");
    Rig rig(stub.baseURL());
    quillora::testing::writeTestFile(files / "plain.txt", joined(kLines));
    const KestruneItem item = rig.add(files / "plain.txt", copyOf(recordings().video, "TALK.MP4"));
    Journal journal(rig.client.database);

    const KestruneItem done = rig.run(item);
    EXPECT_EQ(done.status, status::kPaymentFailed);
    EXPECT_EQ(done.progress, 0.75);
    EXPECT_EQ(journal.rows(item.id)[2], (Row{"转码中", 0.25})) << "upper-case video extension";
    EXPECT_TRUE(console.contains("任务 " + std::to_string(item.id) + " 错误信息: 服务器繁忙"));
    EXPECT_EQ(rig.client.users.getUser()->preamount, 19);
    std::vector<std::string> paths;
    for (const auto& request : stub.requests())
        paths.push_back(request.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/clients/postdata.php", "/api/dssrtkoufee",
                                               "/clients/starttask.php"}));
    EXPECT_TRUE(temporaryFiles().empty());
}

TEST_F(Pipeline, UnreachableServerFailsTheJobAndKeepsTheConvertedAudio) {
    Rig rig(testing::closedURL());
    quillora::testing::writeTestFile(files / "plain.txt", joined(kLines));
    const KestruneItem item =
        rig.add(files / "plain.txt", copyOf(recordings().video, "talk.mp4"), "wav");
    const KestruneItem done = rig.run(item);
    EXPECT_EQ(done.status, status::kFailed);
    EXPECT_EQ(done.progress, 0);
    const std::string prefix = "任务 " + std::to_string(item.id) + " 错误信息: 上传失败: ";
    const auto lines = console.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
    const auto kept = temporaryFiles();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].extension(), ".wav");
}

TEST_F(Pipeline, CancellationBeforeTheUploadStopsTheJob) {
    TestPlatform platform;
    const auto account = platform.accounts().addAccount(testing::aliceAccount(kPassword, 20));
    Rig rig(platform.baseURL(), account.id);
    quillora::testing::writeTestFile(files / "plain.txt", joined(kLines));
    // Everything stopped, or just this record's job (a deleted row) while the next one goes on.
    Journal journal(rig.client.database);
    for (const bool everything : {true, false}) {
        SCOPED_TRACE(everything ? "cancelAllTasks" : "cancelTask");
        const KestruneItem item = rig.add(
            files / "plain.txt", copyOf(recordings().video, everything ? "a.mp4" : "c.mp4"));
        journal.onStatus = [&] {
            const auto rows = journal.rows(item.id);
            if (rows.empty() || rows.back() != Row{"处理中", 0.5}) return;
            everything ? rig.processor.cancelAllTasks() : rig.processor.cancelTask(item.id);
        };
        std::optional<KestruneItem> next;
        if (!everything) {
            next = rig.add(files / "plain.txt", recordings().audio);
            rig.processor.processTask(item);
        }

        const KestruneItem done = rig.run(next ? *next : item);
        journal.onStatus = nullptr;
        const KestruneItem cancelled = rig.reload(item.id);
        EXPECT_EQ(cancelled.status, status::kCancelled);
        EXPECT_EQ(cancelled.progress, 0);
        EXPECT_EQ(journal.rows(item.id).back(), (Row{"已取消", 0}));
        EXPECT_EQ(resultState(platform, item.taskid).substr(0, 3), "404") << "nothing uploaded";
        EXPECT_EQ(platform.accounts().findByName("alice")->balance, everything ? 20 : 19);
        if (next) {
            EXPECT_EQ(done.status, status::kProcessing) << "the next job started its task";
        }
        EXPECT_TRUE(temporaryFiles().empty());
    }

    // A job whose stop was requested before its first step touches nothing else.
    const KestruneItem other = rig.add(files / "plain.txt", copyOf(recordings().video, "b.mp4"));
    std::stop_source stopped;
    stopped.request_stop();
    rig.processor.runProcessingJob(other, stopped.get_token());
    EXPECT_EQ(journal.rows(other.id), (std::vector<Row>{{"待处理", 0}, {"已取消", 0}}));
    EXPECT_EQ(rig.reload(other.id).textlost, "0");
}

TEST_F(Pipeline, FailuresBeforeTheUploadEndTheJob) {
    Rig rig(testing::closedURL());
    quillora::testing::writeTestFile(files / "plain.txt", joined(kLines));
    quillora::testing::writeTestFile(files / "blank.txt", "\n \n\t\n");
    quillora::testing::writeTestFile(files / "notes.pages", joined(kLines));
    const fs::path video = copyOf(recordings().video, "talk.mov");
    const struct {
        const char* script;
        fs::path recording;
        const char* format;
        const char* reason;
        size_t rows;  // status rows up to and including "处理失败"
    } cases[] = {
        {"notes.pages", files / "never-read.mp4", "m4a", "不支持的文本格式", 2},
        {"blank.txt", video, "m4a", "文本处理失败", 2},
        {"plain.txt", video, "mp3", "媒体转换失败", 4},
        {"plain.txt", files / "missing.mp4", "m4a", "媒体转换失败", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script + std::string(" ") + c.format);
        Journal journal(rig.client.database);
        const KestruneItem item = rig.add(files / c.script, c.recording, c.format);
        const KestruneItem done = rig.run(item);
        EXPECT_EQ(done.status, status::kFailed);
        EXPECT_EQ(done.progress, 0);
        const auto rows = journal.rows(item.id);
        EXPECT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows.front(), (Row{"待处理", 0}));
        EXPECT_TRUE(console.contains("任务 " + std::to_string(item.id) + " 错误信息: " + c.reason));
        EXPECT_TRUE(console.contains(std::string("任务处理失败: ") + c.reason));
    }
    EXPECT_TRUE(temporaryFiles().empty());

    // Two requests for one record both run.
    const KestruneItem twice = rig.add(files / "notes.pages", video);
    rig.processor.processTask(twice);
    rig.run(twice);
    EXPECT_EQ(console.count("任务 " + std::to_string(twice.id) + " 错误信息: 不支持的文本格式"),
              2u);
}

TEST_F(Pipeline, MediaLengthIsWholeMinutesRoundedHalfAway) {
    const std::pair<int, double> lengths[] = {{29, 0}, {30, 1}, {89, 1}, {90, 2}};
    for (const auto& [seconds, minutes] : lengths) {
        const fs::path file = files / (std::to_string(seconds) + ".wav");
        ASSERT_TRUE(
            testing::runCommand("ffmpeg -nostdin -y -f lavfi -i anullsrc=r=8000:cl=mono -t " +
                                std::to_string(seconds) + " '" + file.string() + "'"));
        EXPECT_EQ(TaskProcessor::getMediaDuration(file), minutes) << seconds;
    }
    quillora::testing::writeTestFile(files / "words.m4a", "not media");
    EXPECT_EQ(TaskProcessor::getMediaDuration(files / "words.m4a"), 0);
    const auto lines = console.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("获取媒体时长失败: ", 0) == 0;
    }));
}

}  // namespace
}  // namespace quillora
