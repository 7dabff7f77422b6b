#pragma once

#include <QObject>
#include <QStringList>
#include <chrono>

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
    static constexpr std::chrono::milliseconds kHandOffWait{800};
    // Larger messages are refused: a handful of links fits many times over.
    static constexpr qint64 kMaxMessageBytes = 256 * 1024;

    // The socket's name for this user and the current profile.
    static QString serverName();

    // Hands arguments to a running application; true once it has taken them.
    static bool handOff(const QString &name, const QStringList &arguments,
                        std::chrono::milliseconds wait = kHandOffWait);

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
