#include <gtest/gtest.h>

#include <regex>
#include <system_error>

#include "platform/console.h"
#include "platform/files.h"
#include "server/platform_credentials.h"
#include "service/client_fixture.h"
#include "service/http_client.h"
#include "service/service_constants.h"
#include "service/service_errors.h"
#include "service/stub_server.h"
#include "service/tokens.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
using testing::Client;
using testing::StubServer;
using testing::TestPlatform;

const std::string kPassword = "pa&ss=w+rd 密";

server::Account addUser(TestPlatform& platform, double balance = 20) {
    server::NewAccount account;
    account.name = "alice";
    account.password = kPassword;
    account.balance = balance;
    account.phone = "13900000001";
    account.zimu = 2.5;
    account.shijianzhou = 1.5;
    account.paytype = 1;
    return platform.accounts().addAccount(account);
}

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

// ---- tokens -----------------------------------------------------------------------------------

TEST(ServiceTokens, DailyTokenHashesTheLocalDateWithTheSalt) {
    EXPECT_EQ(dailyTokenForDateText("2026-12-05"), generateSHA256("2026-12-05vestrial"));
    EXPECT_EQ(dailyTokenForDateText("2026-12-05").size(), 64u);
    const auto now = std::chrono::system_clock::now();
    EXPECT_EQ(shatoken(now), shatoken(now + std::chrono::milliseconds(1)));
    EXPECT_EQ(shatoken(now), dailyTokenForDateText(localDateText(now)));
    EXPECT_EQ(shatoken(now), server::dailyToken(now)) << "client and platform agree";
}

TEST(ServiceTokens, FixedTokensAreTheMd5OfTheirSeeds) {
    EXPECT_EQ(md5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(uploadToken(), md5("abc.sitename.examplequietfern"));
    EXPECT_EQ(startToken(), md5("abc.sitename.example12345678901"));
    EXPECT_EQ(uploadToken().size(), 32u);
    EXPECT_EQ(uploadToken(), server::expectedUploadToken());
    EXPECT_EQ(startToken(), server::expectedStartToken());
}

TEST(ServiceTokens, AmountsAreWrittenAsShortestDecimalsWithAFraction) {
    EXPECT_EQ(shortestDecimalText(12), "12.0");
    EXPECT_EQ(shortestDecimalText(12.5), "12.5");
    EXPECT_EQ(shortestDecimalText(0.1), "0.1");
    EXPECT_EQ(shortestDecimalText(0), "0.0");
}

TEST(ServiceUrls, QueryItemsArePercentEncodedInOrder) {
    EXPECT_EQ(buildURL("http://h:1/", "/p", {{"a", "x y&z=+"}, {"b", "密"}}),
              "http://h:1/p?a=x%20y%26z%3D%2B&b=%E5%AF%86");
    EXPECT_TRUE(isHttpURL("https://example.org/a"));
    EXPECT_FALSE(isHttpURL("ftp://example.org"));
    EXPECT_FALSE(isHttpURL("http://"));
    EXPECT_FALSE(isHttpURL("not a url"));
}

// ---- sign-in ----------------------------------------------------------------------------------

TEST(ServiceLogin, SignsInAgainstThePlatformAndDecodesTheUser) {
    TestPlatform platform;
    const auto added = addUser(platform);
    Client client(platform.baseURL());
    ConsoleCapture console;
    const SRTLoginResponse reply = client.service.srtLogin(
        service::kOperatorAccount, service::kOperatorPassword, "alice", kPassword);
    EXPECT_TRUE(reply.success);
    ASSERT_TRUE(reply.user);
    EXPECT_EQ(reply.user->userid, added.id);
    EXPECT_EQ(reply.user->preamount, 20.0);
    EXPECT_EQ(reply.user->phone, "13900000001");
    EXPECT_EQ(reply.user->zimu, 2.5);
    EXPECT_EQ(reply.user->shijianzhou, 1.5);
    EXPECT_EQ(reply.user->paytype, 1);
    std::vector<std::string> sent;
    for (const auto& line : console.lines()) {
        if (line.rfind("long=", 0) == 0) sent.push_back(line);
    }
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rfind("long=" + platform.baseURL() +
                                "/api/dssrtuserlogin?username=12345678901&password=246810&token=" +
                                shatoken(std::chrono::system_clock::now()) +
                                "&srtusername=alice&srtpassword=",
                            0),
              0u)
        << sent[0];
}

TEST(ServiceLogin, RefusalsCarryTheMessage) {
    TestPlatform platform;
    addUser(platform);
    Client client(platform.baseURL());
    const auto wrong = client.service.srtLogin(service::kOperatorAccount,
                                               service::kOperatorPassword, "alice", "nope");
    EXPECT_FALSE(wrong.success);
    EXPECT_EQ(wrong.msg, "用户名或密码错误");
    EXPECT_FALSE(wrong.user);
    const auto badOperator =
        client.service.srtLogin(service::kOperatorAccount, "999999", "alice", kPassword);
    EXPECT_FALSE(badOperator.success);
    EXPECT_TRUE(badOperator.msg);
}

TEST(ServiceLogin, DecodingStatusAndTransportFailures) {
    StubServer stub;
    Client client(stub.baseURL());
    stub.reply(200, R"({"status":200,"msg":"ok"})");
    auto noSuccess =
        captureError<NetworkError>([&] { client.service.srtLogin("a", "b", "c", "d"); });
    EXPECT_EQ(noSuccess.kind(), NetworkError::Kind::decodingFailed);
    stub.reply(200, R"({"success":true,"user":{"userid":"7"}})");
    EXPECT_EQ(
        captureError<NetworkError>([&] { client.service.srtLogin("a", "b", "c", "d"); }).kind(),
        NetworkError::Kind::decodingFailed);
    stub.reply(200, R"({"success":false,"msg":null,"user":null})");
    const auto nulls = client.service.srtLogin("a", "b", "c", "d");
    EXPECT_FALSE(nulls.msg);
    EXPECT_FALSE(nulls.user);
    stub.reply(404, "<html>not found</html>", "text/html");
    auto notFound =
        captureError<NetworkError>([&] { client.service.srtLogin("a", "b", "c", "d"); });
    EXPECT_EQ(notFound.kind(), NetworkError::Kind::statusCode);
    EXPECT_EQ(notFound.code(), 404);

    // A closed port is a transport error, passed on as it is.
    std::string closedURL;
    {
        StubServer gone;
        closedURL = gone.baseURL();
    }
    Client offline(closedURL);
    EXPECT_THROW(offline.service.srtLogin("a", "b", "c", "d"), TransportError);
    Client badURL("not a url");
    EXPECT_EQ(
        captureError<NetworkError>([&] { badURL.service.srtLogin("a", "b", "c", "d"); }).kind(),
        NetworkError::Kind::invalidURL);
}

// ---- charging ---------------------------------------------------------------------------------

UserData storedUser(std::int64_t id, std::optional<std::string> password = kPassword) {
    UserData user;
    user.userid = id;
    user.srtPassword = std::move(password);
    user.preamount = 20;
    return user;
}

TEST(ServiceCharge, ChargesTheStoredUserOnThePlatform) {
    TestPlatform platform;
    const auto added = addUser(platform, 20);
    Client client(platform.baseURL());
    client.users.saveUser(storedUser(added.id));
    const DeductionResponse reply = client.service.deductFee(12);
    EXPECT_TRUE(chargeOutcome(reply).succeeded);
    ASSERT_TRUE(reply.data);
    EXPECT_EQ(reply.data->user_id, std::to_string(added.id));
    EXPECT_EQ(reply.data->before_amount, 20);
    EXPECT_EQ(reply.data->deduct_amount, 12);
    EXPECT_EQ(reply.data->after_amount, 8);

    const DeductionResponse refused = client.service.deductFee(12);
    const ChargeOutcome outcome = chargeOutcome(refused);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.failureText, std::string("余额不足，请前往Quillora平台(") +
                                       service::kPlatformWebAddress + ")充值");
    EXPECT_EQ(platform.accounts().findByName("alice")->balance, 8);
}

TEST(ServiceCharge, SendsTheQueryItemsInOrderWithAFractionalAmount) {
    StubServer stub;
    Client client(stub.baseURL());
    client.users.saveUser(storedUser(42, "p&w"));
    stub.reply(200, "{}");
    client.service.deductFee(12);
    ASSERT_EQ(stub.requests().size(), 1u);
    EXPECT_EQ(stub.requests()[0].target,
              "/api/dssrtkoufee?username=12345678901&password=246810&token=" +
                  shatoken(std::chrono::system_clock::now()) +
                  "&srtuserid=42&amount=12.0&srtpassword=p%26w");
}

TEST(ServiceCharge, MissingUserIdOrPasswordFailsBeforeSending) {
    StubServer stub;
    Client client(stub.baseURL());
    EXPECT_EQ(captureError<UploadError>([&] { client.service.deductFee(1); }).kind(),
              UploadError::Kind::missingToken);
    client.users.saveUser(storedUser(42, std::nullopt));
    EXPECT_EQ(captureError<UploadError>([&] { client.service.deductFee(1); }).description(),
              "缺少Token");
    EXPECT_TRUE(stub.requests().empty());
}

TEST(ServiceCharge, OutcomeRuleOverReplyShapes) {
    StubServer stub;
    Client client(stub.baseURL());
    client.users.saveUser(storedUser(42));
    const auto outcomeOf = [&](const std::string& body) {
        stub.reply(200, body);
        return chargeOutcome(client.service.deductFee(1));
    };
    EXPECT_TRUE(outcomeOf(R"({"code":200})").succeeded);
    EXPECT_TRUE(outcomeOf("{}").succeeded);
    const auto statusOnly = outcomeOf(R"({"status":200})");
    EXPECT_FALSE(statusOnly.succeeded);
    EXPECT_EQ(statusOnly.failureText, "扣费失败");
    const auto noMoney = outcomeOf(R"({"code":500,"msg":"no money"})");
    EXPECT_FALSE(noMoney.succeeded);
    EXPECT_EQ(noMoney.failureText, std::string("no money，请前往Quillora平台(") +
                                       service::kPlatformWebAddress + ")充值");
    EXPECT_EQ(outcomeOf(R"({"code":401,"message":"first","msg":"second"})").failureText, "first");
    EXPECT_EQ(outcomeOf(R"({"code":400,"msg":"账户余额不够了"})").failureText.find("充值") !=
                  std::string::npos,
              true);
}

TEST(ServiceCharge, AmountsDecodeFromNumbersOrText) {
    StubServer stub;
    Client client(stub.baseURL());
    client.users.saveUser(storedUser(42));
    stub.reply(200, R"({"code":200,"data":{"user_id":"42","before_amount":"12.5",)"
                    R"("deduct_amount":"abc","after_amount":7}})");
    const auto reply = client.service.deductFee(1);
    ASSERT_TRUE(reply.data);
    EXPECT_EQ(reply.data->before_amount, 12.5);
    EXPECT_EQ(reply.data->deduct_amount, 0);
    EXPECT_EQ(reply.data->after_amount, 7);
    stub.reply(200, R"({"code":200,"data":{"user_id":"42","before_amount":true,)"
                    R"("deduct_amount":1,"after_amount":7}})");
    EXPECT_THROW(client.service.deductFee(1), DecodingError);
    stub.reply(200, R"({"code":200,"data":{"user_id":42,"before_amount":1,)"
                    R"("deduct_amount":1,"after_amount":7}})");
    EXPECT_THROW(client.service.deductFee(1), DecodingError);
    stub.reply(500, R"({"code":500})");
    EXPECT_EQ(captureError<UploadError>([&] { client.service.deductFee(1); }).description(),
              "服务器错误: 扣费请求失败，HTTP状态码错误");
}

// ---- task start -------------------------------------------------------------------------------

TEST(ServiceStartTask, StartsAnUploadedTaskAndReportsUnknownOnes) {
    TestPlatform platform;
    Client client(platform.baseURL());
    const fs::path audio = platform.scratch() / "a.wav";
    writeFileAtomically(audio, "RIFF");
    client.service.uploadFiles("line\n", audio, "Known");
    ConsoleCapture console;
    const SimpleResponse started = client.service.starttask("Known");
    EXPECT_EQ(started.status, 200);
    EXPECT_TRUE(console.contains(
        "StartTask URL: " + platform.baseURL() +
        "/clients/starttask.php?username=12345678901&token=" + startToken() + "&taskid=Known"));
    const SimpleResponse unknown = client.service.starttask("Unknown");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_FALSE(unknown.message.empty());
}

TEST(ServiceStartTask, HttpAndShapeFailures) {
    StubServer stub;
    Client client(stub.baseURL());
    stub.reply(500, R"({"status":500,"message":"x"})");
    EXPECT_EQ(captureError<UploadError>([&] { client.service.starttask("T"); }).description(),
              "服务器错误: 启动任务失败，HTTP状态码错误");
    stub.reply(200, R"({"status":200})");
    EXPECT_THROW(client.service.starttask("T"), DecodingError);
}

// ---- upload -----------------------------------------------------------------------------------

std::string expectedBody(const std::string& boundary, const std::string& txt,
                         const std::string& audio) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"token\"\r\n\r\n" +
           uploadToken() + "\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\nquietfern\r\n--" +
           boundary + "\r\nContent-Disposition: form-data; name=\"taskid\"\r\n\r\nT1\r\n--" +
           boundary +
           "\r\nContent-Disposition: form-data; name=\"file1\"; filename=\"T1.txt\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           txt + "\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"file2\"; filename=\"T1.mp3\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           audio + "\r\n--" + boundary + "--\r\n";
}

TEST(ServiceUpload, BodyIsExactlyTheMultipartFormWithAFreshBoundary) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    const std::string audio("ID3\x00\x01\xff\r\n--x", 11);
    testing::writeTestFile(dir / "a.m4a", audio);
    stub.reply(200, "{}");
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
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/clients/postdata.php");
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

TEST(ServiceUpload, ReplyHandling) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    testing::writeTestFile(dir / "a.wav", "RIFF");
    const auto uploadError = [&](int status, const std::string& body, const std::string& type) {
        stub.reply(status, body, type);
        return captureError<UploadError>(
            [&] { client.service.uploadFiles("x", dir / "a.wav", "T1"); });
    };
    const auto serverMessage = uploadError(500, R"({"message":"磁盘已满"})", "application/json");
    EXPECT_EQ(serverMessage.kind(), UploadError::Kind::serverError);
    EXPECT_EQ(serverMessage.description(), "服务器错误: 磁盘已满");
    const auto html = uploadError(500, "<html>oops</html>", "text/html");
    EXPECT_EQ(html.kind(), UploadError::Kind::uploadFailed);
    EXPECT_EQ(html.description(), "上传失败 (状态码: 500)");
    EXPECT_EQ(uploadError(502, R"({"message":3})", "application/json").description(),
              "上传失败 (状态码: 502)");
    EXPECT_EQ(uploadError(200, "[1,2]", "application/json").description(), "JSON解析失败");
    EXPECT_EQ(uploadError(200, "ok", "text/plain").description(), "JSON解析失败");

    std::string closedURL;
    {
        StubServer gone;
        closedURL = gone.baseURL();
    }
    Client offline(closedURL);
    const auto unreachable =
        captureError<UploadError>([&] { offline.service.uploadFiles("x", dir / "a.wav", "T1"); });
    EXPECT_EQ(unreachable.description(), "上传失败 (状态码: 0)");
}

TEST(ServiceUpload, MissingAudioFailsBeforeAnyRequest) {
    StubServer stub;
    Client client(stub.baseURL());
    testing::TempDir dir;
    EXPECT_THROW(client.service.uploadFiles("x", dir / "missing.m4a", "T1"), std::system_error);
    EXPECT_TRUE(stub.requests().empty());
}

TEST(ServiceUpload, ThePlatformStoresWhatWasSentAndRefusesBadIds) {
    TestPlatform platform;
    Client client(platform.baseURL());
    const std::string audio(100000, '\x7f');
    testing::writeTestFile(platform.scratch() / "a.wav", audio);
    const UploadResult result =
        client.service.uploadFiles("一\n二\n", platform.scratch() / "a.wav", "Real_1");
    EXPECT_EQ(result.statusCode, 200);
    EXPECT_EQ(readFile(platform.server().taskDirectory("Real_1") / "script.txt"), "一\n二\n");
    EXPECT_EQ(readFile(platform.server().taskDirectory("Real_1") / "audio.bin"), audio);
    const auto bad = captureError<UploadError>(
        [&] { client.service.uploadFiles("x", platform.scratch() / "a.wav", "../x"); });
    EXPECT_EQ(bad.kind(), UploadError::Kind::serverError);
}

TEST(ServiceUpload, OversizeUploadIsReportedWithTheServersMessage) {
    server::ServerConfig config;
    config.maxUploadBytes = 2048;
    TestPlatform platform(config);
    Client client(platform.baseURL());
    testing::writeTestFile(platform.scratch() / "a.wav", std::string(5000, 'a'));
    const auto tooBig = captureError<UploadError>(
        [&] { client.service.uploadFiles("x", platform.scratch() / "a.wav", "Big"); });
    EXPECT_EQ(tooBig.kind(), UploadError::Kind::serverError);
    EXPECT_NE(tooBig.message().find("2048"), std::string::npos);
}

}  // namespace
}  // namespace quillora
