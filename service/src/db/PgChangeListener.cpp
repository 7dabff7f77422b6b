#include "db/PgChangeListener.h"

#include "db/PgConnection.h"

#include <libpq-fe.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>

namespace clipvane::service {

namespace {

constexpr std::chrono::milliseconds kFirstRetry{100};
constexpr std::chrono::milliseconds kLastRetry{5000};
// A connection silent this long is asked whether it still stands (a dropped network never says).
constexpr int kProbeMs = 30'000;
// PostgreSQL refuses payloads of 8000 bytes and more.
constexpr size_t kMaxPayload = 7000;

std::optional<qint64> number(std::string_view text)
{
    qint64 value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

} // namespace

PgChangeListener::PgChangeListener(std::string conninfo, std::string channel, std::string ownInstance,
                                   Callbacks callbacks)
    : m_conninfo(std::move(conninfo))
    , m_channel(std::move(channel))
    , m_instance(std::move(ownInstance))
    , m_callbacks(std::move(callbacks))
{}

PgChangeListener::~PgChangeListener()
{
    stop();
}

void PgChangeListener::start()
{
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    {
        std::lock_guard lock(m_mutex);
        m_firstTry = true;
    }
    m_thread = std::thread([this] { run(); });
    std::unique_lock lock(m_mutex);
    m_tried.wait(lock, [this] { return !m_firstTry; });
}

void PgChangeListener::tried()
{
    {
        std::lock_guard lock(m_mutex);
        m_firstTry = false;
    }
    m_tried.notify_all();
}

void PgChangeListener::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_stopFd, &one, sizeof one);
    m_thread.join();
    close(m_stopFd);
    m_stopFd = -1;
}

std::vector<std::string> PgChangeListener::payloads(const std::string &instance, const std::vector<qint64> &accountIds,
                                                    qint64 now)
{
    std::vector<std::string> notices;
    const std::string head = instance + ' ' + std::to_string(now) + ' ';
    std::string payload = head;
    for (const qint64 id : accountIds) {
        const std::string text = std::to_string(id);
        if (payload.size() + text.size() + 1 > kMaxPayload) {
            notices.push_back(std::move(payload));
            payload = head;
        }
        if (payload.size() > head.size())
            payload += ',';
        payload += text;
    }
    if (payload.size() > head.size())
        notices.push_back(std::move(payload));
    return notices;
}

std::optional<PgChangeListener::Notice> PgChangeListener::parse(std::string_view payload)
{
    const size_t first = payload.find(' ');
    const size_t second = first == std::string_view::npos ? first : payload.find(' ', first + 1);
    if (second == std::string_view::npos || first == 0)
        return std::nullopt;
    Notice notice;
    notice.instance = std::string(payload.substr(0, first));
    const auto now = number(payload.substr(first + 1, second - first - 1));
    if (!now)
        return std::nullopt;
    notice.now = *now;
    std::string_view ids = payload.substr(second + 1);
    while (!ids.empty()) {
        const size_t comma = ids.find(',');
        const auto id = number(ids.substr(0, comma));
        if (!id)
            return std::nullopt;
        notice.accountIds.push_back(*id);
        ids = comma == std::string_view::npos ? std::string_view() : ids.substr(comma + 1);
    }
    if (notice.accountIds.empty())
        return std::nullopt;
    return notice;
}

void PgChangeListener::run()
{
    auto delay = kFirstRetry;
    while (!m_stopping) {
        try {
            PgConnection connection(m_conninfo);
            char *quoted = PQescapeIdentifier(connection.handle(), m_channel.c_str(), m_channel.size());
            if (!quoted)
                throw SqlError("cannot quote the change channel");
            const std::string sql = std::string("LISTEN ") + quoted;
            PQfreemem(quoted);
            connection.exec(sql.c_str());
            if (m_listens++ > 0 && m_callbacks.missed) {
                auto clock = connection.prepare("SELECT value + 1 FROM meta WHERE key = 'clock'");
                m_callbacks.missed(clock.step() ? clock.int64(0) : 1);
            }
            delay = kFirstRetry;
            tried();
            listen(connection);
        } catch (const std::exception &error) {
            tried();
            std::fprintf(stderr, "clipvane-service: listening for other instances' changes: %s\n", error.what());
        }
        if (!m_stopping) {
            pause(delay);
            delay = std::min(delay * 2, kLastRetry);
        }
    }
}

void PgChangeListener::listen(PgConnection &connection)
{
    pg_conn *conn = connection.handle();
    while (!m_stopping) {
        // Notices read along with a reply (the probe's) wait here, not on the socket.
        while (PGnotify *notify = PQnotifies(conn)) {
            const auto notice = parse(notify->extra ? notify->extra : "");
            PQfreemem(notify);
            if (notice && notice->instance != m_instance && m_callbacks.changed)
                m_callbacks.changed(notice->accountIds, notice->now);
        }
        pollfd polled[2] = {{PQsocket(conn), POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        const int ready = poll(polled, 2, kProbeMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (polled[1].revents != 0)
            return;
        if (ready == 0) {
            connection.exec("SELECT 1"); // throws when the server is gone
            continue;
        }
        if (PQconsumeInput(conn) == 0)
            throw SqlError(std::string("the connection dropped: ") + PQerrorMessage(conn));
    }
}

void PgChangeListener::pause(std::chrono::milliseconds delay)
{
    pollfd polled{m_stopFd, POLLIN, 0};
    poll(&polled, 1, int(delay.count()));
}

} // namespace clipvane::service
