#pragma once

#include <cstddef>
#include <functional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace quillora {

/// One blocking HTTP exchange over libcurl.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    /// Whole-exchange limit in seconds; 0 for none.
    long timeoutSeconds = 60;
    /// Gives up when nothing moves for this many seconds; 0 for no limit.
    long idleTimeoutSeconds = 0;
    /// Fraction of the request body sent so far; called on the calling thread.
    std::function<void(double)> uploadProgress;
    /// Requesting stop aborts the transfer with a TransportError.
    std::stop_token stopToken;
    /// A longer reply body fails the exchange with a TransportError instead of filling memory.
    std::size_t maxReplyBytes = std::size_t{4} << 20;
};

struct HttpResponse {
    int statusCode = 0;
    std::string body;
};

/// Sends the request and waits for the whole reply. Any status code is a reply; only a
/// transport failure throws (TransportError).
HttpResponse performRequest(const HttpRequest& request);

/// Percent-encodes a query item name or value: everything but unreserved characters.
std::string percentEncodeQueryComponent(std::string_view text);

/// base + path + "?" + the items in order, each as name=value, percent-encoded.
std::string buildURL(const std::string& base, const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& queryItems = {});

/// True when the text is an absolute http or https URL with a host.
bool isHttpURL(const std::string& url);

}  // namespace quillora
