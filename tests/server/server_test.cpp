#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "platform/digest.h"
#include "platform/files.h"
#include "server/platform_credentials.h"
#include "server/test_platform.h"

namespace quillora::server {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using quillora::testing::TestPlatform;

std::string today() {
    return dailyToken(std::chrono::system_clock::now());
}

std::string query(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string text;
    for (const auto& [name, value] : items) {
        text +=
            (text.empty() ? "?" : "&") + name + "=" + httplib::detail::encode_query_param(value);
    }
    return text;
}

json getJson(TestPlatform& platform, const std::string& path) {
    auto reply = platform.client().Get(path.c_str());
    EXPECT_TRUE(reply);
    if (!reply) return json();
    EXPECT_EQ(reply->status, 200) << path << " -> " << reply->body;
    return json::parse(reply->body);
}

json login(TestPlatform& platform, const std::string& user, const std::string& password,
           const std::string& token = today(), const std::string& opPassword = kOperatorPassword) {
    return getJson(platform, "/api/dssrtuserlogin" + query({{"username", kOperatorAccount},
                                                            {"password", opPassword},
                                                            {"token", token},
                                                            {"srtusername", user},
                                                            {"srtpassword", password}}));
}

json charge(TestPlatform& platform, std::int64_t id, const std::string& password,
            const std::string& amount, const std::string& token = today()) {
    return getJson(platform, "/api/dssrtkoufee" + query({{"username", kOperatorAccount},
                                                         {"password", kOperatorPassword},
                                                         {"token", token},
                                                         {"srtuserid", std::to_string(id)},
                                                         {"amount", amount},
                                                         {"srtpassword", password}}));
}

httplib::Result upload(TestPlatform& platform, const std::string& taskid, const std::string& script,
                       const std::string& audio, const std::string& token = expectedUploadToken()) {
    httplib::MultipartFormDataItems items = {
        {"token", token, "", ""},
        {"username", kUploadAccount, "", ""},
        {"taskid", taskid, "", ""},
        {"file1", script, taskid + ".txt", "application/octet-stream"},
        {"file2", audio, taskid + ".mp3", "application/octet-stream"},
    };
    return platform.client().Post("/clients/postdata.php", items);
}

json start(TestPlatform& platform, const std::string& taskid,
           const std::string& token = expectedStartToken()) {
    return getJson(platform, "/clients/starttask.php" + query({{"username", kOperatorAccount},
                                                               {"token", token},
                                                               {"taskid", taskid}}));
}

NewAccount alice(double balance = 20) {
    NewAccount account;
    account.name = "alice";
    account.password = "s3cret&=+ 密码";
    account.balance = balance;
    account.phone = "13900000001";
    account.zimu = 2.5;
    account.shijianzhou = 1.5;
    account.paytype = 1;
    return account;
}

// ---- sign-in ----------------------------------------------------------------------------------

TEST(ServerLogin, AcceptsTheUserAndReturnsTheAccountFields) {
    TestPlatform platform;
    const Account added = platform.accounts().addAccount(alice());
    const json reply = login(platform, "alice", alice().password);
    EXPECT_EQ(reply["success"], true);
    EXPECT_EQ(reply["user"]["userid"], added.id);
    EXPECT_DOUBLE_EQ(reply["user"]["preamount"].get<double>(), 20.0);
    EXPECT_EQ(reply["user"]["phone"], "13900000001");
    EXPECT_DOUBLE_EQ(reply["user"]["zimu"].get<double>(), 2.5);
    EXPECT_DOUBLE_EQ(reply["user"]["shijianzhou"].get<double>(), 1.5);
    EXPECT_EQ(reply["user"]["paytype"], 1);
}

TEST(ServerLogin, RejectsWrongPasswordUnknownUserOperatorAndToken) {
    TestPlatform platform;
    platform.accounts().addAccount(alice());
    for (const json& reply : {login(platform, "alice", "wrong"), login(platform, "bob", "x")}) {
        EXPECT_EQ(reply["success"], false);
        EXPECT_EQ(reply["msg"], "用户名或密码错误");
        EXPECT_FALSE(reply.contains("user"));
    }
    const json badOperator = login(platform, "alice", alice().password, today(), "000000");
    EXPECT_EQ(badOperator["success"], false);
    EXPECT_TRUE(badOperator["msg"].is_string());
    const json badToken = login(platform, "alice", alice().password, std::string(64, 'a'));
    EXPECT_EQ(badToken["success"], false);
    EXPECT_TRUE(badToken["msg"].is_string());
}

TEST(ServerLogin, AcceptsNeighbouringDaysTokensOnly) {
    TestPlatform platform;
    platform.accounts().addAccount(alice());
    const auto now = std::chrono::system_clock::now();
    for (int days : {-1, 1}) {
        EXPECT_EQ(login(platform, "alice", alice().password, dailyToken(now, days))["success"],
                  true);
    }
    for (int days : {-2, 2, 30}) {
        EXPECT_EQ(login(platform, "alice", alice().password, dailyToken(now, days))["success"],
                  false);
    }
}

TEST(ServerAccounts, KeepsPasswordsOnlyAsSaltedHashes) {
    TestPlatform platform;
    platform.accounts().addAccount(alice());
    NewAccount same = alice();
    same.name = "alice2";
    platform.accounts().addAccount(same);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((platform.dataDirectory() / "platform.db").c_str(), &db), SQLITE_OK);
    std::vector<std::string> hashes;
    sqlite3_exec(
        db, "SELECT password_hash FROM accounts;",
        [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(values[0]);
            return 0;
        },
        &hashes, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(hashes.size(), 2u);
    EXPECT_NE(hashes[0], hashes[1]) << "same password, different salt";
    for (const auto& hash : hashes)
        EXPECT_EQ(hash.find(alice().password), std::string::npos);
    EXPECT_THROW(platform.accounts().addAccount(alice()), AccountStoreError) << "duplicate name";
}

TEST(ServerAccounts, TopUpAddsToTheBalanceAndRefusesUnknownNames) {
    TestPlatform platform;
    platform.accounts().addAccount(alice(1.25));
    EXPECT_DOUBLE_EQ(platform.accounts().topUp("alice", 2.5).balance, 3.75);
    EXPECT_THROW(platform.accounts().topUp("nobody", 1), AccountStoreError);
    EXPECT_THROW(platform.accounts().topUp("alice", -1), AccountStoreError);
}

// ---- charging ---------------------------------------------------------------------------------

TEST(ServerCharge, ChargesWholeMinutesAndRefusesWhatTheBalanceDoesNotCover) {
    TestPlatform platform;
    const Account added = platform.accounts().addAccount(alice(5));
    const json first = charge(platform, added.id, alice().password, "3.0");
    EXPECT_EQ(first["code"], 200);
    EXPECT_EQ(first["data"]["user_id"], std::to_string(added.id));
    EXPECT_DOUBLE_EQ(first["data"]["before_amount"].get<double>(), 5);
    EXPECT_DOUBLE_EQ(first["data"]["deduct_amount"].get<double>(), 3);
    EXPECT_DOUBLE_EQ(first["data"]["after_amount"].get<double>(), 2);
    const json refused = charge(platform, added.id, alice().password, "3.0");
    EXPECT_EQ(refused["code"], 400);
    EXPECT_EQ(refused["msg"], "余额不足");
    EXPECT_DOUBLE_EQ(platform.accounts().findByName("alice")->balance, 2);
    EXPECT_EQ(platform.accounts().ledgerCount(added.id), 1);
}

TEST(ServerCharge, RejectsBadCredentialsTokensAndAmounts) {
    TestPlatform platform;
    const Account added = platform.accounts().addAccount(alice(5));
    EXPECT_EQ(charge(platform, added.id, "wrong", "1.0")["msg"], "用户名或密码错误");
    EXPECT_EQ(charge(platform, added.id + 7, alice().password, "1.0")["msg"], "用户名或密码错误");
    EXPECT_NE(charge(platform, added.id, alice().password, "1.0", "bad")["code"], 200);
    for (const std::string amount : {"1.5", "-1", "abc", "", "nan", "1e400"}) {
        EXPECT_EQ(charge(platform, added.id, alice().password, amount)["code"], 400) << amount;
    }
    EXPECT_DOUBLE_EQ(platform.accounts().findByName("alice")->balance, 5);
    EXPECT_EQ(platform.accounts().ledgerCount(added.id), 0);
}

TEST(ServerCharge, ConcurrentChargesNeverSpendTheBalanceTwice) {
    TestPlatform platform;
    const Account added = platform.accounts().addAccount(alice(10));
    std::atomic<int> succeeded{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([&] {
            const json reply = charge(platform, added.id, alice().password, "1.0");
            if (reply["code"] == 200) ++succeeded;
            if (reply["code"] == 400 && reply["msg"] == "余额不足") ++refused;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(succeeded, 10);
    EXPECT_EQ(refused, 10);
    EXPECT_DOUBLE_EQ(platform.accounts().findByName("alice")->balance, 0);
    EXPECT_EQ(platform.accounts().ledgerCount(added.id), 10);
}

// ---- upload, start, results ------------------------------------------------------------------

TEST(ServerUpload, StoresBothFilesOfAValidUpload) {
    TestPlatform platform;
    const std::string audio("\x00\x01\xff binary", 10);
    auto reply = upload(platform, "T1", "第一行\n第二行\n", audio);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_TRUE(json::parse(reply->body).is_object());
    EXPECT_EQ(readFile(platform.server().taskDirectory("T1") / "script.txt"), "第一行\n第二行\n");
    EXPECT_EQ(readFile(platform.server().taskDirectory("T1") / "audio.bin"), audio);
    EXPECT_EQ(platform.waitForResult("T1", std::chrono::seconds(1)), "steps/0");
}

TEST(ServerUpload, RefusesBadTokensAndTaskIdsWithAJsonMessage) {
    TestPlatform platform;
    auto badToken = upload(platform, "T1", "a", "b", std::string(32, '0'));
    ASSERT_TRUE(badToken);
    EXPECT_EQ(badToken->status, 403);
    EXPECT_TRUE(json::parse(badToken->body)["message"].is_string());
    for (const std::string& taskid : std::vector<std::string>{
             "../x", "..", "", "a/b", "a.b", "a b", std::string(65, 'a'), "%2e%2e", "名字"}) {
        auto reply = upload(platform, taskid, "a", "b");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 400) << taskid;
        EXPECT_TRUE(json::parse(reply->body)["message"].is_string()) << taskid;
    }
    EXPECT_FALSE(fs::exists(platform.dataDirectory() / "x"));
    EXPECT_TRUE(fs::is_empty(platform.dataDirectory() / "tasks"));
    EXPECT_TRUE(fs::is_empty(platform.dataDirectory() / "incoming")) << "staging cleaned up";
    auto longest = upload(platform, std::string(64, 'a') + "", "a", "b");
    EXPECT_EQ(longest->status, 200);
}

TEST(ServerUpload, OversizeUploadGetsAClearJsonError) {
    server::ServerConfig config;
    config.maxUploadBytes = 4096;
    TestPlatform platform(config);
    auto reply = upload(platform, "Big", "script", std::string(8192, 'x'));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 413);
    const json body = json::parse(reply->body);
    EXPECT_NE(body["message"].get<std::string>().find("4096"), std::string::npos);
    EXPECT_FALSE(fs::exists(platform.server().taskDirectory("Big")));
    EXPECT_EQ(upload(platform, "Small", "script", std::string(100, 'x'))->status, 200);
}

TEST(ServerResults, RejectsHostilePathsAndAnswers404ForUnknownTasks) {
    TestPlatform platform;
    for (const char* path :
         {"/srt/..%2Fx.srt", "/srt/..%2F..%2Fplatform.db%00.srt", "/srt/a%2Fb.srt"}) {
        auto reply = platform.client().Get(path);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 400) << path;
        EXPECT_TRUE(json::parse(reply->body)["message"].is_string());
    }
    auto missing = platform.client().Get("/srt/Nope.srt");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST(ServerStart, ChecksTokenAndTaskAndQueuesKnownTasks) {
    TestPlatform platform;
    EXPECT_EQ(start(platform, "T1", "bad")["status"], 403);
    EXPECT_EQ(start(platform, "../x")["status"], 400);
    const json unknown = start(platform, "Unknown");
    EXPECT_EQ(unknown["status"], 404);
    EXPECT_TRUE(unknown["message"].is_string());
    ASSERT_EQ(upload(platform, "T1", "a\n", "not audio at all")->status, 200);
    const json started = start(platform, "T1");
    EXPECT_EQ(started["status"], 200);
    EXPECT_TRUE(started["message"].is_string());
    // Unreadable audio ends in a failure reason, never in something that looks like an SRT.
    const std::string result = platform.waitForResult("T1");
    EXPECT_EQ(result.rfind("failed/", 0), 0u) << result;
}

// An aligner that holds each task until the test lets it go, to observe the queue states.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
};

class GatedAligner : public Aligner {
  public:
    explicit GatedAligner(Gate& gate) : gate_(gate) {}
    std::vector<TimeRange> align(const fs::path&, const std::vector<std::string>& lines,
                                 std::stop_token) override {
        std::unique_lock lock(gate_.mutex);
        ++gate_.entered;
        gate_.changed.notify_all();
        gate_.changed.wait(lock, [&] { return gate_.open; });
        std::vector<TimeRange> ranges;
        for (size_t i = 0; i < lines.size(); ++i)
            ranges.push_back({i * 1.0, i * 1.0 + 0.5});
        return ranges;
    }

  private:
    Gate& gate_;
};

TEST(ServerResults, ReportStepsWhileQueuedOrAligningThenTheSrt) {
    Gate gate;
    server::ServerConfig config;
    config.alignerFactory = [&gate] { return std::make_unique<GatedAligner>(gate); };
    TestPlatform platform(config);
    ASSERT_EQ(upload(platform, "A", "一砚19篁\r\n\r\n二\n", "x")->status, 200);
    ASSERT_EQ(upload(platform, "B", "三\n", "x")->status, 200);
    ASSERT_EQ(start(platform, "A")["status"], 200);
    ASSERT_EQ(start(platform, "B")["status"], 200);
    {
        std::unique_lock lock(gate.mutex);
        gate.changed.wait(lock, [&] { return gate.entered == 1; });
    }
    EXPECT_EQ(platform.client().Get("/srt/A.srt")->body, "steps/2");
    EXPECT_EQ(platform.client().Get("/srt/B.srt")->body, "steps/1");
    EXPECT_EQ(upload(platform, "A", "x", "x")->status, 409) << "no replacing a running task";
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
        gate.changed.notify_all();
    }
    EXPECT_EQ(platform.waitForResult("A"),
              "1\n00:00:00,000 --> 00:00:00,500\n一砚19篁\n\n"
              "2\n00:00:01,000 --> 00:00:01,500\n二\n\n");
    EXPECT_EQ(platform.waitForResult("B"), "1\n00:00:00,000 --> 00:00:00,500\n三\n\n");
}

TEST(ServerResults, StartedTasksSurviveARestart) {
    quillora::testing::TempDir dir;
    Gate gate;  // never opened: the first server stops while the task waits
    {
        server::ServerConfig config;
        config.dataDirectory = dir / "data";
        config.alignerFactory = [&gate] { return std::make_unique<GatedAligner>(gate); };
        PlatformServer first(config);
        fs::create_directories(first.taskDirectory("R"));
        writeFileAtomically(first.taskDirectory("R") / "script.txt", "只有一行\n");
        writeFileAtomically(first.taskDirectory("R") / "audio.bin", "x");
        writeFileAtomically(first.taskDirectory("R") / "started", "");
    }
    Gate openGate;
    openGate.open = true;
    server::ServerConfig config;
    config.dataDirectory = dir / "data";
    config.alignerFactory = [&openGate] { return std::make_unique<GatedAligner>(openGate); };
    PlatformServer second(config);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(second.taskDirectory("R") / "result.srt") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(readFile(second.taskDirectory("R") / "result.srt"),
              "1\n00:00:00,000 --> 00:00:00,500\n只有一行\n\n");
}

TEST(ServerResults, AlignsARealRecordingEndToEnd) {
    TestPlatform platform;
    const fs::path audio =
        quillora::testing::makeTonePattern(platform.scratch() / "tones.m4a", 4, 1.2, 0.8);
    ASSERT_EQ(upload(platform, "Tones", "一二三四\n五六七八\n九十百千\n甲乙丙丁\n", readFile(audio))
                  ->status,
              200);
    ASSERT_EQ(start(platform, "Tones")["status"], 200);
    const std::string srt = platform.waitForResult("Tones");
    ASSERT_EQ(srt.rfind("1\n", 0), 0u) << srt;
    // Each line should start within 0.15 s of its tone (0, 2, 4, 6 s).
    std::vector<double> starts;
    for (size_t at = srt.find(" --> "); at != std::string::npos; at = srt.find(" --> ", at + 1)) {
        const std::string code = srt.substr(at - 12, 12);
        starts.push_back(std::stoi(code.substr(0, 2)) * 3600 + std::stoi(code.substr(3, 2)) * 60 +
                         std::stoi(code.substr(6, 2)) + std::stoi(code.substr(9, 3)) / 1000.0);
    }
    ASSERT_EQ(starts.size(), 4u) << srt;
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(starts[i], 2.0 * i, 0.15) << srt;
    EXPECT_NE(srt.find("\n五六七八\n"), std::string::npos);
}

// ---- pieces -----------------------------------------------------------------------------------

TEST(ServerPieces, ScriptLinesKeepTextAndSkipBlankLines) {
    EXPECT_EQ(scriptLines("a\r\n\r\n  \nb c\n\tx\t\n"),
              (std::vector<std::string>{"a", "b c", "\tx\t"}));
    EXPECT_TRUE(scriptLines("").empty());
    EXPECT_TRUE(scriptLines("\n\n").empty());
}

TEST(ServerPieces, SrtTimesAreTruncatedToMilliseconds) {
    EXPECT_EQ(formatSrt({"x"}, {{3661.0019, 3661.9999}}),
              "1\n01:01:01,001 --> 01:01:01,999\nx\n\n");
}

TEST(ServerPieces, TaskIdsAreLimitedToSafeCharacters) {
    EXPECT_TRUE(isValidTaskId("Ab9_-"));
    EXPECT_TRUE(isValidTaskId(std::string(64, 'z')));
    EXPECT_FALSE(isValidTaskId(std::string(65, 'z')));
    for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", "a:b", "a\nb"}) {
        EXPECT_FALSE(isValidTaskId(bad)) << bad;
    }
}

TEST(ServerAligner, LineWeightCountsSpokenCharactersOnly) {
    EXPECT_EQ(lineWeight("你好砚19篁世界砚20篁"), 4);
    EXPECT_EQ(lineWeight("ab 12"), 4);
    EXPECT_EQ(lineWeight("砚0篁"), 1) << "never zero";
}

TEST(ServerAligner, BoundariesSnapToTheNearestPauses) {
    SpeechMap speech;
    speech.speechStart = 1.0;
    speech.speechEnd = 11.0;
    speech.pauses = {{2.0, 2.5}, {4.9, 5.3}, {8.0, 8.2}};
    // Equal weights put the boundary near 5.0 speaking-seconds: the middle pause wins.
    const auto halves = distributeLines(speech, {1, 1});
    ASSERT_EQ(halves.size(), 2u);
    EXPECT_DOUBLE_EQ(halves[0].start, 1.0);
    EXPECT_DOUBLE_EQ(halves[0].end, 4.9);
    EXPECT_DOUBLE_EQ(halves[1].start, 5.3);
    EXPECT_DOUBLE_EQ(halves[1].end, 11.0);
    // More lines than pauses: every range stays ordered and inside the speech.
    const auto many = distributeLines(speech, {1, 1, 1, 1, 1, 1, 1});
    ASSERT_EQ(many.size(), 7u);
    for (size_t i = 0; i < many.size(); ++i) {
        EXPECT_LE(many[i].start, many[i].end);
        if (i > 0) {
            EXPECT_LE(many[i - 1].end, many[i].start);
        }
        EXPECT_GE(many[i].start, 1.0);
        EXPECT_LE(many[i].end, 11.0);
    }
}

TEST(ServerAligner, SilenceIsAnAlignmentFailure) {
    std::vector<float> silence(16000 * 2, 0.0f);
    EXPECT_THROW(findSpeech(silence, 16000), AlignmentError);
}

// The signal thread and the serving thread both stop the server at shutdown.
TEST(ServerLifecycle, ConcurrentStopsFromSeveralThreadsAllReturn) {
    for (int round = 0; round < 20; ++round) {
        quillora::testing::TestPlatform platform;
        std::vector<std::thread> stoppers;
        for (int i = 0; i < 3; ++i)
            stoppers.emplace_back([&] { platform.server().stop(); });
        for (auto& stopper : stoppers)
            stopper.join();
    }
}

}  // namespace
}  // namespace quillora::server
