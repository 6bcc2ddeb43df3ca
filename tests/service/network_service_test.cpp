#include <gtest/gtest.h>

#include <regex>
#include <system_error>

#include "contract/platform_contract.h"
#include "platform/console.h"
#include "platform/files.h"
#include "service/client_fixture.h"
#include "service/http_client.h"
#include "service/service_constants.h"
#include "service/service_errors.h"
#include "service/tokens.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
using testing::Client;
using testing::TestPlatform;

const std::string kPassword = "pa&ss=w+rd 密";
const std::string kRecharge =
    std::string("，请前往Quillora平台(") + service::kPlatformWebAddress + ")充值";

template <typename E, typename F>
E captureError(F&& call) {
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    ADD_FAILURE() << "expected an exception";
    throw std::logic_error("no exception");
}

UserData storedUser(std::int64_t id, std::optional<std::string> password = kPassword) {
    UserData user;
    user.userid = id;
    user.srtPassword = std::move(password);
    return user;
}

// A client of the reference platform, which takes uploads of up to 150000 bytes.
struct ServicePlatform : ::testing::Test {
    static server::ServerConfig config() {
        server::ServerConfig config;
        config.maxUploadBytes = 150000;
        return config;
    }
    TestPlatform platform{config()};
    Client client{platform.baseURL()};
};

// Replies the reference platform never gives, and the exact requests, through a stub server.
struct ServiceReplies : testing::StubClientTest {};

// ---- tokens and URLs --------------------------------------------------------------------------

TEST(ServiceURLs, QueryEncodingAndSchemes) {
    EXPECT_EQ(buildURL("http://h:1/", "/p", {{"a", "x y&z=+"}, {"b", "密"}}),
              "http://h:1/p?a=x%20y%26z%3D%2B&b=%E5%AF%86");
    EXPECT_TRUE(isHttpURL("https://example.org/a"));
    for (const char* bad : {"ftp://example.org", "http://", "not a url"})
        EXPECT_FALSE(isHttpURL(bad)) << bad;
}

// ---- against the reference platform ------------------------------------------------------------

TEST_F(ServicePlatform, SignsInChargesAndCarriesTheRefusals) {
    const auto added = platform.accounts().addAccount(testing::aliceAccount(kPassword, 20));
    ConsoleCapture console;
    const SRTLoginResponse reply = client.service.srtLogin(
        contract::kOperatorAccount, contract::kOperatorPassword, "alice", kPassword);
    EXPECT_TRUE(reply.success);
    ASSERT_TRUE(reply.user);
    const SRTUser& user = *reply.user;
    EXPECT_TRUE(user.userid == added.id && user.preamount == 20.0 && user.phone == "13900000001" &&
                user.zimu == 2.5 && user.shijianzhou == 1.5 && user.paytype == 1);
    // The diagnostic line shows the request with its passwords hidden.
    EXPECT_TRUE(console.contains("long=" + platform.baseURL() +
                                 "/api/dssrtuserlogin?username=12345678901&password=***&token=" +
                                 shatoken(std::chrono::system_clock::now()) +
                                 "&srtusername=alice&srtpassword=***"));
    const auto wrong = client.service.srtLogin(contract::kOperatorAccount,
                                               contract::kOperatorPassword, "alice", "nope");
    EXPECT_FALSE(wrong.success || wrong.user);
    EXPECT_EQ(wrong.msg, "用户名或密码错误");

    client.users.saveUser(storedUser(added.id));
    const DeductionResponse charged = client.service.deductFee(12);
    EXPECT_TRUE(chargeOutcome(charged).succeeded);
    ASSERT_TRUE(charged.data);
    EXPECT_EQ(charged.data->user_id, std::to_string(added.id));
    EXPECT_EQ(std::tuple(charged.data->before_amount, charged.data->deduct_amount,
                         charged.data->after_amount),
              std::tuple(20.0, 12.0, 8.0));
    const ChargeOutcome refused = chargeOutcome(client.service.deductFee(12));
    EXPECT_FALSE(refused.succeeded);
    EXPECT_EQ(refused.failureText, "余额不足" + kRecharge);
    EXPECT_EQ(platform.accounts().findByName("alice")->balance, 8);
}

// The client's form as the platform parses it: stored byte for byte, or refused with a message.
TEST(ServiceThrottle, SignInRefusedForGuessingShowsThePlatformsMessage) {
    server::ServerConfig config;
    config.accountThrottle = {1, std::chrono::seconds(90), std::chrono::seconds(90),
                              std::chrono::seconds(600)};
    TestPlatform platform(config);
    platform.accounts().addAccount(testing::aliceAccount(kPassword));
    Client client(platform.baseURL());
    const auto signIn = [&](const std::string& password) {
        return client.service.srtLogin(contract::kOperatorAccount, contract::kOperatorPassword,
                                       "alice", password);
    };
    EXPECT_EQ(signIn("guess").msg, "用户名或密码错误");
    EXPECT_EQ(signIn("guess").msg, "用户名或密码错误");
    const SRTLoginResponse refused = signIn(kPassword);
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.msg, "密码错误次数过多，请 90 秒后再试");
}

TEST_F(ServicePlatform, UploadsAndStartsTasksAndPassesOnRefusals) {
    const std::string audio(100000, '\x7f');
    testing::writeTestFile(platform.scratch() / "a.wav", audio);
    EXPECT_EQ(
        client.service.uploadFiles("一\n二\n", platform.scratch() / "a.wav", "Real_1").statusCode,
        200);
    EXPECT_EQ(readFile(platform.server().taskDirectory("Real_1") / "script.txt"), "一\n二\n");
    EXPECT_EQ(readFile(platform.server().taskDirectory("Real_1") / "audio.bin"), audio);
    ConsoleCapture console;
    EXPECT_EQ(client.service.starttask("Real_1").status, 200);
    EXPECT_TRUE(console.contains("StartTask URL: " + platform.baseURL() +
                                 "/clients/starttask.php?username=12345678901&token=" +
                                 contract::startToken() + "&taskid=Real_1"));
    const SimpleResponse unknown = client.service.starttask("Unknown");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_FALSE(unknown.message.empty());

    testing::writeTestFile(platform.scratch() / "big.wav", std::string(200000, 'a'));
    const auto tooBig = captureError<UploadError>(
        [&] { client.service.uploadFiles("x", platform.scratch() / "big.wav", "Big"); });
    EXPECT_EQ(tooBig.kind(), UploadError::Kind::serverError) << "the platform's own message";
    EXPECT_NE(tooBig.message().find("150000"), std::string::npos) << tooBig.message();
}

// ---- replies and requests through a stub ------------------------------------------------------

TEST_F(ServiceReplies, LoginDecodingStatusAndTransportFailures) {
    const auto loginError = [&](int status, const std::string& body) {
        stub.reply(status, body);
        return captureError<NetworkError>([&] { client.service.srtLogin("a", "b", "c", "d"); });
    };
    for (const char* body : {R"({"status":200,"msg":"ok"})",  // no success key
                             R"({"success":true,"user":{"userid":"7"}})"}) {
        EXPECT_EQ(loginError(200, body).kind(), NetworkError::Kind::decodingFailed) << body;
    }
    const auto notFound = loginError(404, "<html>not found</html>");
    EXPECT_EQ(notFound.kind(), NetworkError::Kind::statusCode);
    EXPECT_EQ(notFound.code(), 404);
    stub.reply(200, R"({"success":false,"msg":null,"user":null})");
    const auto nulls = client.service.srtLogin("a", "b", "c", "d");
    EXPECT_FALSE(nulls.msg || nulls.user);

    // A closed port is a transport error, passed on as it is.
    Client offline(testing::closedURL());
    EXPECT_THROW(offline.service.srtLogin("a", "b", "c", "d"), TransportError);
    Client badURL("not a url");
    EXPECT_EQ(
        captureError<NetworkError>([&] { badURL.service.srtLogin("a", "b", "c", "d"); }).kind(),
        NetworkError::Kind::invalidURL);
}

TEST_F(ServiceReplies, OversizeRepliesFailWithAClearMessageWithAndWithoutALength) {
    const std::string endless = R"({"success":false,"msg":")" + std::string(5 << 20, 'x') + "\"}";
    for (const bool announced : {true, false}) {
        stub.reply(200, endless);
        stub.announceLength(announced);
        const auto error =
            captureError<TransportError>([&] { client.service.srtLogin("a", "b", "c", "d"); });
        EXPECT_STREQ(error.what(), "网络请求失败: 服务器的回复过大 (上限 4 MB)") << announced;
    }
    // A small limit of one request counts only that request's body.
    stub.reply(200, std::string(100, 'x'));
    HttpRequest request;
    request.url = stub.baseURL() + "/any";
    request.maxReplyBytes = 100;
    EXPECT_EQ(performRequest(request).body.size(), 100u);
    request.maxReplyBytes = 99;
    EXPECT_THROW(performRequest(request), TransportError);
}

TEST_F(ServiceReplies, ChargeSendsTheQueryItemsInOrderAndNeedsAStoredUser) {
    // No stored user, then one without a password: nothing is sent.
    EXPECT_EQ(captureError<UploadError>([&] { client.service.deductFee(1); }).kind(),
              UploadError::Kind::missingToken);
    client.users.saveUser(storedUser(42, std::nullopt));
    EXPECT_EQ(captureError<UploadError>([&] { client.service.deductFee(1); }).description(),
              "缺少Token");
    EXPECT_TRUE(stub.requests().empty());

    client.users.saveUser(storedUser(42, "p&w"));
    client.service.deductFee(12);
    ASSERT_EQ(stub.requests().size(), 1u);
    EXPECT_EQ(stub.requests()[0].target,
              "/api/dssrtkoufee?username=12345678901&password=246810&token=" +
                  shatoken(std::chrono::system_clock::now()) +
                  "&srtuserid=42&amount=12.0&srtpassword=p%26w");
}

TEST_F(ServiceReplies, ChargeOutcomeRuleAndAmountDecoding) {
    client.users.saveUser(storedUser(42));
    const std::pair<const char*, std::string> cases[] = {
        {R"({"code":200})", ""},
        {"{}", ""},
        {R"({"status":200})", "扣费失败"},
        {R"({"code":500,"msg":"no money"})", "no money" + kRecharge},
        {R"({"code":401,"message":"first","msg":"second"})", "first"},
        {R"({"code":400,"msg":"账户余额不够了"})", "账户余额不够了" + kRecharge},
    };
    for (const auto& [body, failureText] : cases) {
        stub.reply(200, body);
        const ChargeOutcome outcome = chargeOutcome(client.service.deductFee(1));
        EXPECT_EQ(outcome.succeeded, failureText.empty()) << body;
        EXPECT_EQ(outcome.failureText, failureText) << body;
    }

    // Amounts arrive as numbers or as numeric text; other types fail the decoding.
    stub.reply(200, R"({"code":200,"data":{"user_id":"42","before_amount":"12.5",)"
                    R"("deduct_amount":"abc","after_amount":7}})");
    const auto reply = client.service.deductFee(1);
    ASSERT_TRUE(reply.data);
    EXPECT_EQ(
        std::tuple(reply.data->before_amount, reply.data->deduct_amount, reply.data->after_amount),
        std::tuple(12.5, 0.0, 7.0));
    for (const char* data :
         {R"({"user_id":"42","before_amount":true,)", R"({"user_id":42,"before_amount":1,)"}) {
        stub.reply(200, std::string(R"({"code":200,"data":)") + data +
                            R"("deduct_amount":1,"after_amount":7}})");
        EXPECT_THROW(client.service.deductFee(1), DecodingError) << data;
    }
    stub.reply(500, R"({"code":500})");
    EXPECT_EQ(captureError<UploadError>([&] { client.service.deductFee(1); }).description(),
              "服务器错误: 扣费请求失败，HTTP状态码错误");
}

TEST_F(ServiceReplies, StartTaskHttpAndShapeFailures) {
    stub.reply(500, R"({"status":500,"message":"x"})");
    EXPECT_EQ(captureError<UploadError>([&] { client.service.starttask("T"); }).description(),
              "服务器错误: 启动任务失败，HTTP状态码错误");
    stub.reply(200, R"({"status":200})");
    EXPECT_THROW(client.service.starttask("T"), DecodingError);
}

std::string expectedBody(const std::string& boundary, const std::string& txt,
                         const std::string& audio) {
    const auto part = [&](const std::string& disposition, const std::string& content) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + disposition +
               "\r\n\r\n" + content + "\r\n";
    };
    const std::string file = "\r\nContent-Type: application/octet-stream";
    return part("token\"", contract::uploadToken()) + part("username\"", "quietfern") +
           part("taskid\"", "T1") + part("file1\"; filename=\"T1.txt\"" + file, txt) +
           part("file2\"; filename=\"T1.mp3\"" + file, audio) + "--" + boundary + "--\r\n";
}

TEST_F(ServiceReplies, UploadBodyIsExactlyTheMultipartFormWithAFreshBoundary) {
    const std::string audio("ID3\x00\x01\xff\r\n--x", 11);
    testing::writeTestFile(dir / "a.m4a", audio);
    std::vector<double> progress;
    const UploadResult result = client.service.uploadFiles(
        "第一行\r\n砚19篁", dir / "a.m4a", "T1", [&](double f) { progress.push_back(f); });
    EXPECT_EQ(result.statusCode, 200);
    EXPECT_TRUE(result.responseData.empty());
    client.service.uploadFiles("", dir / "a.m4a", "T1");

    const auto requests = stub.requests();
    ASSERT_EQ(requests.size(), 2u);
    std::vector<std::string> boundaries;
    for (const auto& request : requests) {
        EXPECT_EQ(request.method + " " + request.path, "POST /clients/postdata.php");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(
            request.contentType, match,
            std::regex(
                "multipart/form-data; boundary=(Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                "[0-9A-F]{4}-[0-9A-F]{12})")))
            << request.contentType;
        boundaries.push_back(match[1]);
    }
    EXPECT_EQ(requests[0].body, expectedBody(boundaries[0], "第一行\r\n砚19篁", audio));
    // An empty script still sends the file1 part, with no bytes before its CR LF.
    EXPECT_EQ(requests[1].body, expectedBody(boundaries[1], "", audio));
    EXPECT_NE(boundaries[0], boundaries[1]);

    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
}

TEST_F(ServiceReplies, UploadReplyHandlingAndMissingAudio) {
    EXPECT_THROW(client.service.uploadFiles("x", dir / "missing.m4a", "T1"), FileError);
    EXPECT_TRUE(stub.requests().empty()) << "a missing audio file fails before any request";

    testing::writeTestFile(dir / "a.wav", "RIFF");
    struct Case {
        int status;
        const char* body;
        const char* type;
        UploadError::Kind kind;
        const char* description;
    };
    const Case cases[] = {
        {500, R"({"message":"磁盘已满"})", "application/json", UploadError::Kind::serverError,
         "服务器错误: 磁盘已满"},
        {500, "<html>oops</html>", "text/html", UploadError::Kind::uploadFailed,
         "上传失败 (状态码: 500)"},
        {502, R"({"message":3})", "application/json", UploadError::Kind::uploadFailed,
         "上传失败 (状态码: 502)"},
        {200, "[1,2]", "application/json", UploadError::Kind::jsonParsingFailed, "JSON解析失败"},
        {200, "ok", "text/plain", UploadError::Kind::jsonParsingFailed, "JSON解析失败"},
    };
    for (const Case& c : cases) {
        stub.reply(c.status, c.body, c.type);
        const auto error = captureError<UploadError>(
            [&] { client.service.uploadFiles("x", dir / "a.wav", "T1"); });
        EXPECT_EQ(error.kind(), c.kind) << c.body;
        EXPECT_EQ(error.description(), c.description) << c.body;
    }
    Client offline(testing::closedURL());
    EXPECT_EQ(captureError<UploadError>([&] {
                  offline.service.uploadFiles("x", dir / "a.wav", "T1");
              }).description(),
              "上传失败 (状态码: 0)");
}

}  // namespace
}  // namespace quillora
