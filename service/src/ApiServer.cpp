#include "ApiServer.h"

#include "ApiError.h"
#include "EmailAddress.h"
#include "Pages.h"
#include "ResponseCompression.h"

#include <QJsonDocument>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <thread>

namespace clipvane::service {

namespace {

constexpr size_t kMaxTokenLength = 512;
// With a parameter, so the HTTP layer never compresses it (ResponseCompression does).
constexpr auto kJson = ResponseCompression::kJsonType;
constexpr auto kHtml = "text/html; charset=utf-8";
constexpr auto kSignInPath = "/gauth/login.php";

std::string jsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void sendJson(httplib::Response &response, int status, const QJsonObject &object)
{
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(jsonText(object), kJson);
}

void sendError(httplib::Response &response, int status, const std::string &message)
{
    sendJson(response, status, QJsonObject{{u"error"_qs, QString::fromStdString(message)}});
}

void sendHtml(httplib::Response &response, int status, const std::string &html)
{
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_content(html, kHtml);
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

std::string failurePage(const std::string &message)
{
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>Sign-in failed</title></head>"
           "<body><h1>Sign-in failed</h1><p>" +
           Pages::htmlEscape(message) + "</p><p><a href=\"/gauth/login.php\">Try again</a></p></body></html>";
}

} // namespace

ApiServer::ApiServer(const ServiceConfig &config, Accounts &accounts, ApiEndpoints &endpoints, GoogleSignIn &google)
    : m_config(config)
    , m_accounts(accounts)
    , m_endpoints(endpoints)
    , m_google(google)
    , m_limiter(config.limits.rate)
{
    auto endpoint = [this](QJsonObject (ApiEndpoints::*method)(const Account &, const httplib::Request &)) {
        return [this, method](const Account &user, const httplib::Request &request) {
            return jsonText((m_endpoints.*method)(user, request));
        };
    };
    m_routes["/api/videos.php"] = {{"GET"}, [this](const Account &user, const httplib::Request &request) {
                                       return m_endpoints.videos(user, request);
                                   }};
    m_routes["/api/upsert.php"] = {{"POST"}, endpoint(&ApiEndpoints::upsert)};
    m_routes["/api/delete.php"] = {{"POST"}, endpoint(&ApiEndpoints::remove)};
    m_routes["/api/family.php"] = {{"GET", "POST"}, endpoint(&ApiEndpoints::family)};
    m_routes["/api/assistant.php"] = {{"POST"}, endpoint(&ApiEndpoints::assistant)};
    m_routes["/api/telegram-code.php"] = {{"POST"}, endpoint(&ApiEndpoints::telegramCode)};
    m_routes["/api/account.php"] = {{"GET", "POST"}, endpoint(&ApiEndpoints::account)};

    const ServiceLimits &limits = config.limits;
    const int threads = limits.threads;
    m_server.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    m_server.set_payload_max_length(limits.maxBodyBytes);
    m_server.set_read_timeout(limits.readTimeoutSeconds, 0);
    m_server.set_write_timeout(limits.writeTimeoutSeconds, 0);
    m_server.set_keep_alive_timeout(limits.keepAliveSeconds);
    m_server.set_keep_alive_max_count(size_t(limits.keepAliveMaxRequests));
    m_server.set_tcp_nodelay(true);

    const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
        dispatch(request, response);
    };
    const std::string everything = ".*";
    m_server.Get(everything, handler);
    m_server.Post(everything, handler);
    m_server.Put(everything, handler);
    m_server.Patch(everything, handler);
    m_server.Delete(everything, handler);
    m_server.Options(everything, handler);

    // Replies that the HTTP layer makes itself (unknown method, body too large, bad request
    // line) get a JSON error body as well.
    m_server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            sendError(response, response.status, defaultMessage(response.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    m_server.set_exception_handler([](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
        sendError(response, 500, "internal error");
    });
    m_server.set_logger(
        [this](const httplib::Request &request, const httplib::Response &response) { log(request, response); });
}

int ApiServer::bind(const std::string &host, int port)
{
    m_loopback = isLoopbackHost(host);
    const int bound = port == 0 ? m_server.bind_to_any_port(host) : (m_server.bind_to_port(host, port) ? port : -1);
    if (bound <= 0)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    return bound;
}

void ApiServer::serve()
{
    m_server.listen_after_bind();
}

bool ApiServer::waitUntilServing(std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ApiServer::stop()
{
    m_server.stop();
}

void ApiServer::dispatch(const httplib::Request &request, httplib::Response &response)
{
    try {
        if (const auto route = m_routes.find(request.path); route != m_routes.end()) {
            serveApi(route->second, request, response);
            return;
        }
        const bool read = request.method == "GET" || request.method == "HEAD";
        if (request.path == kSignInPath) {
            if (read || request.method == "POST")
                signIn(request, response);
            else
                sendError(response, 405, "method not allowed");
            return;
        }
        if (request.path == "/player.html" && read) {
            sendHtml(response, 200, Pages::playerHtml());
            response.set_header("Content-Security-Policy", Pages::playerCsp());
            return;
        }
        if (request.path == "/" && read) {
            sendHtml(response, 200, Pages::aboutHtml());
            return;
        }
        if (request.path == "/" || request.path == "/player.html")
            sendError(response, 405, "method not allowed");
        else
            sendError(response, 404, "not found");
    } catch (const std::exception &error) {
        std::fprintf(stderr, "clipvane-service: %s %s failed: %s\n", request.method.c_str(), request.path.c_str(),
                     error.what());
        sendError(response, 500, "internal error");
    }
}

void ApiServer::serveApi(const Route &route, const httplib::Request &request, httplib::Response &response)
{
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    if (std::find(route.methods.begin(), route.methods.end(), method) == route.methods.end()) {
        std::string allow;
        for (const std::string &allowed : route.methods)
            allow += (allow.empty() ? "" : ", ") + allowed;
        sendError(response, 405, "method not allowed");
        response.set_header("Allow", allow);
        return;
    }
    QByteArray tokenKey;
    const auto user = authenticate(request, tokenKey);
    if (!user) {
        sendError(response, 401, "missing, unknown or revoked token");
        response.set_header("WWW-Authenticate", "Bearer");
        return;
    }
    const auto permit = m_limiter.admit(tokenKey);
    if (!permit) {
        sendError(response, 429, "too many requests; slow down");
        response.set_header("Retry-After", "1");
        return;
    }
    try {
        const std::string body = route.endpoint(*user, request);
        response.status = 200;
        response.set_header("Cache-Control", "no-store");
        ResponseCompression::setJson(request, response, body);
    } catch (const ApiError &error) {
        sendError(response, error.status(), error.what());
    }
}

std::optional<Account> ApiServer::authenticate(const httplib::Request &request, QByteArray &tokenKey)
{
    const std::string header = request.get_header_value("Authorization");
    constexpr std::string_view scheme = "bearer ";
    if (header.size() <= scheme.size() || header.size() > scheme.size() + kMaxTokenLength)
        return std::nullopt;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i])
            return std::nullopt;
    const QString token = QString::fromStdString(header.substr(scheme.size())).trimmed();
    if (token.isEmpty())
        return std::nullopt;
    tokenKey = token.toUtf8();
    return m_accounts.authenticate(token);
}

void ApiServer::signIn(const httplib::Request &request, httplib::Response &response)
{
    const QString redirectUri = m_publicOrigin + QString::fromLatin1(kSignInPath);
    if (m_google.configured()) {
        if (request.method == "POST") {
            sendHtml(response, 405, failurePage("Sign in with Google instead."));
            return;
        }
        if (request.has_param("error")) {
            sendHtml(response, 400,
                     failurePage("Google did not sign you in (" + request.get_param_value("error") + ")."));
            return;
        }
        // Google's answer carries a code; the application's first visit carries only its state.
        if (request.has_param("code")) {
            const QString state = QString::fromStdString(request.get_param_value("state"));
            const QString appState = m_google.takeAppState(state);
            const auto result =
                m_google.complete(state, QString::fromStdString(request.get_param_value("code")), redirectUri);
            if (const auto *error = std::get_if<std::string>(&result)) {
                sendHtml(response, 400, failurePage(*error));
                return;
            }
            const auto email = normaliseEmail(std::get<QString>(result));
            if (!email) {
                sendHtml(response, 400, failurePage("Google did not report a usable e-mail address."));
                return;
            }
            completeSignIn(*email, appState, response);
            return;
        }
        const std::string target = m_google.authorisationUrl(redirectUri, applicationState(request)).toStdString();
        sendHtml(response, 302, "<!doctype html><a href=\"" + Pages::htmlEscape(target) + "\">Sign in with Google</a>");
        response.set_header("Location", target);
        return;
    }
    // Without Google anyone who can reach the page may name any address: acceptable only
    // when nobody but this machine can reach it.
    if (!m_loopback) {
        sendHtml(response, 403, Pages::signInRefused());
        return;
    }
    const QString appState = applicationState(request);
    if (request.method != "POST") {
        sendHtml(response, 200, Pages::localSignInForm(std::string(), appState.toStdString()));
        return;
    }
    const auto email = normaliseEmail(QString::fromStdString(request.get_param_value("email")));
    if (!email) {
        sendHtml(response, 400, Pages::localSignInForm("That is not an e-mail address.", appState.toStdString()));
        return;
    }
    completeSignIn(*email, appState, response);
}

QString ApiServer::applicationState(const httplib::Request &request)
{
    // A one-time value the application made: letters, digits, '-' and '_' only, so it passes
    // through a form and a URL untouched. Anything else is dropped, not repaired.
    constexpr size_t kMaxStateLength = 128;
    const std::string state = request.get_param_value("state");
    if (state.empty() || state.size() > kMaxStateLength)
        return {};
    for (const char c : state)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return {};
    return QString::fromStdString(state);
}

void ApiServer::completeSignIn(const QString &email, const QString &appState, httplib::Response &response)
{
    const QString token = m_accounts.issueToken(email);
    std::string callback = "clipvaneshelf://auth?token=" + QUrl::toPercentEncoding(token).toStdString() +
                           "&email=" + QUrl::toPercentEncoding(email).toStdString();
    if (!appState.isEmpty())
        callback += "&state=" + appState.toStdString();
    sendHtml(response, 302, Pages::redirectPage(callback));
    response.set_header("Location", callback);
    response.set_header("Referrer-Policy", "no-referrer");
}

void ApiServer::log(const httplib::Request &request, const httplib::Response &response) const
{
    if (!m_config.logRequests)
        return;
    // The path only: queries of the sign-in page carry one-time codes.
    std::fprintf(stderr, "clipvane-service: %s %s %d %zu\n", request.method.c_str(), request.path.c_str(),
                 response.status, response.body.size());
}

} // namespace clipvane::service
