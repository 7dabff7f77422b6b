#pragma once

#include "http/ServerRequest.h"
#include "http/ServerResponse.h"

#include <optional>

namespace clipvane::service {

// What the HTTP layer asks of the application, in the order a request meets it. A reply from
// either screening step ends the exchange before the body is read.
class HttpHandler
{
public:
    virtual ~HttpHandler() = default;

    // On the event loop, once the head is complete: checks that need nothing but the head
    // (route, method, the form of the credentials). Must not block.
    virtual std::optional<ServerResponse> screen(ServerRequest &request) = 0;
    // On a worker, still before the body: checks that look things up (who is asking, their
    // rate). May keep what it learnt in request.context.
    virtual std::optional<ServerResponse> admit(ServerRequest &request) = 0;
    // On a worker, with the whole body.
    virtual ServerResponse respond(ServerRequest &request) = 0;
    // The reply to a request the HTTP layer itself refuses (status 400, 413, 415, 431, 500).
    virtual ServerResponse refusal(int status) = 0;
    // On the event loop, once a reply is queued.
    virtual void replied(const ServerRequest &request, const ServerResponse &response) = 0;
};

} // namespace clipvane::service
