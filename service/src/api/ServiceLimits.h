#pragma once

#include "http/RateLimiter.h"

#include <cstddef>

namespace clipvane::service {

// Bounds on what one client may ask of the service.
struct ServiceLimits
{
    size_t maxBodyBytes = 256 * 1024; // decoded, whatever the framing and content coding
    size_t maxHeaderBytes = 32 * 1024;
    size_t maxHeaders = 100;
    int maxConnections = 8192;
    int maxConnectionsPerAddress = 256;
    int headerTimeoutSeconds = 10; // the whole head of a request, however it trickles in
    int readTimeoutSeconds = 15;   // the whole body
    int writeTimeoutSeconds = 15;  // the whole reply
    int keepAliveSeconds = 5;
    int keepAliveMaxRequests = 1000;
    int threads = 16; // workers for the handlers; connections need none
    // Open event streams per token, and the comment that keeps an idle one alive through proxies.
    int eventStreamsPerToken = 4;
    int eventHeartbeatMs = 25'000;
    RateLimiter::Settings rate;
};

} // namespace clipvane::service
