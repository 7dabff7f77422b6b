#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
class Client;
} // namespace httplib

namespace clipvane::service {

// The outcome of one outbound call. status 0 means a transport error (see error).
struct HttpResult
{
    int status = 0;
    std::string body;
    std::string error;
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// Lets another thread abort a call that is blocked on the network (a long poll at shutdown).
// One handle serves one call at a time; once cancelled, every later call through it fails at once.
class HttpCancel
{
public:
    void cancel();
    bool cancelled() const;

private:
    friend class HttpCall;
    bool attach(httplib::Client *client);
    void detach();

    mutable std::mutex m_mutex;
    httplib::Client *m_active = nullptr;
    bool m_cancelled = false;
};

inline constexpr std::size_t kDefaultMaxReplyBytes = 4 * 1024 * 1024;

struct HttpRequest
{
    std::string method = "GET";
    std::string url;
    HttpHeaders headers;
    std::string body;
    std::string contentType;
    // Bounds the whole call, redirects included.
    std::chrono::milliseconds timeout{10000};
    std::size_t maxReplyBytes = kDefaultMaxReplyBytes;
    HttpCancel *cancel = nullptr;
};

// Blocking HTTP(S) client call (cpp-httplib; https verifies certificates and host names).
// Follows at most a few redirects, never from https to http, and drops Authorization on a
// redirect to another origin. A reply larger than maxReplyBytes is a transport error.
HttpResult httpSend(const HttpRequest &request);

HttpResult httpGet(const std::string &url, const std::vector<std::pair<std::string, std::string>> &headers,
                   int timeoutSeconds);
HttpResult httpPostForm(const std::string &url, const std::vector<std::pair<std::string, std::string>> &fields,
                        int timeoutSeconds);
HttpResult httpPostJson(const std::string &url, const std::string &json,
                        const std::vector<std::pair<std::string, std::string>> &headers, int timeoutSeconds);

// Percent-encodes a query or form value (RFC 3986 unreserved characters stay as they are).
std::string urlEncode(const std::string &value);
// application/x-www-form-urlencoded body of the fields, in order.
std::string formEncode(const std::vector<std::pair<std::string, std::string>> &fields);
// A configured base address without trailing slashes, so paths can be appended with one "/".
QString withoutTrailingSlashes(QString base);

} // namespace clipvane::service
