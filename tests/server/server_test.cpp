#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <latch>
#include <nlohmann/json.hpp>
#include <semaphore>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "contract/platform_contract.h"
#include "platform/console.h"
#include "platform/files.h"
#include "server/platform_credentials.h"
#include "server/spoken_signal.h"
#include "server/test_platform.h"

namespace quillora::server {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using quillora::testing::TestPlatform;

std::string today() {
    return contract::dailyToken(std::chrono::system_clock::now());
}

using QueryItems = std::vector<std::pair<std::string, std::string>>;

// GETs the path with the query items percent-encoded in order.
httplib::Result getRaw(TestPlatform& platform, const std::string& path, const QueryItems& items) {
    std::string target = path;
    for (const auto& [name, value] : items) {
        target +=
            (target == path ? "?" : "&") + name + "=" + httplib::detail::encode_query_param(value);
    }
    return platform.client().Get(target.c_str());
}

// The same, for a reply the platform must give with status 200 and a JSON body.
json getJson(TestPlatform& platform, const std::string& path, const QueryItems& items) {
    auto reply = getRaw(platform, path, items);
    if (!reply) {
        ADD_FAILURE() << "no reply to " << path;
        return json();
    }
    EXPECT_EQ(reply->status, 200) << path << " -> " << reply->body;
    return json::parse(reply->body);
}

QueryItems loginItems(const std::string& user, const std::string& password,
                      const std::string& token = today(),
                      const std::string& opPassword = contract::kOperatorPassword) {
    return {{"username", contract::kOperatorAccount},
            {"password", opPassword},
            {"token", token},
            {"srtusername", user},
            {"srtpassword", password}};
}

json login(TestPlatform& platform, const std::string& user, const std::string& password,
           const std::string& token = today(),
           const std::string& opPassword = contract::kOperatorPassword) {
    return getJson(platform, "/api/dssrtuserlogin", loginItems(user, password, token, opPassword));
}

QueryItems chargeItems(std::int64_t id, const std::string& password, const std::string& amount,
                       const std::string& token = today()) {
    return {{"username", contract::kOperatorAccount},
            {"password", contract::kOperatorPassword},
            {"token", token},
            {"srtuserid", std::to_string(id)},
            {"amount", amount},
            {"srtpassword", password}};
}

json charge(TestPlatform& platform, std::int64_t id, const std::string& password,
            const std::string& amount, const std::string& token = today()) {
    return getJson(platform, "/api/dssrtkoufee", chargeItems(id, password, amount, token));
}

httplib::Result upload(TestPlatform& platform, const std::string& taskid, const std::string& script,
                       const std::string& audio,
                       const std::string& token = contract::uploadToken()) {
    httplib::MultipartFormDataItems items = {
        {"token", token, "", ""},
        {"username", contract::kUploadAccount, "", ""},
        {"taskid", taskid, "", ""},
        {"file1", script, taskid + ".txt", "application/octet-stream"},
        {"file2", audio, taskid + ".mp3", "application/octet-stream"},
    };
    return platform.client().Post("/clients/postdata.php", items);
}

json start(TestPlatform& platform, const std::string& taskid,
           const std::string& token = contract::startToken()) {
    return getJson(
        platform, "/clients/starttask.php",
        {{"username", contract::kOperatorAccount}, {"token", token}, {"taskid", taskid}});
}

const std::string kAlicePassword = "s3cret&=+ 密码";

// The client suite signs in and charges against this server too and checks every field of the
// accepted replies; these tests cover what the server refuses.

TEST(ServerLogin, AcceptsTodaysOrANeighbouringDaysTokenAndRefusesTheRest) {
    TestPlatform platform;
    platform.accounts().addAccount(quillora::testing::aliceAccount(kAlicePassword));
    const auto now = std::chrono::system_clock::now();
    for (const auto& [days, accepted] :
         {std::pair{-2, false}, {-1, true}, {0, true}, {1, true}, {2, false}, {30, false}}) {
        EXPECT_EQ(
            login(platform, "alice", kAlicePassword, contract::dailyToken(now, days))["success"],
            accepted)
            << days;
    }
    for (const json& reply : {login(platform, "alice", "wrong"), login(platform, "bob", "x")}) {
        EXPECT_EQ(reply["success"], false);
        EXPECT_EQ(reply["msg"], "用户名或密码错误");
        EXPECT_FALSE(reply.contains("user"));
    }
    for (const json& reply : {login(platform, "alice", kAlicePassword, today(), "000000"),
                              login(platform, "alice", kAlicePassword, std::string(64, 'a'))}) {
        EXPECT_EQ(reply["success"], false);
        EXPECT_TRUE(reply["msg"].is_string());
    }
}

// ---- password guessing --------------------------------------------------------------------

TEST(ServerThrottle, FailuresPastTheFreeOnesLockForDoublingTimesThatAreForgotten) {
    using std::chrono::seconds;
    SignInThrottle::Clock::time_point now{};
    SignInThrottle throttle({2, seconds(10), seconds(40), seconds(600)},
                            {4, seconds(5), seconds(60), seconds(600)}, [&] { return now; });
    // Failures of one account from one address: two free, then 10, 20, 40, 40 s.
    for (const long long expected : {0, 0, 10, 20, 40, 40}) {
        throttle.recordFailure("alice", "10.0.0.1");
        EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.9"), expected);
        now += seconds(expected);
    }
    EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.1"), 0) << "the lock has run out";
    // The address failed six times: past its own four free failures, whatever account it tries.
    throttle.recordFailure("bob", "10.0.0.1");
    EXPECT_EQ(throttle.retryAfterSeconds("carol", "10.0.0.1"), 20);
    EXPECT_EQ(throttle.retryAfterSeconds("carol", "10.0.0.2"), 0);
    // Success clears the account, not the address.
    throttle.recordSuccess("alice");
    now += seconds(20);
    throttle.recordFailure("alice", "10.0.0.3");
    EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.3"), 0);
    // Long quiet forgets everything.
    now += seconds(600);
    throttle.recordFailure("alice", "10.0.0.1");
    EXPECT_EQ(throttle.retryAfterSeconds("alice", "10.0.0.1"), 0);
}

TEST(ServerThrottle, GuessingSignInsAndChargesGets429AndTheRightPasswordWaits) {
    server::ServerConfig config;
    config.accountThrottle = {2, std::chrono::seconds(30), std::chrono::seconds(60),
                              std::chrono::seconds(600)};
    TestPlatform platform(config);
    const Account alice =
        platform.accounts().addAccount(quillora::testing::aliceAccount(kAlicePassword));
    ConsoleCapture log;
    for (int guess = 0; guess < 3; ++guess)
        EXPECT_EQ(login(platform, "alice", "guess" + std::to_string(guess))["status"], 403);
    const auto reply = getRaw(platform, "/api/dssrtuserlogin", loginItems("alice", kAlicePassword));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 429);
    EXPECT_EQ(reply->get_header_value("Retry-After"), "30");
    const json body = json::parse(reply->body);
    EXPECT_EQ(body["success"], false);
    EXPECT_EQ(body["msg"], "密码错误次数过多，请 30 秒后再试");
    EXPECT_EQ(login(platform, "bob", "x")["status"], 403) << "other accounts are not locked";

    for (int guess = 0; guess < 3; ++guess)
        EXPECT_EQ(charge(platform, alice.id, "guess", "1")["code"], 403);
    const auto refused =
        getRaw(platform, "/api/dssrtkoufee", chargeItems(alice.id, kAlicePassword, "1"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 429);
    EXPECT_EQ(json::parse(refused->body)["code"], 429);
    EXPECT_DOUBLE_EQ(platform.accounts().findByName("alice")->balance, 20) << "nothing charged";
    EXPECT_EQ(log.count("⚠️ 登录密码错误: alice 来自 127.0.0.1"), 3u);
    EXPECT_TRUE(log.contains("🚫 登录已限制: alice 来自 127.0.0.1，30 秒后可再试"));
}

TEST(ServerAccounts, NamesAreWholeTextWithoutControlsAndUnknownNamesCostTheSameWork) {
    TestPlatform platform;
    platform.accounts().addAccount(quillora::testing::aliceAccount(kAlicePassword));
    for (const std::string& name : {std::string("alice\0junk", 10), std::string("a\nb"),
                                    std::string("a\x1b[2J"), std::string("\xff\xfe")}) {
        NewAccount account = quillora::testing::aliceAccount("pw");
        account.name = name;
        EXPECT_THROW(platform.accounts().addAccount(account), AccountStoreError) << name;
        EXPECT_EQ(login(platform, name, kAlicePassword)["success"], false) << name;
    }
    // The quickest of several tries, the two names taking turns, so that a busy machine cannot
    // fake a difference. Without the decoy an unknown name took a twentieth of the time.
    using Duration = std::chrono::steady_clock::duration;
    Duration known = Duration::max();
    Duration unknown = Duration::max();
    for (int i = 0; i < 9; ++i) {
        for (const auto& [name, best] :
             {std::pair{"alice", &known}, std::pair{"nobody", &unknown}}) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(platform.accounts().authenticate(name, "wrong"));
            *best = std::min(*best, std::chrono::steady_clock::now() - start);
        }
    }
    EXPECT_GT(unknown, known / 4) << "unknown " << unknown.count() << ", known " << known.count();
}

TEST(ServerAccounts, SaltedHashesUniqueNamesAndTopUps) {
    TestPlatform platform;
    platform.accounts().addAccount(quillora::testing::aliceAccount(kAlicePassword, 1.25));
    NewAccount same = quillora::testing::aliceAccount(kAlicePassword);
    same.name = "alice2";
    platform.accounts().addAccount(same);
    EXPECT_THROW(platform.accounts().addAccount(same), AccountStoreError) << "duplicate name";
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
        EXPECT_EQ(hash.find(kAlicePassword), std::string::npos);

    EXPECT_DOUBLE_EQ(platform.accounts().topUp("alice", 2.5).balance, 3.75);
    EXPECT_THROW(platform.accounts().topUp("nobody", 1), AccountStoreError);
    EXPECT_THROW(platform.accounts().topUp("alice", -1), AccountStoreError);
}

// ---- charging ---------------------------------------------------------------------------------

TEST(ServerCharge, RefusesBadCredentialsTokensAmountsAndUncoveredCharges) {
    TestPlatform platform;
    const Account added =
        platform.accounts().addAccount(quillora::testing::aliceAccount(kAlicePassword, 5));
    EXPECT_EQ(charge(platform, added.id, "wrong", "1.0")["msg"], "用户名或密码错误");
    EXPECT_EQ(charge(platform, added.id + 7, kAlicePassword, "1.0")["msg"], "用户名或密码错误");
    EXPECT_NE(charge(platform, added.id, kAlicePassword, "1.0", "bad")["code"], 200);
    // Whole minutes only.
    for (const std::string amount : {"1.5", "-1", "abc", "", "nan", "1e400"}) {
        EXPECT_EQ(charge(platform, added.id, kAlicePassword, amount)["code"], 400) << amount;
    }
    EXPECT_EQ(charge(platform, added.id, kAlicePassword, "3.0")["code"], 200);
    const json refused = charge(platform, added.id, kAlicePassword, "3.0");
    EXPECT_EQ(refused["code"], 400);
    EXPECT_EQ(refused["msg"], "余额不足");
    EXPECT_DOUBLE_EQ(platform.accounts().findByName("alice")->balance, 2);
    EXPECT_EQ(platform.accounts().ledgerCount(added.id), 1);
}

TEST(ServerCharge, ConcurrentChargesNeverSpendTheBalanceTwice) {
    TestPlatform platform;
    const Account added =
        platform.accounts().addAccount(quillora::testing::aliceAccount(kAlicePassword, 10));
    std::atomic<int> succeeded{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([&] {
            const json reply = charge(platform, added.id, kAlicePassword, "1.0");
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

// Hostile or oversize input gets a JSON refusal and leaves nothing behind.
TEST(ServerRefusals, BadTokensTaskIdsPathsAndOversizeUploads) {
    server::ServerConfig config;
    config.maxUploadBytes = 4096;
    TestPlatform platform(config);
    const auto expectRefusal = [](const httplib::Result& reply, int status,
                                  const std::string& what) {
        ASSERT_TRUE(reply) << what;
        EXPECT_EQ(reply->status, status) << what;
        EXPECT_TRUE(json::parse(reply->body)["message"].is_string()) << what;
    };
    expectRefusal(upload(platform, "T1", "a", "b", std::string(32, '0')), 403, "upload token");
    for (const std::string& taskid :
         std::vector<std::string>{"../x", "..", ".", "", "a/b", "a\\b", "a:b", "a\nb", "a.b", "a b",
                                  std::string(65, 'a'), "%2e%2e", "名字"}) {
        expectRefusal(upload(platform, taskid, "a", "b"), 400, taskid);
    }
    const auto tooBig = upload(platform, "Big", "script", std::string(8192, 'x'));
    expectRefusal(tooBig, 413, "oversize");
    EXPECT_NE(json::parse(tooBig->body)["message"].get<std::string>().find("4096"),
              std::string::npos);
    for (const char* path :
         {"/srt/..%2Fx.srt", "/srt/..%2F..%2Fplatform.db%00.srt", "/srt/a%2Fb.srt"}) {
        expectRefusal(platform.client().Get(path), 400, path);
    }
    EXPECT_EQ(start(platform, "T1", "bad")["status"], 403);
    EXPECT_EQ(start(platform, "../x")["status"], 400);
    EXPECT_FALSE(fs::exists(platform.dataDirectory() / "x"));
    EXPECT_TRUE(fs::is_empty(platform.dataDirectory() / "tasks"));
    EXPECT_TRUE(fs::is_empty(platform.dataDirectory() / "incoming")) << "staging cleaned up";
    EXPECT_EQ(upload(platform, std::string(64, 'a'), "a", std::string(100, 'x'))->status, 200)
        << "longest id, small file";
}

TEST(ServerStart, QueuesKnownTasksAndAnswers404ForUnknownOnes) {
    TestPlatform platform;
    EXPECT_EQ(start(platform, "Unknown")["status"], 404);
    EXPECT_EQ(platform.client().Get("/srt/Nope.srt")->status, 404);
    ASSERT_EQ(upload(platform, "T1", "a\n", "not audio at all")->status, 200);
    EXPECT_EQ(platform.client().Get("/srt/T1.srt")->body, "steps/0") << "uploaded, not started";
    const json started = start(platform, "T1");
    EXPECT_EQ(started["status"], 200);
    EXPECT_TRUE(started["message"].is_string());
    // Unreadable audio ends in a failure reason, never in something that looks like an SRT.
    const std::string result = platform.waitForResult("T1");
    EXPECT_EQ(result.rfind("failed/", 0), 0u) << result;
}

// An aligner that holds each task until the test opens the gate, to observe the queue states.
struct Gate {
    std::counting_semaphore<> entered{0};
    std::latch open{1};
};

struct GatedAligner : Aligner {
    explicit GatedAligner(Gate& gate) : gate(gate) {}
    std::vector<LineTiming> align(const fs::path&, const std::vector<std::string>& lines,
                                  std::stop_token, const AlignmentProgress& progress) override {
        progress(1);
        gate.entered.release();
        gate.open.wait();
        std::vector<LineTiming> ranges;
        for (size_t i = 0; i < lines.size(); ++i)
            ranges.push_back({i * 1.0, i * 1.0 + 0.5});
        return ranges;
    }
    Gate& gate;
};

server::ServerConfig gatedConfig(Gate& gate, unsigned workers) {
    server::ServerConfig config;
    config.alignerFactory = [&gate] { return std::make_unique<GatedAligner>(gate); };
    config.alignWorkers = workers;
    return config;
}

fs::perms modeOf(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::all;
}

TEST(ServerRefusals, ScriptsThatAreNotUtf8AreRefusedAndNeverPublished) {
    Gate gate;
    gate.open.count_down();
    TestPlatform platform(gatedConfig(gate, 1));
    const auto refused = upload(platform, "Latin1", "caf\xe9\n", "x");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(json::parse(refused->body)["message"], "文稿不是有效的 UTF-8 文本");
    EXPECT_FALSE(fs::exists(platform.server().taskDirectory("Latin1")));

    // Files left on disk by an older server: a started script and a finished result.
    ASSERT_EQ(upload(platform, "Old", "一\n", "x")->status, 200);
    writeFileAtomically(platform.server().taskDirectory("Old") / "script.txt", "caf\xe9\n");
    ASSERT_EQ(start(platform, "Old")["status"], 200);
    EXPECT_EQ(platform.waitForResult("Old"), "failed/文稿不是有效的 UTF-8 文本");
    ASSERT_EQ(upload(platform, "Done", "一\n", "x")->status, 200);
    writeFileAtomically(platform.server().taskDirectory("Done") / "result.srt", "1\n\xff\n");
    EXPECT_EQ(platform.client().Get("/srt/Done.srt")->body, "failed/对齐结果不是有效的 UTF-8 文本");
}

TEST(ServerRefusals, TaskFilesArePrivateAndTheLogShowsPathsEscaped) {
    Gate gate;
    gate.open.count_down();
    TestPlatform platform(gatedConfig(gate, 1));
    ConsoleCapture log;
    ASSERT_EQ(upload(platform, "T", "一\n", "x")->status, 200);
    ASSERT_EQ(start(platform, "T")["status"], 200);
    ASSERT_EQ(platform.waitForResult("T").rfind("1\n", 0), 0u);
    const fs::path task = platform.server().taskDirectory("T");
    for (const fs::path& folder :
         {task.parent_path(), task, platform.dataDirectory() / "incoming"}) {
        EXPECT_EQ(modeOf(folder), fs::perms::owner_all) << folder;
    }
    for (const char* file : {"script.txt", "audio.bin", "started", "result.srt"})
        EXPECT_EQ(modeOf(task / file), fs::perms::owner_read | fs::perms::owner_write) << file;

    platform.client().Get("/srt/a%0aGET%20/forged%20200%1b]0;x%07.srt");
    // The server logs a request after answering it.
    const std::string forged = "GET /srt/a\\x0aGET /forged 200\\x1b]0;x\\x07.srt 404";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!log.contains(forged) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(log.contains(forged));
    for (const std::string& line : log.lines())
        EXPECT_EQ(line.find_first_of("\n\x1b\x07"), std::string::npos) << line;
}

TEST(ServerResults, ReportStepsWhileQueuedOrAligningThenTheSrt) {
    Gate gate;
    TestPlatform platform(gatedConfig(gate, 1));
    ASSERT_EQ(upload(platform, "A", "一砚19篁\r\n\r\n二\n", "x")->status, 200);
    ASSERT_EQ(upload(platform, "B", "三\n", "x")->status, 200);
    ASSERT_EQ(start(platform, "A")["status"], 200);
    ASSERT_EQ(start(platform, "B")["status"], 200);
    gate.entered.acquire();
    EXPECT_EQ(platform.client().Get("/srt/A.srt")->body, "steps/3") << "aligning, decoded";
    EXPECT_EQ(platform.client().Get("/srt/B.srt")->body, "steps/1");
    EXPECT_EQ(upload(platform, "A", "x", "x")->status, 409) << "no replacing a running task";
    gate.open.count_down();
    EXPECT_EQ(platform.waitForResult("A"),
              "1\n00:00:00,000 --> 00:00:00,500\n一砚19篁\n\n"
              "2\n00:00:01,000 --> 00:00:01,500\n二\n\n");
    EXPECT_EQ(platform.waitForResult("B"), "1\n00:00:00,000 --> 00:00:00,500\n三\n\n");
}

TEST(ServerResults, WorkersAlignTasksSideBySide) {
    Gate gate;
    TestPlatform platform(gatedConfig(gate, 2));
    for (const char* taskid : {"A", "B"}) {
        ASSERT_EQ(upload(platform, taskid, "一\n", "x")->status, 200);
        ASSERT_EQ(start(platform, taskid)["status"], 200);
    }
    // Both reach the aligner before either is let go.
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(gate.entered.try_acquire_for(std::chrono::seconds(20))) << i;
    gate.open.count_down();
    EXPECT_EQ(platform.waitForResult("B").rfind("1\n", 0), 0u);
}

// A recording of known line onsets with two script lines not in it goes through upload, start
// and result; unusable recordings fail with a reason.
TEST(ServerResults, AlignsARecordingLeavingOutMissingLinesAndFailsUnusableOnes) {
    using quillora::testing::scriptLine;
    const auto signal = quillora::testing::makeSpokenSignal({{6, 0, 0.5},
                                                             {10, 5, 0.7},
                                                             {3, 0, 0.4},
                                                             {12, 0, 0.6},
                                                             {7, 0, 0.5},
                                                             {9, 0, 0.4},
                                                             {4, 0, 0.6},
                                                             {11, 0, 0}});
    TestPlatform platform;
    const fs::path m4a =
        quillora::testing::writeAudio(platform.scratch() / "a.m4a", signal.samples);
    const std::vector<std::string> script = {
        scriptLine(6), scriptLine(10, 5), scriptLine(15, 7), scriptLine(3), scriptLine(12),
        scriptLine(7), scriptLine(9),     scriptLine(16),    scriptLine(4), scriptLine(11)};
    std::string text;
    for (const auto& line : script)
        text += line + "\n";
    // The result answers as soon as the log says the task is done.
    std::string answerWhenDone;
    const auto previous = setConsoleSink([&](std::string_view line) {
        if (line.find("对齐完成") != std::string_view::npos)
            answerWhenDone = platform.client().Get("/srt/T.srt")->body;
    });
    ASSERT_EQ(upload(platform, "T", text, readFile(m4a))->status, 200);
    ASSERT_EQ(start(platform, "T")["status"], 200);
    const std::string srt = platform.waitForResult("T");
    setConsoleSink(previous);
    EXPECT_EQ(answerWhenDone, srt);
    const std::vector<size_t> spoken = {0, 1, 3, 4, 5, 6, 8, 9};
    std::istringstream cues(srt);
    std::string number, times, cueText, blank;
    for (size_t k = 0; k < spoken.size(); ++k) {
        ASSERT_TRUE(std::getline(cues, number) && std::getline(cues, times) &&
                    std::getline(cues, cueText) && std::getline(cues, blank))
            << srt;
        EXPECT_EQ(number, std::to_string(k + 1));
        EXPECT_EQ(cueText, script[spoken[k]]);
        const double start = std::stoi(times.substr(0, 2)) * 3600 +
                             std::stoi(times.substr(3, 2)) * 60 + std::stoi(times.substr(6, 2)) +
                             std::stoi(times.substr(9, 3)) / 1000.0;
        EXPECT_NEAR(start, signal.onsets[k], 0.05) << times;
    }
    EXPECT_FALSE(std::getline(cues, number)) << "no cue for the missing lines";

    const std::vector<float> silence(16000 * 2, 0.0f);
    const std::vector<float> oneLine = quillora::testing::makeSpokenSignal({{4, 0, 0}}).samples;
    std::string longScript;
    for (int i = 0; i < 30; ++i)
        longScript += scriptLine(12) + "\n";
    for (const auto& [taskid, samples, scriptText] :
         {std::tuple{"Silent", silence, text}, std::tuple{"Short", oneLine, longScript}}) {
        const fs::path file = quillora::testing::writeAudio(
            platform.scratch() / (std::string(taskid) + ".m4a"), samples);
        ASSERT_EQ(upload(platform, taskid, scriptText, readFile(file))->status, 200);
        ASSERT_EQ(start(platform, taskid)["status"], 200);
        const std::string result = platform.waitForResult(taskid);
        EXPECT_EQ(result.rfind("failed/", 0), 0u) << result;
        EXPECT_GT(result.size(), std::string("failed/").size()) << "with a reason";
    }
}

TEST(ServerResults, StartedTasksSurviveARestart) {
    quillora::testing::TempDir dir;
    // A started task left on disk, as by a server stopped while the task waited.
    const fs::path task = dir / "data" / "tasks" / "R";
    fs::create_directories(task);
    writeFileAtomically(task / "script.txt", "只有一行\n");
    writeFileAtomically(task / "audio.bin", "x");
    writeFileAtomically(task / "started", "");
    Gate gate;
    gate.open.count_down();
    server::ServerConfig config;
    config.dataDirectory = dir / "data";
    config.alignerFactory = [&gate] { return std::make_unique<GatedAligner>(gate); };
    PlatformServer server(config);
    ASSERT_EQ(server.taskDirectory("R"), task);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(task / "result.srt") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(readFile(task / "result.srt"), "1\n00:00:00,000 --> 00:00:00,500\n只有一行\n\n");
}

// ---- pieces -----------------------------------------------------------------------------------

TEST(ServerPieces, ScriptLinesSrtTimesAndLineWeights) {
    EXPECT_EQ(scriptLines("a\r\n\r\n  \nb c\n\tx\t\n"),
              (std::vector<std::string>{"a", "b c", "\tx\t"}));
    EXPECT_TRUE(scriptLines("\n\n").empty());
    EXPECT_EQ(formatSrt({"x"}, {{3661.0019, 3661.9999}}), "1\n01:01:01,001 --> 01:01:01,999\nx\n\n")
        << "times are truncated to milliseconds";
    // Only spoken characters count, and a line never weighs nothing.
    EXPECT_EQ(lineWeight("你好砚19篁世界砚20篁"), 4);
    EXPECT_EQ(lineWeight("ab 12"), 4);
    EXPECT_EQ(lineWeight("砚0篁"), 1);
}

TEST(ServerAligner, BoundariesSnapToTheNearestPausesAndSilenceFails) {
    SpeechMap speech;
    speech.speechStart = 1.0;
    speech.speechEnd = 11.0;
    speech.pauses = {{2.0, 2.5}, {4.9, 5.3}, {8.0, 8.2}};
    // Equal weights put the boundary near 5.0 speaking-seconds: the middle pause wins.
    const auto halves = distributeLines(speech, {1, 1});
    ASSERT_EQ(halves.size(), 2u);
    EXPECT_EQ(std::tuple(halves[0].start, halves[0].end, halves[1].start, halves[1].end),
              std::tuple(1.0, 4.9, 5.3, 11.0));
    // More lines than pauses: every range stays ordered and inside the speech.
    const auto many = distributeLines(speech, {1, 1, 1, 1, 1, 1, 1});
    ASSERT_EQ(many.size(), 7u);
    double previousEnd = 1.0;
    for (const LineTiming& range : many) {
        EXPECT_TRUE(previousEnd <= range.start && range.start <= range.end && range.end <= 11.0)
            << range.start << " - " << range.end;
        previousEnd = range.end;
    }
    EXPECT_THROW(findSpeech(std::vector<float>(16000 * 2, 0.0f), 16000), AlignmentError);
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
