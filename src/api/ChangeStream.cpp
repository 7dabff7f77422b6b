#include "ChangeStream.h"

#include "APIClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <utility>

namespace clipvane {

namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusUnauthorized = 401;
constexpr int kStatusNotFound = 404;
constexpr int kStatusMethodNotAllowed = 405;
constexpr int kStatusTooManyRequests = 429;
// Beyond this the doubling no longer matters: the cap has long been reached.
constexpr int kMaxDoublings = 30;

// The clock of one change event, or none: anything else in its data is ignored.
std::optional<qint64> nowOf(const QByteArray &data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue now = document.object().value(QLatin1String("now"));
    if (!now.isDouble())
        return std::nullopt;
    const double value = now.toDouble();
    // Whole numbers only, and only those a double holds exactly.
    if (value < 0 || value > 9007199254740992.0 || std::floor(value) != value)
        return std::nullopt;
    return qint64(value);
}

} // namespace

ChangeStream::ChangeStream(APIClient &api, QObject *parent)
    : ChangeStream(api, Timing(), parent)
{}

ChangeStream::ChangeStream(APIClient &api, Timing timing, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_timing(std::move(timing))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &ChangeStream::connectNow);
    m_idle.setSingleShot(true);
    m_idle.setInterval(m_timing.idleLimit);
    connect(&m_idle, &QTimer::timeout, this, &ChangeStream::onIdle);
}

ChangeStream::~ChangeStream()
{
    closeReply();
}

void ChangeStream::start()
{
    m_failures = 0;
    m_hasOpened = false;
    connectNow();
}

void ChangeStream::stop()
{
    m_retry.stop();
    closeReply();
    setState(State::stopped);
}

void ChangeStream::reconnectNow()
{
    if (m_state != State::waiting)
        return;
    // The path was down, not the service: the attempts that failed meanwhile say nothing of it.
    m_failures = 0;
    connectNow();
}

void ChangeStream::connectNow()
{
    m_retry.stop();
    closeReply();
    m_parser = EventStreamParser();
    ++m_attempts;
    m_reply = m_api.openStream(QString::fromLatin1(kPath));
    if (m_reply == nullptr) {
        // No token to send: as good as refused.
        setState(State::refused);
        return;
    }
    setState(State::connecting);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &ChangeStream::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &ChangeStream::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &ChangeStream::onFinished);
    m_idle.start();
}

void ChangeStream::onMetaData()
{
    if (m_state != State::connecting)
        return;
    m_idle.start();
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray type = m_reply->rawHeader(QByteArrayLiteral("Content-Type")).trimmed().toLower();
    const QByteArray encoding = m_reply->rawHeader(QByteArrayLiteral("Content-Encoding")).trimmed().toLower();
    if (status == kStatusOk && type.startsWith("text/event-stream") && (encoding.isEmpty() || encoding == "identity")) {
        m_openedAt.start();
        setState(State::open);
        if (std::exchange(m_hasOpened, true))
            Q_EMIT resumed();
        return;
    }
    if (status == kStatusUnauthorized) {
        closeReply();
        setState(State::refused);
        Q_EMIT unauthorized();
        return;
    }
    // An earlier release of the service, or something in front of it that answers with a page:
    // there is no stream to wait for, and the library syncs as it always did.
    if (status == kStatusNotFound || status == kStatusMethodNotAllowed || status == kStatusOk) {
        closeReply();
        setState(State::unavailable);
        return;
    }
    if (status == kStatusTooManyRequests) {
        retryLater(std::chrono::milliseconds(qint64(double(m_timing.busyRetry.count()) * (0.5 + 0.5 * random()))));
        return;
    }
    retryLater();
}

void ChangeStream::onReadyRead()
{
    if (m_state != State::open)
        return;
    m_idle.start();
    const QByteArray arrived = m_reply->readAll();
    QList<EventStreamParser::Event> events;
    const bool intact = m_parser.feed(arrived, events);
    const QPointer<ChangeStream> self(this);
    const QNetworkReply *const reply = m_reply;
    for (const EventStreamParser::Event &event : std::as_const(events)) {
        if (event.type != "change")
            continue;
        if (const std::optional<qint64> now = nowOf(event.data))
            Q_EMIT changed(*now);
        // A receiver may have stopped or restarted the stream.
        if (!self || m_reply != reply)
            return;
    }
    if (!intact) {
        qWarning("clipvane: the change stream sent a line or an event beyond its bound; reconnecting later");
        retryLater();
    }
}

void ChangeStream::onFinished()
{
    // The service ended the stream (a restart, a proxy's time limit) or the connection failed.
    if (m_state == State::connecting || m_state == State::open)
        retryLater();
}

void ChangeStream::onIdle()
{
    if (m_state == State::connecting || m_state == State::open)
        retryLater();
}

void ChangeStream::closeReply()
{
    m_idle.stop();
    if (m_reply == nullptr)
        return;
    QNetworkReply *const reply = std::exchange(m_reply, nullptr);
    reply->disconnect(this);
    // Not at once: this may run inside one of the reply's own signals, which Qt's reply does
    // not expect to be aborted from.
    QMetaObject::invokeMethod(
        reply,
        [reply] {
            reply->abort();
            reply->deleteLater();
        },
        Qt::QueuedConnection);
}

void ChangeStream::retryLater(std::chrono::milliseconds delay)
{
    // A stream that stayed up a while was a good one: the back-off starts over.
    if (m_state == State::open && m_openedAt.isValid() && m_openedAt.elapsed() >= m_timing.steady.count())
        m_failures = 0;
    closeReply();
    if (delay.count() < 0)
        delay = nextBackoff();
    setState(State::waiting);
    m_retry.start(delay);
}

std::chrono::milliseconds ChangeStream::nextBackoff()
{
    const int doublings = std::min(m_failures, kMaxDoublings);
    ++m_failures;
    const double ceiling =
        std::min(double(m_timing.maxRetry.count()), double(m_timing.firstRetry.count()) * std::ldexp(1.0, doublings));
    // Full jitter spreads the devices a service restart dropped all at once; the floor keeps a
    // service that drops every stream at once from being asked again in a tight loop.
    const double floor = double(m_timing.firstRetry.count()) / 4;
    return std::chrono::milliseconds(qint64(std::max(floor, ceiling * random())));
}

double ChangeStream::random() const
{
    const double value = m_timing.random ? m_timing.random() : QRandomGenerator::global()->generateDouble();
    return std::clamp(value, 0.0, 1.0);
}

void ChangeStream::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

} // namespace clipvane
