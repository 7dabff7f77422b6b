#pragma once

#include "APIError.h"
#include "APIVideo.h"
#include "AskVideo.h"
#include "VideoChange.h"
#include "VideoPage.h"

#include <QJsonObject>
#include <QUrl>
#include <chrono>
#include <optional>
#include <qcorotask.h>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QUrlQuery;

namespace clipvane {

class SecretStore;

struct AskExchange
{
    QString question;
    QString answer;
};

// The only client of the service's HTTP API. Stateless apart from its base address.
class APIClient
{
public:
    // secrets: where the bearer token is read for every authorised call.
    APIClient(QUrl base, SecretStore &secrets, QNetworkAccessManager &network);

    // The one network access manager of the process (API and thumbnails share it, and with
    // it one disk cache). Created on first use in the calling thread; never destroyed.
    static QNetworkAccessManager &sharedNetwork();

    // The base address: the standard setting "apiBase", else CLIPVANE_API_BASE, else the
    // built-in local service. Invalid addresses, and plain http to a host that is not a
    // loopback address, fall back to the built-in one.
    static QUrl resolveBase();
    // Why the configured address was not used (which address, from where, why); empty when
    // none is configured or it is used.
    static QString baseRefusal();
    static QUrl builtInBase();
    // The address as a usable base, or none: https, or plain http to a loopback host only (the
    // bearer token must not cross a network in clear); query and fragment are dropped.
    static std::optional<QUrl> acceptableBase(const QString &text);

    QUrl base() const { return m_base; }
    // The service's web origin, where its pages live: the base without its final "/api".
    static QUrl webOrigin(const QUrl &base);
    QUrl webOrigin() const { return webOrigin(m_base); }

    // A reply body larger than this fails with badResponse; the download is abandoned as soon
    // as the size is known to exceed it, so a hostile server cannot exhaust memory.
    static constexpr qint64 kMaxBodyBytes = qint64(64) * 1024 * 1024;
    void setMaxBodyBytes(qint64 bytes) { m_maxBodyBytes = bytes; }

    // How long a call may take. Every call has a deadline for the whole request (its own, from
    // 30 s for a change to 90 s for an add, at most deadlineCap), and once the reply has begun
    // it must bring at least minimumBytes in every window, so a service that trickles its
    // answer a byte at a time is given up long before the deadline. The defaults, 1 KiB in
    // every 10 s (about 100 bytes a second), leave a slow mobile link far behind them.
    struct Pace
    {
        std::chrono::milliseconds deadlineCap = std::chrono::milliseconds::max();
        qint64 minimumBytes = 1024;
        std::chrono::milliseconds window = std::chrono::seconds(10);
    };
    // The default pace; CLIPVANE_API_DEADLINE_MS caps every deadline (for tests of whole programs).
    static Pace defaultPace();
    void setPace(Pace pace) { m_pace = pace; }

    // A GET at path that stays open as long as the service keeps it (the change stream): the same
    // address, token and safeguards as every call, but no deadline, so the caller watches it.
    // Null when no usable token is stored (nothing is sent); the reply belongs to the caller.
    QNetworkReply *openStream(const QString &path);

    QCoro::Task<ApiResult<QJsonObject>> request(QString path, QString method, std::optional<QJsonObject> body,
                                                bool auth, std::chrono::milliseconds timeout);

    // A request made for scope is abandoned (and fails as a transport error nobody reads) when
    // scope goes away before its reply has arrived.
    QCoro::Task<ApiResult<VideoPage>> videos(qint64 since, qint64 afterID, int limit, const QObject *scope = nullptr);
    QCoro::Task<ApiResult<APIVideo>> upsert(QString url, QString title);
    // Writes the fields the change holds; the service's copy of the others stays.
    QCoro::Task<ApiResult<APIVideo>> patchVideo(VideoChange change);
    QCoro::Task<ApiResult<void>> deleteVideo(QString youtubeID);

    // withDeclined: also the owners whose shares the user declined.
    QCoro::Task<ApiResult<FamilyLists>> family(bool withDeclined = false);
    QCoro::Task<ApiResult<void>> familyAction(QString action, QString email);
    QCoro::Task<ApiResult<QByteArray>> exportAccount();
    QCoro::Task<ApiResult<void>> deleteAccount();
    QCoro::Task<ApiResult<QString>> telegramLink();
    QCoro::Task<ApiResult<AskAnswer>> ask(QString question, QList<AskExchange> history);

private:
    struct Reply
    {
        int status = 0;
        QByteArray contentType;
        QByteArray body;
    };

    // Sends one request and waits for the whole reply. Fails with unauthorized (nothing
    // sent) when auth is asked for and no usable token is stored, with badResponse for a
    // reply that is not HTTP or larger than bound (0: the client's bound), with timedOut past
    // the deadline or the pace, and with transport for network failures.
    QCoro::Task<ApiResult<Reply>> send(QString path, QUrlQuery query, QByteArray method, std::optional<QByteArray> body,
                                       bool auth, std::chrono::milliseconds timeout, const QObject *scope = nullptr,
                                       qint64 bound = 0);
    QUrl endpoint(const QString &path, const QUrlQuery &query) const;
    // A reply as a JSON object, or the error its status means.
    static ApiResult<QJsonObject> objectOf(const ApiResult<Reply> &reply);

    QUrl m_base;
    SecretStore &m_secrets;
    QNetworkAccessManager &m_network;
    qint64 m_maxBodyBytes = kMaxBodyBytes;
    Pace m_pace = defaultPace();
};

} // namespace clipvane
