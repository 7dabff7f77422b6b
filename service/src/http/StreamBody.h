#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>

struct MHD_Connection;

namespace clipvane::service {

// The body of a reply that stays open and is written a piece at a time (an event stream).
// While it has nothing to send its connection is suspended: it costs no thread and is not
// polled, until wake() says there is news or a heartbeat period passes without a word.
class StreamBody
{
public:
    using Clock = std::chrono::steady_clock;

    explicit StreamBody(std::chrono::milliseconds heartbeat);
    virtual ~StreamBody();
    StreamBody(const StreamBody &) = delete;
    StreamBody &operator=(const StreamBody &) = delete;

    // From any thread: there is something new to send. Nothing happens once the stream closed.
    void wake();

protected:
    // On the event loop: appends to out what is to be sent now (perhaps nothing). heartbeat:
    // nothing was sent for a heartbeat period. False ends the stream after out.
    virtual bool produce(std::string &out, bool heartbeat) = 0;
    // Once, when the reply is gone (the client left, the stream ended or the server stopped).
    virtual void closed() {}

private:
    friend class HttpServer;

    // For the HTTP server. attach: the connection the body is sent on, and how to wake the
    // loop after resuming it.
    void attach(MHD_Connection *connection, std::function<void()> wakeLoop);
    // libmicrohttpd's content reader: bytes, 0 after suspending, or the end.
    ssize_t read(char *buffer, size_t max);
    // Resumes the stream for a heartbeat when one is due.
    void beatIfDue(Clock::time_point now);
    // The server stops: the stream ends as soon as it is resumed.
    void end();
    // The reply was freed.
    void detach();
    // Resumes a suspended connection; m_mutex held.
    void resumeLocked();

    const std::chrono::milliseconds m_heartbeat;
    std::mutex m_mutex;
    MHD_Connection *m_connection = nullptr;
    std::function<void()> m_wakeLoop;
    std::string m_pending;
    size_t m_sent = 0; // of m_pending
    Clock::time_point m_nextBeat;
    bool m_suspended = false;
    bool m_news = true; // the first read asks produce() for the stream's opening
    bool m_beatDue = false;
    bool m_ending = false;
    bool m_detached = false;
};

} // namespace clipvane::service
