#pragma once

#include <QObject>
#include <QStringList>
#include <chrono>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace clipvane {

// One running application per user and profile. A later launch hands its arguments (links,
// sign-in callbacks; none means "show the window") to the running one over a local socket and
// exits; the running one receives them as messageReceived().
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // A listening application is connected to at once, even while it is busy (the system queues
    // the connection): a launch that cannot connect within this wait finds nobody listening.
    static constexpr std::chrono::milliseconds kConnectWait{800};
    // A connected application answers once it has handled the arguments (added the links and
    // saved them), which a busy machine may take a long while to do.
    static constexpr std::chrono::milliseconds kAnswerWait{30000};
    // Larger messages are refused: a handful of links fits many times over.
    static constexpr qint64 kMaxMessageBytes = 256 * 1024;

    // The socket's name for this user and the current profile.
    static QString serverName();

    enum class HandOff {
        taken,           // a running application has the arguments
        nobodyListening, // no application runs: this launch may start one
        unanswered,      // one runs but did not say it took them: this launch must not start another
    };
    // Hands arguments to a running application and says what came of it.
    static HandOff offer(const QString &name, const QStringList &arguments,
                         std::chrono::milliseconds connectWait = kConnectWait,
                         std::chrono::milliseconds answerWait = kAnswerWait);
    // Offers the arguments to a running application and gives the status this launch ends with
    // when one runs: 0 when it took them, 1 when it did not answer (after saying so on standard
    // error: it holds the library, so this launch must not open it too). None when none runs.
    static std::optional<int> endAfterOffer(const QString &name, const QStringList &arguments);

    explicit SingleInstance(QString name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Starts answering later launches. A socket left by an application that died is taken over.
    // False when another live application answers on the name (it then got nothing from us).
    bool listen();

    static QByteArray encode(const QStringList &arguments);
    // None for anything but a JSON array of texts.
    static std::optional<QStringList> decode(const QByteArray &message);

Q_SIGNALS:
    void messageReceived(const QStringList &arguments);

private:
    void accept();
    void read(QLocalSocket *socket);

    QString m_name;
    QLocalServer *m_server;
};

} // namespace clipvane
