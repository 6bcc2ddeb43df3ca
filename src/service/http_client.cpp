#include "service/http_client.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "service/service_errors.h"

namespace quillora {
namespace {

struct CurlCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListCleanup>;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    std::string* body;
    const HttpRequest* request;
    double lastFraction = -1;
    bool tooLarge = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (transfer->body->size() + length > transfer->request->maxReplyBytes) {
        transfer->tooLarge = true;
        return 0;  // libcurl ends the transfer
    }
    transfer->body->append(data, length);
    return length;
}

std::string tooLargeText(std::size_t limit) {
    constexpr std::size_t kMegabyte = std::size_t{1} << 20;
    const std::string size = limit % kMegabyte == 0 ? std::to_string(limit / kMegabyte) + " MB"
                                                    : std::to_string(limit) + " 字节";
    return "服务器的回复过大 (上限 " + size + ")";
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->request->stopToken.stop_requested()) return 1;
    if (transfer->request->uploadProgress && uploadTotal > 0) {
        const double fraction = static_cast<double>(uploaded) / static_cast<double>(uploadTotal);
        if (fraction > transfer->lastFraction) {
            transfer->lastFraction = fraction;
            transfer->request->uploadProgress(fraction);
        }
    }
    return 0;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string percentEncodeQueryComponent(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

bool isHttpURL(const std::string& url) {
    for (const std::string scheme : {"http://", "https://"}) {
        if (url.rfind(scheme, 0) == 0) {
            const std::string rest = url.substr(scheme.size());
            return !rest.empty() && rest.front() != '/' &&
                   rest.find_first_of(" \t\r\n") == std::string::npos;
        }
    }
    return false;
}

std::string buildURL(const std::string& base, const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& queryItems) {
    std::string url = base;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    url += path;
    char separator = '?';
    for (const auto& [name, value] : queryItems) {
        url += separator;
        url += percentEncodeQueryComponent(name) + "=" + percentEncodeQueryComponent(value);
        separator = '&';
    }
    return url;
}

HttpResponse performRequest(const HttpRequest& request) {
    initialiseCurlOnce();
    CurlHandle curl(curl_easy_init());
    if (!curl) throw TransportError("无法创建网络会话");
    HttpResponse response;
    Transfer transfer{&response.body, &request};
    char errorText[CURL_ERROR_SIZE] = {};

    HeaderList headers;
    for (const auto& [name, value] : request.headers) {
        curl_slist* appended = curl_slist_append(headers.get(), (name + ": " + value).c_str());
        if (!appended) throw TransportError("无法设置请求头");
        headers.release();
        headers.reset(appended);
    }
    // libcurl would otherwise add "Expect: 100-continue" to large bodies.
    if (request.method == "POST") {
        curl_slist* appended = curl_slist_append(headers.get(), "Expect:");
        if (!appended) throw TransportError("无法设置请求头");
        headers.release();
        headers.reset(appended);
    }

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, request.timeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
    if (request.idleTimeoutSeconds > 0) {
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, request.idleTimeoutSeconds);
    }
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // The local platform must never be reached through a proxy from the environment.
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    // An announced length over the limit fails before any of the body is read.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(request.maxReplyBytes));
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    if (request.method == "POST") {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    } else if (request.method != "GET") {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (headers) curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        if (result == CURLE_ABORTED_BY_CALLBACK) throw TransportError("请求已取消");
        if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
            throw TransportError(tooLargeText(request.maxReplyBytes));
        }
        throw TransportError(errorText[0] ? errorText : curl_easy_strerror(result));
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    response.statusCode = static_cast<int>(status);
    if (request.uploadProgress && !request.body.empty() && transfer.lastFraction < 1.0) {
        request.uploadProgress(1.0);
    }
    return response;
}

}  // namespace quillora
