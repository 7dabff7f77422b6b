#pragma once

#include "EventStreamParser.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

class QNetworkReply;

namespace clipvane {

class APIClient;

// The service's live change stream (GET events.php): tells, as it happens, that the user's
// library changed on the service, with the service clock a pull right after would report. It
// only says *that* something changed; the sync cycle fetches what. A dropped stream comes back
// by itself after a back-off with full jitter; a refused token stops it (the engine's own sync
// then finds the sign-out), and a service of an earlier release, which has no stream, turns it
// off until the next start(). Lives on the thread of the API client's network manager.
class ChangeStream : public QObject
{
    Q_OBJECT

public:
    enum class State {
        stopped,     // not asked for, or stopped
        connecting,  // a request is out, no answer yet
        open,        // events arrive
        waiting,     // dropped; the next attempt is due after the back-off
        refused,     // the token was refused: stays stopped until start()
        unavailable, // the service offers no stream: stays off until start()
    };
    Q_ENUM(State)

    struct Timing
    {
        std::chrono::milliseconds firstRetry{1000};
        std::chrono::milliseconds maxRetry{60000};
        // A service holding too many streams for this token is left alone for longer.
        std::chrono::milliseconds busyRetry{300000};
        // The service sends a heartbeat every 25 s: a stream silent this long is dead, whatever
        // the connection says (a laptop that slept, a proxy that forgot it).
        std::chrono::milliseconds idleLimit{60000};
        // A stream that stayed up this long starts the back-off from firstRetry again.
        std::chrono::milliseconds steady{60000};
        // A number in [0, 1) for the jitter; empty: the system's random generator.
        std::function<double()> random;
    };

    static constexpr auto kPath = "events.php";

    explicit ChangeStream(APIClient &api, QObject *parent = nullptr);
    ChangeStream(APIClient &api, Timing timing, QObject *parent = nullptr);
    ~ChangeStream() override;

    // Connects afresh, forgetting an earlier refusal or an absent stream (a new sign-in).
    void start();
    // Closes the stream and keeps it closed.
    void stop();
    // Connects at once when waiting out a back-off (the network came back); otherwise nothing.
    void reconnectNow();

    State state() const { return m_state; }
    // Connections begun since construction.
    int attempts() const { return m_attempts; }

Q_SIGNALS:
    // The user's library changed on the service; now is the service clock after the change.
    void changed(qint64 now);
    void stateChanged(ChangeStream::State state);
    // The stream is open again after a drop: changes made in between were never announced.
    void resumed();
    // The service refused the token on the stream.
    void unauthorized();

private:
    void connectNow();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onIdle();
    // Closes the reply without its signals reaching this object again.
    void closeReply();
    // Closes the reply and connects again after delay (the back-off's next one when none given).
    void retryLater(std::chrono::milliseconds delay = std::chrono::milliseconds(-1));
    std::chrono::milliseconds nextBackoff();
    double random() const;
    void setState(State state);

    APIClient &m_api;
    Timing m_timing;
    State m_state = State::stopped;
    QNetworkReply *m_reply = nullptr;
    EventStreamParser m_parser;
    QTimer m_retry;
    QTimer m_idle;
    QElapsedTimer m_openedAt;
    int m_failures = 0; // attempts in a row that did not stay up; the back-off grows with them
    int m_attempts = 0;
    bool m_hasOpened = false; // since the last start()
};

} // namespace clipvane
