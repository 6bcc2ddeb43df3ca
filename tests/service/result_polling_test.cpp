#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "service/client_fixture.h"
#include "service/service_errors.h"
#include "service/stub_server.h"
#include "subtitles/srt_parser.h"
#include "text/script_codec.h"
#include "text/time_codes.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
using testing::Client;
using testing::StubServer;
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

// Uploads and starts a task on the platform and waits until its subtitle is ready.
std::string alignOnPlatform(TestPlatform& platform, Client& client, const std::string& taskid,
                            const std::string& script) {
    const fs::path audio =
        testing::makeTonePattern(platform.scratch() / (taskid + ".m4a"), 2, 1.0, 0.8);
    client.service.uploadFiles(script, audio, taskid);
    EXPECT_EQ(client.service.starttask(taskid).status, 200);
    return platform.waitForResult(taskid);
}

TEST(ServicePolling, FinishedPlainTaskIsWrittenBesideTheRecordingAndStored) {
    TestPlatform platform;
    Client client(platform.baseURL());
    const fs::path recording = platform.scratch() / "media" / "talk.final.mp4";
    fs::create_directories(recording.parent_path());
    KestruneItem task = processingTask(recording, "第一句，\n“第二句”");
    client.database.insertItem(task);
    const std::string body =
        alignOnPlatform(platform, client, task.taskid, "第一句砚19篁\n❤️第二句😎\n");
    ASSERT_EQ(body.rfind("1\n", 0), 0u) << body;

    UpdateCounter updates;
    ConsoleCapture console;
    const PollingReport report = client.service.runPollingPass();
    EXPECT_EQ(report.examined, 1);
    EXPECT_EQ(report.finished, 1);
    EXPECT_FALSE(report.error);
    EXPECT_TRUE(
        console.contains("srt data=" + platform.baseURL() + "/srt/" + task.taskid + ".srt "));

    const fs::path srtFile = platform.scratch() / "media" / "talk.final.srt";
    EXPECT_EQ(readFile(srtFile), adjustTimeGaps(addfuhao(body), 10.0));
    EXPECT_NE(readFile(srtFile).find("第一句，"), std::string::npos);
    const KestruneItem stored = reload(client, task.orderid);
    EXPECT_EQ(stored.status, status::kSucceeded);
    EXPECT_EQ(stored.srt, addemo(addfuhao(body)));
    EXPECT_EQ(stored.textlost, "0") << "two lines, two cues: nothing missing";
    EXPECT_EQ(updates.count, 1);

    // The record has left the polling set.
    EXPECT_EQ(client.service.runPollingPass().examined, 0);
}

TEST(ServicePolling, NameListTaskGetsTheMergedTextInFileAndColumn) {
    TestPlatform platform;
    Client client(platform.baseURL());
    const fs::path recording = platform.scratch() / "interview.mov";
    KestruneItem task = processingTask(recording, "你好\n再见");
    task.isrenmingtiao = 1;
    task.part1 = "张三：\n李四：";
    client.database.insertItem(task);
    const std::string body = alignOnPlatform(platform, client, task.taskid, "你好\n再见\n");
    ASSERT_EQ(body.rfind("1\n", 0), 0u) << body;

    EXPECT_EQ(client.service.runPollingPass().finished, 1);
    const std::string merged =
        adjustTimeGaps(SRTParser().merageText(addfuhao(body), task.part1), 10.0);
    EXPECT_NE(merged.find("张三："), std::string::npos);
    EXPECT_EQ(readFile(platform.scratch() / "interview.srt"), merged);
    EXPECT_EQ(reload(client, task.orderid).srt, merged);
}

TEST(ServicePolling, UnfinishedResultsLeaveTheRecordAlone) {
    TestPlatform platform;
    Client client(platform.baseURL());
    KestruneItem task = processingTask(platform.scratch() / "a.mp4", "x");
    client.database.insertItem(task);
    testing::writeTestFile(platform.scratch() / "a.wav", "RIFF");
    client.service.uploadFiles("x\n", platform.scratch() / "a.wav", task.taskid);  // not started
    const KestruneItem before = reload(client, task.orderid);
    const PollingReport report = client.service.runPollingPass();
    EXPECT_EQ(report.pending, 1);
    EXPECT_FALSE(report.error);
    EXPECT_EQ(platform.waitForResult(task.taskid, std::chrono::seconds(1)), "steps/0");
    EXPECT_EQ(reload(client, task.orderid), before);
    EXPECT_FALSE(fs::exists(platform.scratch() / "a.srt"));
}

TEST(ServicePolling, CrLfAfterTheFirstNumberIsNotAFinishedResult) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    KestruneItem task = processingTask(dir / "a.mp4", "x");
    client.database.insertItem(task);
    stub.reply(200, "1\r\n00:00:00,000 --> 00:00:01,000\r\nx\r\n\r\n", "text/plain");
    EXPECT_EQ(client.service.runPollingPass().pending, 1);
    EXPECT_EQ(client.service.runPollingPass().pending, 1) << "fetched again on the next pass";
    EXPECT_EQ(stub.requests().size(), 2u);
    EXPECT_EQ(reload(client, task.orderid).status, status::kProcessing);
    EXPECT_FALSE(fs::exists(dir / "a.srt"));
}

TEST(ServicePolling, AnErrorEndsThePass) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    const KestruneItem first = processingTask(dir / "a.mp4", "x");
    const KestruneItem second = processingTask(dir / "b.mp4", "x");
    client.database.insertItem(first);
    client.database.insertItem(second);
    stub.reply(404, "not here", "text/plain");
    ConsoleCapture console;
    const PollingReport report = client.service.runPollingPass();
    EXPECT_EQ(report.error, "服务器错误: unknown404");
    EXPECT_TRUE(console.contains("检查新订单失败: 服务器错误: unknown404"));
    ASSERT_EQ(stub.requests().size(), 1u);
    EXPECT_EQ(stub.requests()[0].path, "/srt/" + first.taskid + ".srt");

    stub.reply(200, std::string("1\n\xff\xfe", 4), "text/plain");
    EXPECT_EQ(client.service.runPollingPass().error, "无效的服务器响应") << "not UTF-8";
}

TEST(ServicePolling, MissingLinesAreCountedAgainstTheScript) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    std::string script;
    for (int i = 1; i <= 10; ++i)
        script += (i > 1 ? "\n" : "") + std::string("line");
    std::string srt;
    for (int i = 1; i <= 10; ++i) {
        srt += std::to_string(i) + "\n00:00:0" + std::to_string(i - 1) + ",000 --> 00:00:0" +
               std::to_string(i - 1) + ",500\nline\n\n";
    }
    const KestruneItem complete = processingTask(dir / "complete.mp4", script);
    client.database.insertItem(complete);
    stub.reply(200, srt, "text/plain");
    EXPECT_EQ(client.service.runPollingPass().finished, 1);
    EXPECT_EQ(reload(client, complete.orderid).textlost, "0");

    const KestruneItem lossy = processingTask(dir / "lossy.mp4", script);
    client.database.insertItem(lossy);
    const std::string eightCues = srt.substr(0, srt.find("9\n"));
    stub.reply(200, eightCues, "text/plain");
    UpdateCounter updates;
    EXPECT_EQ(client.service.runPollingPass().finished, 1);
    EXPECT_EQ(reload(client, lossy.orderid).textlost, "10:丢失2句");
    EXPECT_EQ(updates.count, 2);
}

TEST(ServicePolling, AWriteFailureKeepsTheRecordProcessing) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    const KestruneItem task = processingTask(dir / "gone" / "a.mp4", "x");
    client.database.insertItem(task);
    stub.reply(200, "1\n00:00:00,000 --> 00:00:01,000\nx\n\n", "text/plain");
    const PollingReport report = client.service.runPollingPass();
    EXPECT_TRUE(report.error);
    EXPECT_EQ(reload(client, task.orderid).status, status::kProcessing);
}

TEST(ServicePolling, TimerWaitsAnIntervalAndNeverOverlapsPasses) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    client.database.insertItem(processingTask(dir / "a.mp4", "x"));
    stub.reply(200, "steps/1", "text/plain");
    stub.delay(std::chrono::milliseconds(3000));

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

TEST(ServicePolling, RecordingPathGetsItsLastExtensionReplaced) {
    EXPECT_EQ(srtPathForRecording("/a/b/talk.mp4"), fs::path("/a/b/talk.srt"));
    EXPECT_EQ(srtPathForRecording("/a/b/talk.v2.mov"), fs::path("/a/b/talk.v2.srt"));
    EXPECT_EQ(srtPathForRecording("/a/b/talk"), fs::path("/a/b/talk.srt"));
}

}  // namespace
}  // namespace quillora
