#pragma once

#include "api/ApiEndpoints.h"
#include "api/EventStreams.h"
#include "api/ServiceLimits.h"
#include "domain/Accounts.h"
#include "domain/ChangeHub.h"
#include "http/HttpHandler.h"
#include "http/HttpServer.h"
#include "http/RateLimiter.h"
#include "outbound/GoogleSignIn.h"

#include <QJsonObject>

#include <functional>
#include <map>
#include <string>

namespace clipvane::service {

// The HTTP face of the service: routes, bearer tokens, limits, JSON errors, the pages and
// the sign-in page. Every reply under /api, errors included, is a JSON object.
class ApiServer : public HttpHandler
{
public:
    // logRequests: one line on the standard error per reply.
    ApiServer(const ServiceLimits &limits, bool logRequests, Accounts &accounts, ApiEndpoints &endpoints,
              GoogleSignIn &google, ChangeHub &changes);
    ~ApiServer() override;

    // Listens on host:port (port 0 picks a free one) and serves from threads of its own;
    // returns the bound port. Throws on failure.
    int start(const std::string &host, int port);
    // Stops accepting; requests in progress are finished first.
    void stop();
    // Where browsers reach the service.
    void setPublicOrigin(const QString &origin) { m_publicOrigin = origin; }

    std::optional<ServerResponse> screen(ServerRequest &request) override;
    std::optional<ServerResponse> admit(ServerRequest &request) override;
    ServerResponse respond(ServerRequest &request) override;
    ServerResponse refusal(int status) override;
    void replied(const ServerRequest &request, const ServerResponse &response) override;

private:
    using Endpoint = std::function<std::string(const Account &, const ServerRequest &)>; // JSON text
    struct Route
    {
        std::vector<std::string> methods;
        Endpoint endpoint; // none: the event stream
    };
    struct Caller;

    std::optional<ServerResponse> screenSignIn(const ServerRequest &request) const;
    std::optional<ServerResponse> admitRate(Caller &caller);
    ServerResponse serveApi(ServerRequest &request);
    ServerResponse openEvents(const Caller &caller);
    ServerResponse signIn(const ServerRequest &request);
    ServerResponse completeSignIn(const QString &email, const QString &appState);
    static QString applicationState(const ServerRequest &request);
    bool isOwnLoopbackHost(const std::string &host) const;

    const bool m_logRequests;
    Accounts &m_accounts;
    ApiEndpoints &m_endpoints;
    GoogleSignIn &m_google;
    RateLimiter m_limiter;
    EventStreams m_events;
    std::map<std::string, Route> m_routes;
    QString m_publicOrigin;
    bool m_loopback = false;
    int m_port = 0;
    // Last: its threads call the members above until it stops.
    HttpServer m_http;
};

} // namespace clipvane::service
