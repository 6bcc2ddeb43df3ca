#include "service/network_service.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "contract/platform_contract.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/uuid.h"
#include "service/http_client.h"
#include "service/service_constants.h"
#include "service/service_errors.h"
#include "service/tokens.h"
#include "store/database_error.h"
#include "store/database_manager.h"
#include "store/user_manager.h"
#include "text/numbers.h"

namespace quillora {
namespace {

// A request URL as the diagnostic lines show it: the values of password parameters hidden, so
// a --verbose run or a pasted log never gives a password away.
std::string loggedURL(std::string url) {
    for (const char* name : {"password=", "srtpassword="}) {
        for (size_t at = url.find(name); at != std::string::npos; at = url.find(name, at + 1)) {
            if (at > 0 && url[at - 1] != '?' && url[at - 1] != '&') continue;
            const size_t value = at + std::string_view(name).size();
            const size_t end = std::min(url.find('&', value), url.size());
            url.replace(value, end - value, "***");
        }
    }
    return url;
}

constexpr long kSessionResourceTimeout = 60;
constexpr long kRequestTimeout = 60;
constexpr int kTooManyRequests = 429;

std::string environmentOr(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

}  // namespace

ServiceEndpoints ServiceEndpoints::fromEnvironment() {
    return {environmentOr(service::kApiURLVariable, service::kDefaultApiBaseURL),
            environmentOr(service::kTaskURLVariable, service::kDefaultTaskBaseURL)};
}

NetworkService& NetworkService::shared() {
    static NetworkService service(ServiceEndpoints::fromEnvironment(), DatabaseManager::shared(),
                                  UserManager::shared());
    return service;
}

NetworkService::NetworkService(ServiceEndpoints endpoints, DatabaseManager& database,
                               UserManager& users)
    : endpoints_(std::move(endpoints)),
      database_(database),
      users_(users),
      srtloginURL_(buildURL(endpoints_.apiBaseURL, contract::kLoginPath)),
      koufeeURL_(buildURL(endpoints_.apiBaseURL, contract::kChargePath)),
      serverURL_(buildURL(endpoints_.taskBaseURL, contract::kUploadPath)) {
    try {
        database_.initializeDatabase();
        console("数据库初始化成功");
    } catch (const DatabaseError& error) {
        console("数据库初始化失败: " + error.description());
    } catch (const std::exception& error) {
        console(std::string("数据库初始化失败: ") + error.what());
    }
}

NetworkService::~NetworkService() {
    stopNewlyOrdersTimer();
}

SRTLoginResponse NetworkService::srtLogin(const std::string& username, const std::string& password,
                                          const std::string& srtUsername,
                                          const std::string& srtPassword) {
    if (!isHttpURL(srtloginURL_)) throw NetworkError::invalidURL();
    const std::string url = buildURL(endpoints_.apiBaseURL, contract::kLoginPath,
                                     {{"username", username},
                                      {"password", password},
                                      {"token", shatoken(std::chrono::system_clock::now())},
                                      {"srtusername", srtUsername},
                                      {"srtpassword", srtPassword}});
    console("long=" + loggedURL(url));
    HttpRequest request;
    request.url = url;
    request.timeoutSeconds = std::min(kRequestTimeout, kSessionResourceTimeout);
    const HttpResponse response = performRequest(request);
    if (response.statusCode == kTooManyRequests) {
        // The platform refuses guessing with 429 and says in the usual reply when to try again.
        try {
            SRTLoginResponse refusal = decodeLoginResponse(response.body);
            if (!refusal.success && refusal.msg) return refusal;
        } catch (const DecodingError&) {
        }
    }
    if (!isSuccess(response.statusCode)) throw NetworkError::statusCode(response.statusCode);
    try {
        return decodeLoginResponse(response.body);
    } catch (const DecodingError& error) {
        throw NetworkError::decodingFailed(error.detail());
    }
}

DeductionResponse NetworkService::deductFee(double amount) {
    const std::optional<UserData> user = users_.getUser();
    if (!user || !user->userid || !user->srtPassword) throw UploadError::missingToken();
    if (!isHttpURL(koufeeURL_)) throw UploadError::invalidURL();
    HttpRequest request;
    request.url = buildURL(endpoints_.apiBaseURL, contract::kChargePath,
                           {{"username", contract::kOperatorAccount},
                            {"password", contract::kOperatorPassword},
                            {"token", shatoken(std::chrono::system_clock::now())},
                            {"srtuserid", std::to_string(*user->userid)},
                            {"amount", shortestDecimal(amount)},
                            {"srtpassword", *user->srtPassword}});
    request.headers = {{"Accept", "application/json"}};
    request.timeoutSeconds = std::min(kRequestTimeout, kSessionResourceTimeout);
    const HttpResponse response = performRequest(request);
    console(loggedURL(request.url));
    if (!isSuccess(response.statusCode)) {
        throw UploadError::serverError("扣费请求失败，HTTP状态码错误");
    }
    return decodeDeductionResponse(response.body);
}

SimpleResponse NetworkService::starttask(const std::string& taskid) {
    if (!isHttpURL(endpoints_.taskBaseURL + contract::kStartTaskPath)) {
        throw UploadError::invalidURL();
    }
    HttpRequest request;
    request.url = buildURL(endpoints_.taskBaseURL, contract::kStartTaskPath,
                           {{"username", contract::kOperatorAccount},
                            {"token", contract::startToken()},
                            {"taskid", taskid}});
    request.headers = {{"Accept", "application/json"}};
    request.timeoutSeconds = std::min(kRequestTimeout, kSessionResourceTimeout);
    console("StartTask URL: " + request.url);
    const HttpResponse response = performRequest(request);
    if (!isSuccess(response.statusCode)) {
        throw UploadError::serverError("启动任务失败，HTTP状态码错误");
    }
    return decodeSimpleResponse(response.body);
}

std::string buildUploadBody(const std::string& boundary, const std::string& token,
                            const std::string& taskid, const std::string& txt,
                            const std::string& audio) {
    const std::string crlf = "\r\n";
    const std::string open = "--" + boundary + crlf;
    std::string body;
    body.reserve(txt.size() + audio.size() + 1024);
    auto field = [&](const std::string& name, const std::string& value) {
        body += open;
        body += "Content-Disposition: form-data; name=\"" + name + "\"" + crlf + crlf;
        body += value + crlf;
    };
    auto file = [&](const std::string& name, const std::string& filename,
                    const std::string& contents) {
        body += open;
        body += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename +
                "\"" + crlf;
        body += "Content-Type: application/octet-stream" + crlf + crlf;
        body += contents;
        body += crlf;
    };
    field("token", token);
    field("username", contract::kUploadAccount);
    field("taskid", taskid);
    file("file1", taskid + ".txt", txt);
    file("file2", taskid + ".mp3", audio);
    body += "--" + boundary + "--" + crlf;
    return body;
}

UploadResult NetworkService::uploadFiles(const std::string& txt,
                                         const std::filesystem::path& file2URL,
                                         const std::string& filename,
                                         std::function<void(double)> progressHandler,
                                         std::stop_token stopToken) {
    if (!isHttpURL(serverURL_)) throw UploadError::invalidURL();
    const std::string boundary = "Boundary-" + uuidString();
    // A read failure (FileError) stops the upload before anything is sent.
    const std::string audio = readFile(file2URL);

    HttpRequest request;
    request.method = "POST";
    request.url = serverURL_;
    request.headers = {{"Content-Type", "multipart/form-data; boundary=" + boundary}};
    request.body = buildUploadBody(boundary, contract::uploadToken(), filename, txt, audio);
    // A large recording may take long to send: limit stalls, not the whole transfer.
    request.timeoutSeconds = 0;
    request.idleTimeoutSeconds = kRequestTimeout;
    request.uploadProgress = std::move(progressHandler);
    request.stopToken = stopToken;

    HttpResponse response;
    try {
        response = performRequest(request);
    } catch (const TransportError&) {
        throw UploadError::uploadFailed(0);
    }
    if (response.statusCode == 0) throw UploadError::invalidResponse();
    const nlohmann::json reply =
        nlohmann::json::parse(response.body, nullptr, /*allow_exceptions=*/false);
    if (!isSuccess(response.statusCode)) {
        if (reply.is_object()) {
            auto it = reply.find("message");
            if (it != reply.end() && it->is_string()) {
                throw UploadError::serverError(it->get<std::string>());
            }
        }
        throw UploadError::uploadFailed(response.statusCode);
    }
    if (!reply.is_object()) throw UploadError::jsonParsingFailed();
    return {response.statusCode, reply};
}

}  // namespace quillora
