#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "service/client_fixture.h"
#include "service/service_errors.h"
#include "subtitles/srt_parser.h"
#include "text/script_codec.h"
#include "text/time_codes.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
using testing::Client;
using testing::TestPlatform;

// Counts databaseUpdated posts while alive.
struct UpdateCounter {
    std::atomic<int> count{0};
    NotificationCenter::Token token;
    UpdateCounter()
        : token(NotificationCenter::shared().subscribe(notification::kDatabaseUpdated,
                                                       [this](const auto&) { ++count; })) {}
    ~UpdateCounter() { NotificationCenter::shared().unsubscribe(token); }
};

struct ServicePollingReplies : testing::StubClientTest {};

KestruneItem processingTask(const fs::path& recording, const std::string& part2) {
    KestruneItem item = KestruneItem::newTask("/scripts/talk.txt", recording.string());
    item.status = status::kProcessing;
    item.progress = 0.75;
    item.part2 = part2;
    return item;
}

KestruneItem reload(Client& client, const std::string& orderid) {
    for (const auto& item : client.database.getAllItems()) {
        if (item.orderid == orderid) return item;
    }
    throw std::runtime_error("record vanished");
}

TEST(ServicePolling, FinishedPlainAndNameListTasksAreWrittenBesideTheRecordingAndStored) {
    TestPlatform platform;
    Client client(platform.baseURL());
    const fs::path recording = platform.scratch() / "media" / "talk.final.mp4";
    fs::create_directories(recording.parent_path());
    const KestruneItem plain = processingTask(recording, "第一句，\n“第二句”");
    KestruneItem names = processingTask(platform.scratch() / "interview.mov", "你好\n再见");
    names.isrenmingtiao = 1;
    names.part1 = "张三：\n李四：";
    for (const auto& [task, script] :
         {std::pair{plain, "第一句砚19篁\n❤️第二句😎\n"}, {names, "你好\n再见\n"}}) {
        client.database.insertItem(task);
        const fs::path audio =
            testing::makeTonePattern(platform.scratch() / (task.taskid + ".m4a"), 2, 1.0, 0.8);
        client.service.uploadFiles(script, audio, task.taskid);
        ASSERT_EQ(client.service.starttask(task.taskid).status, 200);
    }
    const std::string plainBody = platform.waitForResult(plain.taskid);
    const std::string namesBody = platform.waitForResult(names.taskid);
    ASSERT_EQ(plainBody.rfind("1\n", 0), 0u) << plainBody;
    ASSERT_EQ(namesBody.rfind("1\n", 0), 0u) << namesBody;

    UpdateCounter updates;
    ConsoleCapture console;
    const PollingReport report = client.service.runPollingPass();
    EXPECT_EQ(report.examined, 2);
    EXPECT_EQ(report.finished, 2);
    EXPECT_FALSE(report.error);
    EXPECT_TRUE(
        console.contains("srt data=" + platform.baseURL() + "/srt/" + plain.taskid + ".srt "));
    EXPECT_EQ(updates.count, 2);

    const std::string plainFile = readFile(platform.scratch() / "media" / "talk.final.srt");
    EXPECT_EQ(plainFile, adjustTimeGaps(addfuhao(plainBody), 10.0));
    EXPECT_NE(plainFile.find("第一句，"), std::string::npos);
    const KestruneItem stored = reload(client, plain.orderid);
    EXPECT_EQ(stored.status, status::kSucceeded);
    EXPECT_EQ(stored.srt, addemo(addfuhao(plainBody)));
    EXPECT_EQ(stored.textlost, "0") << "two lines, two cues: nothing missing";

    // A name-list task gets the speaker names merged in, in the file and in the record.
    const std::string merged =
        adjustTimeGaps(SRTParser().merageText(addfuhao(namesBody), names.part1), 10.0);
    EXPECT_NE(merged.find("张三："), std::string::npos);
    EXPECT_EQ(readFile(platform.scratch() / "interview.srt"), merged);
    EXPECT_EQ(reload(client, names.orderid).srt, merged);

    // Both records have left the polling set.
    EXPECT_EQ(client.service.runPollingPass().examined, 0);
}

// Results that are not finished, or cannot be written, leave the record processing and are
// fetched again on the next pass.
TEST_F(ServicePollingReplies, UnusableResultsLeaveTheRecordAlone) {
    struct Case {
        const char* what;
        std::string body;
        fs::path recording;
        bool error;
    };
    const Case cases[] = {
        {"still queued", "steps/1", dir / "a.mp4", false},
        {"CR LF after the first number", "1\r\n00:00:00,000 --> 00:00:01,000\r\nx\r\n\r\n",
         dir / "b.mp4", false},
        {"folder gone, file cannot be written", "1\n00:00:00,000 --> 00:00:01,000\nx\n\n",
         dir / "gone" / "c.mp4", true},
    };
    for (const Case& c : cases) {
        const KestruneItem task = processingTask(c.recording, "x");
        client.database.insertItem(task);
        const KestruneItem before = reload(client, task.orderid);
        stub.reply(200, c.body, "text/plain");
        for (int pass = 0; pass < 2; ++pass) {
            const PollingReport report = client.service.runPollingPass();
            EXPECT_EQ(report.pending, c.error ? 0 : 1) << c.what;
            EXPECT_EQ(static_cast<bool>(report.error), c.error) << c.what;
        }
        EXPECT_EQ(reload(client, task.orderid), before) << c.what;
        EXPECT_FALSE(fs::exists(srtPathForRecording(c.recording))) << c.what;
        client.database.deleteAllItems();
    }
    EXPECT_EQ(stub.requests().size(), 6u);
}

// A record whose result cannot be used is reported and skipped; it never holds back the records
// after it.
TEST_F(ServicePollingReplies, AFailingRecordIsSkippedAndTheRestFinish) {
    const KestruneItem missing = processingTask(dir / "a.mp4", "x");
    const KestruneItem poisoned = processingTask(dir / "b.mp4", "x");
    const KestruneItem good = processingTask(dir / "c.mp4", "x");
    for (const auto& task : {missing, poisoned, good})
        client.database.insertItem(task);
    stub.replyTo("/srt/" + missing.taskid + ".srt", 404, "not here");
    stub.replyTo("/srt/" + poisoned.taskid + ".srt", 200, std::string("1\n\xff\xfe", 4));
    stub.reply(200, "1\n00:00:00,000 --> 00:00:01,000\nx\n\n", "text/plain");
    ConsoleCapture console;
    const PollingReport report = client.service.runPollingPass();
    EXPECT_EQ(std::tuple(report.examined, report.finished, report.failed), std::tuple(3, 1, 2));
    EXPECT_EQ(report.error, "服务器错误: unknown404");
    EXPECT_TRUE(console.contains("检查新订单失败: 服务器错误: unknown404"));
    EXPECT_TRUE(console.contains("检查新订单失败: 无效的服务器响应")) << "not UTF-8";
    EXPECT_EQ(reload(client, good.orderid).status, status::kSucceeded);
    EXPECT_EQ(reload(client, poisoned.orderid).status, status::kProcessing);
    EXPECT_EQ(client.service.runPollingPass().examined, 2) << "the failed ones are tried again";
}

TEST_F(ServicePollingReplies, MissingLinesAreCountedAgainstTheScript) {
    std::string script = "line";
    std::string srt;
    for (int i = 0; i < 10; ++i) {
        if (i > 0) script += "\nline";
        srt += std::to_string(i + 1) + "\n00:00:0" + std::to_string(i) + ",000 --> 00:00:0" +
               std::to_string(i) + ",500\nline\n\n";
    }
    // A recording without an extension gets ".srt" appended.
    const KestruneItem complete = processingTask(dir / "complete", script);
    client.database.insertItem(complete);
    stub.reply(200, srt, "text/plain");
    EXPECT_EQ(client.service.runPollingPass().finished, 1);
    EXPECT_EQ(reload(client, complete.orderid).textlost, "0");
    EXPECT_TRUE(fs::exists(dir / "complete.srt"));

    const KestruneItem lossy = processingTask(dir / "lossy.mp4", script);
    client.database.insertItem(lossy);
    const std::string eightCues = srt.substr(0, srt.find("9\n"));
    stub.reply(200, eightCues, "text/plain");
    UpdateCounter updates;
    EXPECT_EQ(client.service.runPollingPass().finished, 1);
    EXPECT_EQ(reload(client, lossy.orderid).textlost, "10:丢失2句");
    EXPECT_EQ(updates.count, 2);
}

TEST_F(ServicePollingReplies, TimerWaitsAnIntervalAndNeverOverlapsPasses) {
    client.database.insertItem(processingTask(dir / "a.mp4", "x"));
    stub.reply(200, "steps/1", "text/plain", std::chrono::milliseconds(3000));

    client.service.startNewlyOrdersTimer(std::chrono::milliseconds(1500));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(stub.requests().empty()) << "no pass at once";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (stub.requests().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(stub.requests().size(), 1u);
    // The timer's pass is waiting on its slow download: another pass is skipped.
    EXPECT_TRUE(client.service.runPollingPass().skipped);
    client.service.stopNewlyOrdersTimer();
    const size_t afterStop = stub.requests().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(stub.requests().size(), afterStop) << "no passes after stop";
    EXPECT_FALSE(client.service.runPollingPass().skipped);
}

}  // namespace
}  // namespace quillora
