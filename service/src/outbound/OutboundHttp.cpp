#include "outbound/OutboundHttp.h"

#include <httplib.h>

#include <QString>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace clipvane::service {

namespace {

constexpr int kMaxRedirects = 3;
constexpr int kDefaultHttpPort = 80;
constexpr int kDefaultHttpsPort = 443;
constexpr int kMaxPort = 65535;
constexpr long kMicrosPerMilli = 1000;
constexpr long kMillisPerSecond = 1000;
constexpr char kSystemCaBundle[] = "/etc/ssl/certs/ca-certificates.crt";
constexpr char kSystemCaDir[] = "/etc/ssl/certs";

struct ParsedUrl
{
    std::string scheme;    // "http" or "https"
    std::string authority; // host[:port], as written
    std::string host;
    std::string target; // path and query, never empty
};

bool isHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

// Strict enough that nothing taken from a reply (a redirect) or a configuration value can
// smuggle a header or a second request line into the request.
std::optional<ParsedUrl> parseUrl(const std::string &url)
{
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos)
        return std::nullopt;
    ParsedUrl parsed;
    parsed.scheme = url.substr(0, schemeEnd);
    std::transform(parsed.scheme.begin(), parsed.scheme.end(), parsed.scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (parsed.scheme != "http" && parsed.scheme != "https")
        return std::nullopt;

    const std::string rest = url.substr(schemeEnd + 3);
    const auto authorityEnd = rest.find_first_of("/?#");
    parsed.authority = rest.substr(0, authorityEnd);
    std::string target = authorityEnd == std::string::npos ? std::string() : rest.substr(authorityEnd);
    if (const auto hash = target.find('#'); hash != std::string::npos)
        target.resize(hash);
    if (target.empty() || target.front() == '?')
        target = std::string(1, '/').append(target);
    for (const char c : target) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f')
            return std::nullopt;
    }
    parsed.target = target;

    std::string portText;
    const std::string &authority = parsed.authority;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        parsed.host = authority.substr(1, close - 1);
        if (parsed.host.empty() || parsed.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return std::nullopt;
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            portText = after.substr(1);
        }
    } else {
        const auto colon = authority.find(':');
        parsed.host = authority.substr(0, colon);
        if (colon != std::string::npos)
            portText = authority.substr(colon + 1);
        if (parsed.host.empty() || !std::all_of(parsed.host.begin(), parsed.host.end(), isHostChar))
            return std::nullopt;
    }
    if (!portText.empty() || authority.back() == ':') {
        if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const int port = std::stoi(portText);
        if (port < 1 || port > kMaxPort)
            return std::nullopt;
    }
    return parsed;
}

std::string origin(const ParsedUrl &url)
{
    std::string lowered = url.authority;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return url.scheme + "://" + lowered;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool equalsIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

HttpResult failure(std::string error)
{
    HttpResult result;
    result.error = std::move(error);
    return result;
}

} // namespace

// One request on one connection, registered with the cancel handle while it runs.
class HttpCall
{
public:
    static HttpResult run(const ParsedUrl &url, const HttpRequest &request, const std::string &method,
                          const std::string &body, const HttpHeaders &headers,
                          std::chrono::steady_clock::time_point deadline, std::string *location)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return failure("timed out");

        httplib::Client client(url.scheme + "://" + url.authority);
        const auto seconds = static_cast<time_t>(left.count() / kMillisPerSecond);
        const auto micros = static_cast<time_t>((left.count() % kMillisPerSecond) * kMicrosPerMilli);
        client.set_connection_timeout(seconds, micros);
        client.set_read_timeout(seconds, micros);
        client.set_write_timeout(seconds, micros);
        client.set_follow_location(false);
        client.set_keep_alive(false);
        if (url.scheme == "https") {
            client.enable_server_certificate_verification(true);
            if (std::error_code ec; std::filesystem::exists(kSystemCaBundle, ec))
                client.set_ca_cert_path(kSystemCaBundle, kSystemCaDir);
        }

        httplib::Request req;
        req.method = method;
        req.path = url.target;
        for (const auto &[name, value] : headers)
            req.headers.emplace(name, value);
        if (!body.empty() || method == "POST") {
            req.body = body;
            req.set_header("Content-Type",
                           request.contentType.empty() ? "application/octet-stream" : request.contentType);
        }

        std::string received;
        bool tooLarge = false;
        bool late = false;
        req.content_receiver = [&](const char *data, size_t length, uint64_t, uint64_t) {
            if (std::chrono::steady_clock::now() > deadline) {
                late = true;
                return false;
            }
            if (received.size() + length > request.maxReplyBytes) {
                tooLarge = true;
                return false;
            }
            received.append(data, length);
            return true;
        };

        if (request.cancel != nullptr && !request.cancel->attach(&client))
            return failure("cancelled");
        httplib::Response res;
        httplib::Error error = httplib::Error::Success;
        const bool sent = client.send(req, res, error);
        if (request.cancel != nullptr) {
            request.cancel->detach();
            if (request.cancel->cancelled())
                return failure("cancelled");
        }

        if (tooLarge)
            return failure("reply too large");
        if (late)
            return failure("timed out");
        if (!sent)
            return failure(error == httplib::Error::Read || error == httplib::Error::ConnectionTimeout
                               ? "timed out or connection lost (" + httplib::to_string(error) + ")"
                               : "transport error (" + httplib::to_string(error) + ")");
        if (location != nullptr)
            *location = res.get_header_value("Location");
        HttpResult result;
        result.status = res.status;
        result.body = std::move(received);
        return result;
    }
};

void HttpCancel::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    // Shutting the socket down wakes a call blocked in a read; the client stays alive
    // until its call has detached, which needs this mutex.
    if (m_active != nullptr)
        m_active->stop();
}

bool HttpCancel::cancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool HttpCancel::attach(httplib::Client *client)
{
    std::lock_guard lock(m_mutex);
    if (m_cancelled)
        return false;
    m_active = client;
    return true;
}

void HttpCancel::detach()
{
    std::lock_guard lock(m_mutex);
    m_active = nullptr;
}

HttpResult httpSend(const HttpRequest &request)
{
    const auto deadline = std::chrono::steady_clock::now() + request.timeout;
    auto url = parseUrl(request.url);
    if (!url)
        return failure("unsupported address");

    std::string method = request.method;
    std::string body = request.body;
    HttpHeaders headers = request.headers;
    const std::string firstOrigin = origin(*url);

    for (int hop = 0;; ++hop) {
        std::string location;
        HttpResult result = HttpCall::run(*url, request, method, body, headers, deadline, &location);
        if (result.status == 0 || !isRedirect(result.status))
            return result;
        if (hop >= kMaxRedirects)
            return failure("too many redirects");
        if (location.empty())
            return result;

        const QUrl next = QUrl(QString::fromStdString(url->scheme + "://" + url->authority + url->target))
                              .resolved(QUrl(QString::fromStdString(location)));
        const std::string nextText = next.toString(QUrl::FullyEncoded).toStdString();
        auto nextUrl = parseUrl(nextText);
        if (!nextUrl)
            return failure("redirect to an unsupported address");
        if (url->scheme == "https" && nextUrl->scheme != "https")
            return failure("redirect from https to http refused");
        if (origin(*nextUrl) != firstOrigin) {
            headers.erase(std::remove_if(headers.begin(), headers.end(),
                                         [](const auto &header) {
                                             return equalsIgnoringCase(header.first, "Authorization") ||
                                                    equalsIgnoringCase(header.first, "Cookie");
                                         }),
                          headers.end());
        }
        if (result.status == 303 || ((result.status == 301 || result.status == 302) && method == "POST")) {
            method = "GET";
            body.clear();
        }
        url = std::move(nextUrl);
    }
}

HttpResult httpGet(const std::string &url, const std::vector<std::pair<std::string, std::string>> &headers,
                   int timeoutSeconds)
{
    HttpRequest request;
    request.url = url;
    request.headers = headers;
    request.timeout = std::chrono::seconds(timeoutSeconds);
    return httpSend(request);
}

HttpResult httpPostForm(const std::string &url, const std::vector<std::pair<std::string, std::string>> &fields,
                        int timeoutSeconds)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.body = formEncode(fields);
    request.contentType = "application/x-www-form-urlencoded";
    request.headers = {{"Accept", "application/json"}};
    request.timeout = std::chrono::seconds(timeoutSeconds);
    return httpSend(request);
}

HttpResult httpPostJson(const std::string &url, const std::string &json,
                        const std::vector<std::pair<std::string, std::string>> &headers, int timeoutSeconds)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.body = json;
    request.contentType = "application/json";
    request.headers = headers;
    request.timeout = std::chrono::seconds(timeoutSeconds);
    return httpSend(request);
}

QString withoutTrailingSlashes(QString base)
{
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

std::string urlEncode(const std::string &value)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string formEncode(const std::vector<std::pair<std::string, std::string>> &fields)
{
    std::string out;
    for (const auto &[name, value] : fields) {
        if (!out.empty())
            out.push_back('&');
        out += urlEncode(name);
        out.push_back('=');
        out += urlEncode(value);
    }
    return out;
}

} // namespace clipvane::service
