#include "api/EventStreams.h"

#include <atomic>

namespace clipvane::service {

class EventStreams::Stream : public StreamBody
{
public:
    Stream(EventStreams &owner, std::string token, std::chrono::milliseconds heartbeat)
        : StreamBody(heartbeat)
        , m_owner(owner)
        , m_token(std::move(token))
    {}
    // A stream that never reached its connection still gives its slot back.
    ~Stream() override
    {
        m_subscription.reset();
        if (!m_released)
            m_owner.release(m_token);
    }

    void listen(ChangeHub::Subscription subscription) { m_subscription = std::move(subscription); }

    // On the publishing thread, under the hub's lock: only notes the latest clock.
    void changed(qint64 now)
    {
        qint64 seen = m_latest.load();
        while (now > seen && !m_latest.compare_exchange_weak(seen, now)) {
        }
        wake();
    }

protected:
    bool produce(std::string &out, bool heartbeat) override
    {
        if (!m_opened) {
            m_opened = true;
            out += ": open\n\n";
        }
        // Changes that came close together go out as one event with the latest clock.
        if (const qint64 latest = m_latest.load(); latest > m_sent) {
            m_sent = latest;
            out += "event: change\ndata: {\"now\":" + std::to_string(latest) + "}\n\n";
        } else if (heartbeat && out.empty()) {
            out += ": heartbeat\n\n";
        }
        return true;
    }

    void closed() override
    {
        m_subscription.reset();
        m_released = true;
        m_owner.release(m_token);
    }

private:
    EventStreams &m_owner;
    const std::string m_token;
    ChangeHub::Subscription m_subscription;
    std::atomic<qint64> m_latest{0};
    qint64 m_sent = 0; // the loop's own
    bool m_opened = false;
    bool m_released = false;
};

EventStreams::EventStreams(ChangeHub &hub, Settings settings)
    : m_hub(hub)
    , m_settings(settings)
{}

EventStreams::~EventStreams() = default;

std::shared_ptr<StreamBody> EventStreams::open(const Account &user, const std::string &token)
{
    {
        std::lock_guard lock(m_mutex);
        int &open = m_perToken[token];
        if (open >= m_settings.perToken) {
            if (open == 0)
                m_perToken.erase(token);
            return nullptr;
        }
        ++open;
    }
    auto stream = std::make_shared<Stream>(*this, token, m_settings.heartbeat);
    Stream *listener = stream.get();
    // The stream unsubscribes when its reply is freed, before the stream itself goes.
    stream->listen(m_hub.subscribe(user.id, [listener](qint64 now) { listener->changed(now); }));
    return stream;
}

void EventStreams::release(const std::string &token)
{
    std::lock_guard lock(m_mutex);
    if (const auto found = m_perToken.find(token); found != m_perToken.end() && --found->second <= 0)
        m_perToken.erase(found);
}

int EventStreams::openStreams() const
{
    std::lock_guard lock(m_mutex);
    int total = 0;
    for (const auto &[token, count] : m_perToken)
        total += count;
    return total;
}

} // namespace clipvane::service
