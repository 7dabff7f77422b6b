#include "APIClient.h"

#include "AppPaths.h"
#include "BoundedInflater.h"
#include "SecretStore.h"
#include "SettingsKeys.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <memory>

#ifndef CLIPVANE_DEFAULT_API_BASE
#define CLIPVANE_DEFAULT_API_BASE "http://127.0.0.1:8470/api"
#endif

namespace clipvane {

namespace {

using namespace std::chrono_literals;

// Each call's deadline for the whole request, from sending it to the last byte of its reply.
constexpr auto kListTimeout = 60s;
constexpr auto kAddTimeout = 90s;
constexpr auto kPatchTimeout = 30s;
constexpr auto kDeleteTimeout = 30s;
constexpr auto kFamilyTimeout = 30s;
constexpr auto kExportTimeout = 60s;
constexpr auto kAccountDeleteTimeout = 30s;
constexpr auto kTelegramTimeout = 30s;
constexpr auto kAskTimeout = 60s;

constexpr int kStatusOk = 200;
constexpr int kStatusUnauthorized = 401;

// What the network thread may read ahead of the client taking the body in.
constexpr qint64 kReadBufferBytes = 256 * 1024;

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// Connection, time-out, TLS and proxy failures: the reply, if any arrived, is incomplete.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

struct DeleteLater
{
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

std::optional<QUrl> APIClient::acceptableBase(const QString &text)
{
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http")) {
        if (!isLoopbackHost(url.host()))
            return std::nullopt;
    } else if (scheme != QLatin1String("https")) {
        return std::nullopt;
    }
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

namespace {

// A token goes into a header line; one holding control or non-ASCII characters could split
// the request, so it is treated as no token at all.
std::optional<QByteArray> usableToken(const std::optional<QString> &token)
{
    if (!token || token->isEmpty())
        return std::nullopt;
    for (const QChar c : *token) {
        if (c.unicode() <= u' ' || c.unicode() > u'~')
            return std::nullopt;
    }
    return token->toLatin1();
}

// The longest content type a message quotes: a hostile one could fill the status line.
constexpr qsizetype kShownContentType = 60;

QString secondsText(std::chrono::milliseconds time)
{
    return QLocale::c().toString(double(time.count()) / 1000.0, 'g', 3) + QStringLiteral(" s");
}

// A reply that is not JSON at all: a proxy's error page, an empty body, compressed bytes.
// Qt's parser would only say "illegal value"; the user is told what came instead.
APIError notUnderstood(int status, const QByteArray &contentType, const QByteArray &body)
{
    QString what;
    if (body.isEmpty())
        what = QCoreApplication::translate("APIClient", "an empty reply");
    else if (contentType.isEmpty())
        what = QCoreApplication::translate("APIClient", "no content type, not JSON");
    else
        what = QString::fromLatin1(contentType).simplified().left(kShownContentType) +
               QCoreApplication::translate("APIClient", ", not JSON");
    return APIError::parse(
        QCoreApplication::translate("APIClient", "The service's reply was not understood (HTTP %1, %2)")
            .arg(status)
            .arg(what));
}

ApiResult<QJsonObject> jsonObject(int status, const QByteArray &contentType, const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return notUnderstood(status, contentType, body);
    if (!document.isObject())
        return APIError::badResponse();
    return document.object();
}

ApiResult<APIVideo> videoOf(const QJsonObject &object)
{
    const QJsonValue value = object.value(QLatin1String("video"));
    if (!value.isObject())
        return APIError::badResponse();
    auto video = APIVideo::fromJson(value.toObject());
    if (!video)
        return APIError::badResponse();
    if (QString broken = video->boundBroken(); !broken.isEmpty())
        return APIError::badResponse(std::move(broken));
    return std::move(*video);
}

} // namespace

APIClient::APIClient(QUrl base, SecretStore &secrets, QNetworkAccessManager &network)
    : m_base(std::move(base))
    , m_secrets(secrets)
    , m_network(network)
{}

APIClient::Pace APIClient::defaultPace()
{
    Pace pace;
    bool ok = false;
    const qint64 cap = qEnvironmentVariableIntValue("CLIPVANE_API_DEADLINE_MS", &ok);
    if (ok && cap > 0)
        pace.deadlineCap = std::chrono::milliseconds(cap);
    return pace;
}

QNetworkAccessManager &APIClient::sharedNetwork()
{
    static QNetworkAccessManager *const network = new QNetworkAccessManager;
    return *network;
}

QUrl APIClient::webOrigin(const QUrl &base)
{
    QUrl origin = base.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::StripTrailingSlash);
    QString path = origin.path();
    if (path.endsWith(u"/api"))
        path.chop(4);
    origin.setPath(path);
    return origin;
}

QUrl APIClient::builtInBase()
{
    return QUrl(QStringLiteral(CLIPVANE_DEFAULT_API_BASE));
}

namespace {

// The configured service address and where it came from; empty when none is configured.
std::pair<QString, QString> configuredBase()
{
    // The developer setting wins when it holds text at all, even text that is then refused.
    const QVariant setting = AppPaths::standardSettings()->value(SettingsKeys::apiBase);
    if (setting.typeId() == QMetaType::QString)
        return {setting.toString(), QStringLiteral("the setting “apiBase”")};
    return {qEnvironmentVariable("CLIPVANE_API_BASE"), QStringLiteral("CLIPVANE_API_BASE")};
}

} // namespace

QUrl APIClient::resolveBase()
{
    const QString text = configuredBase().first;
    if (text.isEmpty())
        return builtInBase();
    return acceptableBase(text).value_or(builtInBase());
}

QString APIClient::baseRefusal()
{
    const auto [text, source] = configuredBase();
    if (text.isEmpty() || acceptableBase(text))
        return {};
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    QString why;
    if (!url.isValid() || url.host().isEmpty())
        why = QCoreApplication::translate("APIClient", "it is not a web address");
    else if (url.scheme().compare(u"http", Qt::CaseInsensitive) == 0)
        why = QCoreApplication::translate(
            "APIClient", "plain http would carry your sign-in in clear text to another computer (use https)");
    else
        why = QCoreApplication::translate("APIClient", "it is neither https nor http");
    return QCoreApplication::translate("APIClient",
                                       "The service address “%1” from %2 was refused: %3. Using %4 instead.")
        .arg(text, source, why, builtInBase().toString());
}

QUrl APIClient::endpoint(const QString &path, const QUrlQuery &query) const
{
    QUrl url = m_base;
    QString joined = url.path(QUrl::FullyEncoded);
    if (!joined.endsWith(QLatin1Char('/')))
        joined += QLatin1Char('/');
    joined += QString::fromLatin1(QUrl::toPercentEncoding(path));
    url.setPath(joined, QUrl::TolerantMode);
    url.setQuery(query.isEmpty() ? QString() : query.toString(QUrl::FullyEncoded));
    return url;
}

QCoro::Task<ApiResult<APIClient::Reply>> APIClient::send(QString path, QUrlQuery query, QByteArray method,
                                                         std::optional<QByteArray> body, bool auth,
                                                         std::chrono::milliseconds timeout, const QObject *scope,
                                                         qint64 bound)
{
    QNetworkRequest request(endpoint(path, query));
    // Qt's own time-out.restarts with every byte: only a backstop for a silent connection.
    request.setTransferTimeout(int(timeout.count()));
    // Cookies are never sent or stored, and personal replies never reach the disk cache.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // A redirect elsewhere would carry the token to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    // Replies are inflated here, not by Qt: Qt 6.4 inflates with no bound of its own, and a small
    // reply that inflates without end stalls it until the deadline (its bomb check fails the
    // reply without finishing it). Naming the encoding ourselves turns Qt's inflating off.
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("gzip"));

    if (auth) {
        const auto token = usableToken(m_secrets.keychainRead(SecretKeys::token));
        if (!token)
            co_return APIError::unauthorized();
        request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + *token);
    }
    if (body)
        request.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));

    QNetworkReply *reply = nullptr;
    if (!body && method == "GET")
        reply = m_network.get(request);
    else if (body && method == "POST")
        reply = m_network.post(request, *body);
    else if (body)
        reply = m_network.sendCustomRequest(request, method, *body);
    else
        reply = m_network.sendCustomRequest(request, method);
    const std::unique_ptr<QNetworkReply, DeleteLater> owner(reply);
    // Queued: the scope is on its way out, and the abort resumes this coroutine at once.
    if (scope != nullptr)
        QObject::connect(scope, &QObject::destroyed, reply, &QNetworkReply::abort, Qt::QueuedConnection);

    // The body is taken in as it arrives, through a small read buffer, so the network thread
    // cannot run ahead and hold a huge reply in memory; the download is abandoned as soon as
    // it is known to exceed the bound, by the announced length or by the (decompressed) bytes,
    // and as soon as it runs past its deadline or below the pace.
    enum class Refusal { none, tooLarge, deadline, tooSlow, badEncoding };
    struct Intake
    {
        QByteArray body;
        Refusal refusal = Refusal::none;
        qint64 windowBytes = 0;                    // taken in since the pace was last checked
        std::unique_ptr<BoundedInflater> inflater; // for a gzip-encoded reply
        QByteArray encoding;
    };
    const auto intake = std::make_shared<Intake>();
    bound = bound > 0 ? std::min(bound, m_maxBodyBytes) : m_maxBodyBytes;
    const auto refuse = [reply, intake](Refusal why) {
        if (intake->refusal != Refusal::none)
            return;
        intake->refusal = why;
        intake->body.clear();
        reply->abort();
    };
    reply->setReadBufferSize(kReadBufferBytes);

    const Pace pace = m_pace;
    const std::chrono::milliseconds deadline = std::min(timeout, pace.deadlineCap);
    // Children of the reply: no signal of the reply can reach them once it is gone.
    auto *const deadlineTimer = new QTimer(reply);
    deadlineTimer->setSingleShot(true);
    QObject::connect(deadlineTimer, &QTimer::timeout, reply, [refuse] { refuse(Refusal::deadline); });
    deadlineTimer->start(deadline);
    auto *const paceTimer = new QTimer(reply);
    QObject::connect(paceTimer, &QTimer::timeout, reply, [intake, pace, refuse] {
        if (intake->windowBytes < pace.minimumBytes)
            refuse(Refusal::tooSlow);
        intake->windowBytes = 0;
    });

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, intake, bound, refuse, paceTimer, pace] {
        // The reply has begun: from now on it must keep up the pace.
        if (!paceTimer->isActive())
            paceTimer->start(pace.window);
        const QByteArray encoding = reply->rawHeader(QByteArrayLiteral("Content-Encoding")).trimmed().toLower();
        if (encoding == "gzip" && !intake->inflater)
            intake->inflater = std::make_unique<BoundedInflater>(bound);
        else if (!encoding.isEmpty() && encoding != "identity" && encoding != "gzip") {
            intake->encoding = encoding.left(kShownContentType);
            refuse(Refusal::badEncoding);
        }
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > bound)
            refuse(Refusal::tooLarge);
    });
    const auto drain = [reply, intake, bound, refuse] {
        // An aborted reply is closed: there is nothing left to read.
        if (intake->refusal != Refusal::none || !reply->isOpen())
            return;
        const QByteArray arrived = reply->readAll();
        intake->windowBytes += arrived.size();
        if (intake->inflater) {
            const BoundedInflater::Result inflated = intake->inflater->append(arrived, intake->body);
            if (inflated != BoundedInflater::Result::ok)
                refuse(inflated == BoundedInflater::Result::tooLarge ? Refusal::tooLarge : Refusal::badEncoding);
            return;
        }
        intake->body.append(arrived);
        if (intake->body.size() > bound)
            refuse(Refusal::tooLarge);
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, drain);

    if (!reply->isFinished())
        co_await reply;
    drain();
    deadlineTimer->stop();
    paceTimer->stop();

    switch (intake->refusal) {
    case Refusal::none:
        break;
    case Refusal::tooLarge:
        co_return APIError::badResponse(QCoreApplication::translate("APIClient", "the reply was larger than %1")
                                            .arg(QLocale::c().formattedDataSize(bound, 0)));
    case Refusal::deadline:
        co_return APIError::timedOut(
            QCoreApplication::translate("APIClient", "Timed out: the service did not answer within %1")
                .arg(secondsText(deadline)));
    case Refusal::tooSlow:
        co_return APIError::timedOut(
            QCoreApplication::translate("APIClient",
                                        "Timed out: the service sent its reply too slowly (under %1 in %2)")
                .arg(QLocale::c().formattedDataSize(pace.minimumBytes))
                .arg(secondsText(pace.window)));
    case Refusal::badEncoding:
        co_return APIError::badResponse(
            intake->encoding.isEmpty()
                ? QCoreApplication::translate("APIClient", "the reply's compressed bytes were damaged")
                : QCoreApplication::translate("APIClient",
                                              "the reply came in an encoding this client does not read (%1)")
                      .arg(QString::fromLatin1(intake->encoding)));
    }
    // Qt's own time-out.
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError)
        co_return APIError::timedOut(
            QCoreApplication::translate("APIClient", "Timed out: the service did not answer within %1")
                .arg(secondsText(timeout)));
    if (isTransportFailure(reply->error()))
        co_return APIError::transport(reply->errorString());
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        co_return APIError::badResponse();
    if (intake->inflater && !intake->inflater->ended())
        co_return APIError::badResponse(QStringLiteral("the reply's compressed bytes were cut short"));
    co_return Reply{status.toInt(), reply->rawHeader(QByteArrayLiteral("Content-Type")), std::move(intake->body)};
}

QNetworkReply *APIClient::openStream(const QString &path)
{
    const auto token = usableToken(m_secrets.keychainRead(SecretKeys::token));
    if (!token)
        return nullptr;
    QNetworkRequest request(endpoint(path, QUrlQuery()));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    // No compression: Qt would inflate without a bound, and a stream has no end to bound it by.
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("text/event-stream"));
    request.setRawHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache"));
    request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + *token);
    QNetworkReply *reply = m_network.get(request);
    reply->setReadBufferSize(kReadBufferBytes);
    return reply;
}

QCoro::Task<ApiResult<QJsonObject>> APIClient::request(QString path, QString method, std::optional<QJsonObject> body,
                                                       bool auth, std::chrono::milliseconds timeout)
{
    std::optional<QByteArray> bytes;
    if (body)
        bytes = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    co_return objectOf(co_await send(std::move(path), QUrlQuery(), method.toLatin1(), std::move(bytes), auth, timeout));
}

ApiResult<QJsonObject> APIClient::objectOf(const ApiResult<Reply> &reply)
{
    if (!reply)
        return reply.error();
    if (reply->status == kStatusUnauthorized)
        return APIError::unauthorized();
    if (!isSuccess(reply->status))
        return APIError::http(reply->status);
    return jsonObject(reply->status, reply->contentType, reply->body);
}

QCoro::Task<ApiResult<VideoPage>> APIClient::videos(qint64 since, qint64 afterID, int limit, const QObject *scope)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("since"), QString::number(since));
    query.addQueryItem(QStringLiteral("after_id"), QString::number(afterID));
    query.addQueryItem(QStringLiteral("limit"), QString::number(limit));
    // A page of limit rows cannot be larger than this, however long its texts: a page of far
    // more rows is abandoned while it downloads, before any of it is parsed.
    const auto reply = co_await send(QStringLiteral("videos.php"), std::move(query), "GET", std::nullopt, true,
                                     kListTimeout, scope, VideoPage::maxJsonBytes(limit));
    if (!reply)
        co_return reply.error();
    if (reply->status == kStatusUnauthorized)
        co_return APIError::unauthorized();
    // Only a plain 200 carries a page; 201 or 204 from a list request means something is off.
    if (reply->status != kStatusOk)
        co_return APIError::badResponse();
    const auto object = jsonObject(reply->status, reply->contentType, reply->body);
    if (!object)
        co_return object.error();
    QString why;
    if (auto page = VideoPage::fromJson(*object, limit, &why))
        co_return std::move(*page);
    co_return APIError::badResponse(why);
}

QCoro::Task<ApiResult<APIVideo>> APIClient::upsert(QString url, QString title)
{
    const QJsonObject body{{QStringLiteral("url"), url}, {QStringLiteral("title"), title}};
    const auto reply = co_await request(QStringLiteral("upsert.php"), QStringLiteral("POST"), body, true, kAddTimeout);
    if (!reply)
        co_return reply.error();
    co_return videoOf(*reply);
}

QCoro::Task<ApiResult<APIVideo>> APIClient::patchVideo(VideoChange change)
{
    const QJsonObject body = change.toJson();
    const auto reply =
        co_await request(QStringLiteral("upsert.php"), QStringLiteral("POST"), body, true, kPatchTimeout);
    if (!reply)
        co_return reply.error();
    co_return videoOf(*reply);
}

QCoro::Task<ApiResult<void>> APIClient::deleteVideo(QString youtubeID)
{
    const QJsonObject body{{QStringLiteral("youtube_id"), youtubeID}};
    const auto reply =
        co_await request(QStringLiteral("delete.php"), QStringLiteral("POST"), body, true, kDeleteTimeout);
    if (!reply)
        co_return reply.error();
    co_return ApiResult<void>();
}

QCoro::Task<ApiResult<FamilyLists>> APIClient::family(bool withDeclined)
{
    QUrlQuery query;
    if (withDeclined)
        query.addQueryItem(QStringLiteral("include"), QStringLiteral("declined"));
    const auto reply = objectOf(
        co_await send(QStringLiteral("family.php"), std::move(query), "GET", std::nullopt, true, kFamilyTimeout));
    if (!reply)
        co_return reply.error();
    co_return FamilyLists::fromJson(*reply);
}

QCoro::Task<ApiResult<void>> APIClient::familyAction(QString action, QString email)
{
    const QJsonObject body{{QStringLiteral("action"), action}, {QStringLiteral("email"), email}};
    const auto reply =
        co_await request(QStringLiteral("family.php"), QStringLiteral("POST"), body, true, kFamilyTimeout);
    if (!reply)
        co_return reply.error();
    co_return ApiResult<void>();
}

QCoro::Task<ApiResult<QByteArray>> APIClient::exportAccount()
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("action"), QStringLiteral("export"));
    const auto reply =
        co_await send(QStringLiteral("account.php"), std::move(query), "GET", std::nullopt, true, kExportTimeout);
    if (!reply)
        co_return reply.error();
    // The bytes go to the export file unchanged; every refusal, 401 included, reads the same.
    if (!isSuccess(reply->status))
        co_return APIError::badResponse();
    co_return reply->body;
}

QCoro::Task<ApiResult<void>> APIClient::deleteAccount()
{
    const QJsonObject body{{QStringLiteral("action"), QStringLiteral("delete")}};
    const auto reply =
        co_await request(QStringLiteral("account.php"), QStringLiteral("POST"), body, true, kAccountDeleteTimeout);
    if (!reply)
        co_return reply.error();
    co_return ApiResult<void>();
}

QCoro::Task<ApiResult<QString>> APIClient::telegramLink()
{
    const auto reply = co_await request(QStringLiteral("telegram-code.php"), QStringLiteral("POST"), QJsonObject(),
                                        true, kTelegramTimeout);
    if (!reply)
        co_return reply.error();
    const QJsonValue link = reply->value(QLatin1String("link"));
    if (!link.isString())
        co_return APIError::badResponse();
    co_return link.toString();
}

QCoro::Task<ApiResult<AskAnswer>> APIClient::ask(QString question, QList<AskExchange> history)
{
    QJsonArray exchanges;
    for (const AskExchange &exchange : history)
        exchanges.append(QJsonObject{{QStringLiteral("q"), exchange.question}, {QStringLiteral("a"), exchange.answer}});
    const QJsonObject body{{QStringLiteral("q"), question}, {QStringLiteral("history"), exchanges}};
    const auto reply =
        co_await request(QStringLiteral("assistant.php"), QStringLiteral("POST"), body, true, kAskTimeout);
    if (!reply)
        co_return reply.error();
    if (auto answer = AskAnswer::fromJson(*reply))
        co_return std::move(*answer);
    co_return APIError::badResponse();
}

} // namespace clipvane
