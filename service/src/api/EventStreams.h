#pragma once

#include "domain/ChangeHub.h"
#include "domain/FeedWriter.h"
#include "http/StreamBody.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace clipvane::service {

// The open event streams of /api/events.php: each tells one device, as it happens, that its
// user's pull has something new ("event: change" with the clock a pull must reach), and
// comments on it now and then so that proxies and the client know it is alive. A token holds
// at most a few streams at once.
class EventStreams
{
public:
    struct Settings
    {
        int perToken = 4;
        std::chrono::milliseconds heartbeat{25'000};
    };

    EventStreams(ChangeHub &hub, Settings settings);
    ~EventStreams();
    EventStreams(const EventStreams &) = delete;
    EventStreams &operator=(const EventStreams &) = delete;

    // A new stream for the user, or none when the token already holds as many as it may.
    // The streams must end before this object does.
    std::shared_ptr<StreamBody> open(const Account &user, const std::string &token);
    int openStreams() const;

private:
    class Stream;
    void release(const std::string &token);

    ChangeHub &m_hub;
    const Settings m_settings;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, int> m_perToken;
};

} // namespace clipvane::service
