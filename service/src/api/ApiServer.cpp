#include "api/ApiServer.h"

#include "api/ApiError.h"
#include "api/EmailAddress.h"
#include "api/Pages.h"
#include "http/ResponseCompression.h"

#include <QJsonDocument>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace clipvane::service {

namespace {

constexpr size_t kMaxTokenLength = 512;
constexpr auto kJson = ResponseCompression::kJsonType;
constexpr auto kHtml = "text/html; charset=utf-8";
using Pages::kSignInPath;
constexpr int kHttpDefaultPort = 80;

std::string jsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

ServerResponse jsonReply(int status, const QJsonObject &object)
{
    ServerResponse response;
    response.status = status;
    response.setHeader("Cache-Control", "no-store");
    response.setContent(jsonText(object), kJson);
    return response;
}

ServerResponse errorReply(int status, const std::string &message)
{
    return jsonReply(status, QJsonObject{{u"error"_qs, QString::fromStdString(message)}});
}

ServerResponse htmlReply(int status, const std::string &html)
{
    ServerResponse response;
    response.status = status;
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setContent(html, kHtml);
    return response;
}

std::string defaultMessage(int status)
{
    switch (status) {
    case 400:
        return "bad request";
    case 404:
        return "not found";
    case 405:
        return "method not allowed";
    case 413:
        return "request body too large";
    case 414:
        return "request address too long";
    case 415:
        return "unsupported content encoding";
    case 431:
        return "request headers too large";
    default:
        return status >= 500 ? "internal error" : "request refused";
    }
}

bool isLoopbackHost(const std::string &host)
{
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

bool isLoopbackIPv4(const std::string &host)
{
    int parts = 0;
    size_t start = 0;
    while (start <= host.size() && parts < 5) {
        const size_t end = std::min(host.find('.', start), host.size());
        const std::string part = host.substr(start, end - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        start = end + 1;
    }
    return parts == 4 && host.rfind("127.", 0) == 0;
}

// "Bearer" (any case), blanks, then the token itself and nothing else.
std::optional<std::string> bearerToken(const std::string &header)
{
    constexpr std::string_view scheme = "bearer";
    if (header.size() <= scheme.size() || header.size() > scheme.size() + 1 + kMaxTokenLength)
        return std::nullopt;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i])
            return std::nullopt;
    size_t start = scheme.size();
    if (header[start] != ' ')
        return std::nullopt;
    while (start < header.size() && header[start] == ' ')
        ++start;
    const std::string token = header.substr(start);
    const auto isTokenCharacter = [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '+' || c == '/';
    };
    const size_t padding = token.find_last_not_of('=');
    if (token.empty() || padding == std::string::npos ||
        !std::all_of(token.begin(), token.begin() + std::ptrdiff_t(padding + 1), isTokenCharacter))
        return std::nullopt;
    return token;
}

std::string failurePage(const std::string &message)
{
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>Sign-in failed</title></head>"
           "<body><h1>Sign-in failed</h1><p>" +
           Pages::htmlEscape(message) + "</p><p><a href=\"" + kSignInPath + "\">Try again</a></p></body></html>";
}

HttpServer::Limits httpLimits(const ServiceLimits &limits)
{
    HttpServer::Limits http;
    http.maxBodyBytes = limits.maxBodyBytes;
    http.maxHeaderBytes = limits.maxHeaderBytes;
    http.maxHeaders = limits.maxHeaders;
    http.maxConnections = limits.maxConnections;
    http.maxConnectionsPerAddress = limits.maxConnectionsPerAddress;
    http.headerSeconds = limits.headerTimeoutSeconds;
    http.bodySeconds = limits.readTimeoutSeconds;
    http.replySeconds = limits.writeTimeoutSeconds;
    http.idleSeconds = limits.keepAliveSeconds;
    http.maxRequestsPerConnection = limits.keepAliveMaxRequests;
    http.workers = limits.threads;
    return http;
}

} // namespace

// Who asks, learnt from the head of an API request; the permit holds the caller's in-flight
// slot until the reply is made.
struct ApiServer::Caller : ServerRequest::Context
{
    const Route *route = nullptr;
    std::string token;
    std::optional<Account> user;
    std::optional<RateLimiter::Permit> permit;
};

ApiServer::ApiServer(const ServiceLimits &limits, bool logRequests, Accounts &accounts, ApiEndpoints &endpoints,
                     GoogleSignIn &google, ChangeHub &changes)
    : m_logRequests(logRequests)
    , m_accounts(accounts)
    , m_endpoints(endpoints)
    , m_google(google)
    , m_limiter(limits.rate)
    , m_events(changes,
               EventStreams::Settings{limits.eventStreamsPerToken, std::chrono::milliseconds(limits.eventHeartbeatMs)})
    , m_http(httpLimits(limits), *this)
{
    ApiEndpoints *api = &m_endpoints;
    auto endpoint = [api](QJsonObject (ApiEndpoints::*method)(const Account &, const ServerRequest &)) {
        return [api, method](const Account &user, const ServerRequest &request) {
            return jsonText((api->*method)(user, request));
        };
    };
    m_routes["/api/videos.php"] = {
        {"GET"}, [api](const Account &user, const ServerRequest &request) { return api->videos(user, request); }};
    m_routes["/api/upsert.php"] = {
        {"POST"}, [api](const Account &user, const ServerRequest &request) { return api->upsert(user, request); }};
    m_routes["/api/delete.php"] = {{"POST"}, endpoint(&ApiEndpoints::remove)};
    m_routes["/api/family.php"] = {{"GET", "POST"}, endpoint(&ApiEndpoints::family)};
    m_routes["/api/assistant.php"] = {{"POST"}, endpoint(&ApiEndpoints::assistant)};
    m_routes["/api/telegram-code.php"] = {{"POST"}, endpoint(&ApiEndpoints::telegramCode)};
    m_routes["/api/account.php"] = {{"GET", "POST"}, endpoint(&ApiEndpoints::account)};
    m_routes["/api/events.php"] = {{"GET"}, nullptr};
}

ApiServer::~ApiServer()
{
    stop();
}

int ApiServer::start(const std::string &host, int port)
{
    m_loopback = isLoopbackHost(host);
    m_port = m_http.start(host, port);
    return m_port;
}

void ApiServer::stop()
{
    m_http.stop();
}

std::optional<ServerResponse> ApiServer::screen(ServerRequest &request)
{
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (const auto route = m_routes.find(request.path); route != m_routes.end()) {
        const std::string method = request.method == "HEAD" ? "GET" : request.method;
        const std::vector<std::string> &allowed = route->second.methods;
        if (std::find(allowed.begin(), allowed.end(), method) == allowed.end()) {
            std::string allow;
            for (const std::string &name : allowed)
                allow += (allow.empty() ? "" : ", ") + name;
            ServerResponse refused = errorReply(405, "method not allowed");
            refused.setHeader("Allow", allow);
            return refused;
        }
        auto token = bearerToken(request.header("Authorization"));
        if (!token) {
            ServerResponse refused = errorReply(401, "missing, unknown or revoked token");
            refused.setHeader("WWW-Authenticate", "Bearer");
            return refused;
        }
        auto caller = std::make_unique<Caller>();
        caller->route = &route->second;
        caller->token = std::move(*token);
        Caller &admitted = *caller;
        request.context = std::move(caller);
        // A token seen lately is admitted here and now, sparing the request a trip to a worker.
        if (auto user = m_accounts.recentlyAuthenticated(QString::fromStdString(admitted.token))) {
            request.admitted = true;
            admitted.user = std::move(user);
            return admitRate(admitted);
        }
        return std::nullopt;
    }
    if (request.path == kSignInPath) {
        if (!read && request.method != "POST")
            return errorReply(405, "method not allowed");
        return screenSignIn(request);
    }
    if (request.path == "/player.html" && read) {
        ServerResponse page = htmlReply(200, Pages::playerHtml());
        page.setHeader("Content-Security-Policy", Pages::playerCsp());
        return page;
    }
    if (request.path == "/" && read)
        return htmlReply(200, Pages::aboutHtml());
    if (request.path == "/" || request.path == "/player.html")
        return errorReply(405, "method not allowed");
    return errorReply(404, "not found");
}

// Without Google anyone who can reach the page may name any address: acceptable only when
// nobody but this machine can reach it, and only under this machine's own name for it (a
// page whose name was rebound to 127.0.0.1 does not get to sign in for its visitor).
std::optional<ServerResponse> ApiServer::screenSignIn(const ServerRequest &request) const
{
    if (m_google.configured())
        return std::nullopt;
    if (!m_loopback)
        return htmlReply(403, Pages::signInRefused());
    if (!isOwnLoopbackHost(request.header("Host")))
        return htmlReply(403, failurePage("Open this page at http://127.0.0.1:" + std::to_string(m_port) + kSignInPath +
                                          " on this computer."));
    if (request.method != "POST")
        return htmlReply(200, Pages::localSignInForm(std::string(), applicationState(request).toStdString()));
    return std::nullopt;
}

bool ApiServer::isOwnLoopbackHost(const std::string &host) const
{
    std::string name = host;
    std::string port;
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
    }
    const bool ownPort = port.empty() ? m_port == kHttpDefaultPort : port == std::to_string(m_port);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ownPort && (name == "localhost" || name == "[::1]" || isLoopbackIPv4(name));
}

std::optional<ServerResponse> ApiServer::admit(ServerRequest &request)
{
    auto *caller = dynamic_cast<Caller *>(request.context.get());
    if (!caller)
        return std::nullopt;
    caller->user = m_accounts.authenticate(QString::fromStdString(caller->token));
    if (!caller->user) {
        ServerResponse refused = errorReply(401, "missing, unknown or revoked token");
        refused.setHeader("WWW-Authenticate", "Bearer");
        return refused;
    }
    return admitRate(*caller);
}

std::optional<ServerResponse> ApiServer::admitRate(Caller &caller)
{
    auto permit = m_limiter.admit(QByteArray::fromStdString(caller.token));
    if (!permit) {
        ServerResponse refused = errorReply(429, "too many requests; slow down");
        refused.setHeader("Retry-After", "1");
        return refused;
    }
    caller.permit.emplace(std::move(*permit));
    return std::nullopt;
}

ServerResponse ApiServer::respond(ServerRequest &request)
{
    try {
        if (request.path == kSignInPath)
            return signIn(request);
        return serveApi(request);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "clipvane-service: %s %s failed: %s\n", request.method.c_str(), request.path.c_str(),
                     error.what());
        return refusal(500);
    }
}

ServerResponse ApiServer::serveApi(ServerRequest &request)
{
    auto *caller = dynamic_cast<Caller *>(request.context.get());
    if (!caller || !caller->user)
        return refusal(500);
    if (!caller->route->endpoint) {
        // A stream is not a request in flight: it does not hold the caller's slot while open.
        caller->permit.reset();
        return openEvents(*caller);
    }
    ServerResponse response;
    try {
        const std::string body = caller->route->endpoint(*caller->user, request);
        response.status = 200;
        response.setHeader("Cache-Control", "no-store");
        ResponseCompression::setJson(request, response, body);
    } catch (const ApiError &error) {
        response = errorReply(error.status(), error.what());
    } catch (const DomainError &error) {
        response = errorReply(httpStatus(error.kind()), error.what());
    }
    caller->permit.reset();
    return response;
}

ServerResponse ApiServer::openEvents(const Caller &caller)
{
    auto stream = m_events.open(*caller.user, caller.token);
    if (!stream) {
        ServerResponse refused = errorReply(429, "too many open event streams for this token; close one first");
        refused.setHeader("Retry-After", "30");
        return refused;
    }
    ServerResponse response;
    response.status = 200;
    response.setHeader("Content-Type", "text/event-stream");
    response.setHeader("Cache-Control", "no-store");
    // Proxies that buffer replies (nginx) pass this one on as it comes.
    response.setHeader("X-Accel-Buffering", "no");
    response.stream = std::move(stream);
    return response;
}

ServerResponse ApiServer::refusal(int status)
{
    return errorReply(status, defaultMessage(status));
}

ServerResponse ApiServer::signIn(const ServerRequest &request)
{
    const QString redirectUri = m_publicOrigin + QString::fromLatin1(kSignInPath);
    if (m_google.configured()) {
        if (request.method == "POST")
            return htmlReply(405, failurePage("Sign in with Google instead."));
        if (request.hasParam("error"))
            return htmlReply(400, failurePage("Google did not sign you in (" + request.paramValue("error") + ")."));
        // Google's answer carries a code; the application's first visit carries only its state.
        if (request.hasParam("code")) {
            const QString state = QString::fromStdString(request.paramValue("state"));
            const QString appState = m_google.takeAppState(state);
            const auto result =
                m_google.complete(state, QString::fromStdString(request.paramValue("code")), redirectUri);
            if (const auto *error = std::get_if<std::string>(&result))
                return htmlReply(400, failurePage(*error));
            const auto email = normaliseEmail(std::get<QString>(result));
            if (!email)
                return htmlReply(400, failurePage("Google did not report a usable e-mail address."));
            return completeSignIn(*email, appState);
        }
        const std::string target = m_google.authorisationUrl(redirectUri, applicationState(request)).toStdString();
        ServerResponse redirect =
            htmlReply(302, "<!doctype html><a href=\"" + Pages::htmlEscape(target) + "\">Sign in with Google</a>");
        redirect.setHeader("Location", target);
        return redirect;
    }
    // Only a POST from this machine under its own name gets here (see screenSignIn).
    const QString appState = applicationState(request);
    const auto email = normaliseEmail(QString::fromStdString(request.paramValue("email")));
    if (!email)
        return htmlReply(400, Pages::localSignInForm("That is not an e-mail address.", appState.toStdString()));
    return completeSignIn(*email, appState);
}

QString ApiServer::applicationState(const ServerRequest &request)
{
    // A one-time value the application made: letters, digits, '-' and '_' only, so it passes
    // through a form and a URL untouched. Anything else is dropped, not repaired.
    constexpr size_t kMaxStateLength = 128;
    const std::string state = request.paramValue("state");
    if (state.empty() || state.size() > kMaxStateLength)
        return {};
    for (const char c : state)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return {};
    return QString::fromStdString(state);
}

ServerResponse ApiServer::completeSignIn(const QString &email, const QString &appState)
{
    const QString token = m_accounts.issueToken(email);
    std::string callback = "clipvaneshelf://auth?token=" + QUrl::toPercentEncoding(token).toStdString() +
                           "&email=" + QUrl::toPercentEncoding(email).toStdString();
    if (!appState.isEmpty())
        callback += "&state=" + appState.toStdString();
    ServerResponse response = htmlReply(302, Pages::redirectPage(callback));
    response.setHeader("Location", callback);
    response.setHeader("Referrer-Policy", "no-referrer");
    return response;
}

void ApiServer::replied(const ServerRequest &request, const ServerResponse &response)
{
    if (!m_logRequests)
        return;
    // The path only: queries of the sign-in page carry one-time codes.
    std::fprintf(stderr, "clipvane-service: %s %s %d %zu\n", request.method.c_str(), request.path.c_str(),
                 response.status, response.body.size());
}

} // namespace clipvane::service
