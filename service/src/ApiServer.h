#pragma once

#include "Accounts.h"
#include "ApiEndpoints.h"
#include "GoogleSignIn.h"
#include "RateLimiter.h"
#include "ServiceConfig.h"

#include <httplib.h>

#include <QJsonObject>

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace clipvane::service {

// The HTTP face of the service: routes, bearer tokens, limits, JSON errors, the pages and
// the sign-in page. Every reply under /api, errors included, is a JSON object.
class ApiServer
{
public:
    ApiServer(const ServiceConfig &config, Accounts &accounts, ApiEndpoints &endpoints, GoogleSignIn &google);

    // Binds host:port (port 0 picks a free one); returns the bound port. Throws on failure.
    int bind(const std::string &host, int port);
    // Serves until stop(); blocks.
    void serve();
    // For the thread that started serve(): true once stop() would reach it.
    bool waitUntilServing(std::chrono::milliseconds limit) const;
    // Stops accepting; requests in progress are finished first.
    void stop();
    // Where browsers reach the service.
    void setPublicOrigin(const QString &origin) { m_publicOrigin = origin; }

private:
    using Endpoint = std::function<std::string(const Account &, const httplib::Request &)>; // JSON text
    struct Route
    {
        std::vector<std::string> methods;
        Endpoint endpoint;
    };

    void dispatch(const httplib::Request &request, httplib::Response &response);
    void serveApi(const Route &route, const httplib::Request &request, httplib::Response &response);
    void signIn(const httplib::Request &request, httplib::Response &response);
    void completeSignIn(const QString &email, const QString &appState, httplib::Response &response);
    static QString applicationState(const httplib::Request &request);
    std::optional<Account> authenticate(const httplib::Request &request, QByteArray &tokenKey);
    void log(const httplib::Request &request, const httplib::Response &response) const;

    const ServiceConfig &m_config;
    Accounts &m_accounts;
    ApiEndpoints &m_endpoints;
    GoogleSignIn &m_google;
    RateLimiter m_limiter;
    std::map<std::string, Route> m_routes;
    QString m_publicOrigin;
    bool m_loopback = false;
    httplib::Server m_server;
};

} // namespace clipvane::service
