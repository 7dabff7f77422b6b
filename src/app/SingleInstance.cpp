#include "SingleInstance.h"

#include "AppPaths.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

namespace clipvane {

namespace {

constexpr char kAccepted[] = "ok\n";
constexpr std::chrono::milliseconds kReadLimit{2000};

} // namespace

QString SingleInstance::serverName()
{
    // The profile's own folder tells profiles apart. The socket lives in the user's private
    // runtime folder, where no other user can reach or replace it.
    const QByteArray key = AppPaths::dataDir().toUtf8();
    const QString file =
        QStringLiteral("clipvane-") +
        QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? file : QDir(runtime).filePath(file);
}

QByteArray SingleInstance::encode(const QStringList &arguments)
{
    return QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QStringList> SingleInstance::decode(const QByteArray &message)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList arguments;
    for (const QJsonValue &value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        arguments.append(value.toString());
    }
    return arguments;
}

std::optional<int> SingleInstance::endAfterOffer(const QString &name, const QStringList &arguments)
{
    switch (offer(name, arguments)) {
    case HandOff::taken:
        return 0;
    case HandOff::unanswered:
        QTextStream(stderr) << "clipvane: Clipvane is running but did not answer in time; "
                               "what was handed to it may still arrive.\n";
        return 1;
    case HandOff::nobodyListening:
        break;
    }
    return std::nullopt;
}

SingleInstance::HandOff SingleInstance::offer(const QString &name, const QStringList &arguments,
                                              std::chrono::milliseconds connectWait,
                                              std::chrono::milliseconds answerWait)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(static_cast<int>(connectWait.count())))
        return HandOff::nobodyListening;
    // Connected: an application holds the name, however long it takes to answer.
    const QDeadlineTimer deadline(answerWait);
    socket.write(encode(arguments));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            return HandOff::unanswered;
    }
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
        answer += socket.readAll();
    return answer.startsWith(kAccepted) ? HandOff::taken : HandOff::unanswered;
}

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_server(new QLocalServer(this))
{
    // No socket options: with them Qt binds elsewhere and renames the socket into place, which
    // silently replaces the socket of an application that is already running.
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::listen()
{
    if (m_server->listen(m_name))
        return true;
    if (m_server->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // The name is taken: by a live application, or by the socket file of one that died.
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(static_cast<int>(kConnectWait.count())))
        return false;
    QLocalServer::removeServer(m_name);
    return m_server->listen(m_name);
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        // A launch that never finishes its message is dropped, not waited for.
        QTimer::singleShot(kReadLimit, socket, [socket] { socket->abort(); });
    }
}

void SingleInstance::read(QLocalSocket *socket)
{
    if (socket->bytesAvailable() + socket->property("received").toByteArray().size() > kMaxMessageBytes) {
        socket->abort();
        return;
    }
    QByteArray received = socket->property("received").toByteArray() + socket->readAll();
    if (!received.contains('\n')) {
        socket->setProperty("received", received);
        return;
    }
    const std::optional<QStringList> arguments = decode(received.left(received.indexOf('\n')));
    socket->setProperty("received", QByteArray());
    if (!arguments) {
        socket->abort();
        return;
    }
    // Handled (added and saved) before the launch is told its links were taken: a crash in
    // between leaves the launch without an answer rather than losing a link it was promised.
    const QPointer<QLocalSocket> guard(socket);
    Q_EMIT messageReceived(*arguments);
    if (!guard)
        return;
    socket->write(kAccepted);
    socket->flush();
    socket->disconnectFromServer();
}

} // namespace clipvane
