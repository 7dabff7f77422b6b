#include "PlayerController.h"

#include "ForeignID.h"
#include "LinkParser.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <limits>

namespace clipvane {

namespace {

// The ID as a JavaScript string literal: JSON's quoting is a subset of JavaScript's.
QString quoted(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

PlayerController::PlayerController(QObject *parent)
    : PlayerController(std::make_unique<QtOneShotTimer>(), parent)
{}

PlayerController::PlayerController(std::unique_ptr<OneShotTimer> loadingTimer, QObject *parent)
    : QObject(parent)
    , m_loadingTimeout(std::move(loadingTimer))
{}

PlayerController::~PlayerController() = default;

void PlayerController::load(const QString &youtubeID, bool autoplay, int startSeconds)
{
    if (!isPlayableID(youtubeID))
        return;
    if (m_loadedID == youtubeID) {
        if (autoplay)
            play();
        return;
    }
    if (m_ready && m_page) {
        m_loadedID = youtubeID;
        m_lastPosition = std::max(0, startSeconds);
        m_timeIsCurrent = false;
        setPlaying(autoplay);
        setEmbedError(std::nullopt);
        startLoading();
        send((autoplay ? QStringLiteral("loadVideo(") : QStringLiteral("cueVideo(")) + quoted(youtubeID) +
             QStringLiteral(", %1)").arg(std::max(0, startSeconds)));
        return;
    }
    m_pendingID = youtubeID;
    m_pendingAutoplay = autoplay;
    m_pendingStart = startSeconds;
}

void PlayerController::play()
{
    send(QStringLiteral("play()"));
    setPlaying(true);
}

void PlayerController::pause()
{
    send(QStringLiteral("pause()"));
    setPlaying(false);
}

void PlayerController::attach(PlayerPage *page)
{
    if (m_loadedID) {
        m_pendingID = m_loadedID;
        m_pendingAutoplay = m_isPlaying;
        m_pendingStart = m_lastPosition;
    }
    m_page = page;
    m_ready = false;
    m_loadedID.reset();
}

void PlayerController::pageReady()
{
    m_ready = true;
    if (!m_pendingID)
        return;
    const QString id = *m_pendingID;
    m_pendingID.reset();
    load(id, m_pendingAutoplay, m_pendingStart);
}

void PlayerController::handleState(int state)
{
    m_timeIsCurrent = true;
    switch (state) {
    case -1: // unstarted
    case 3:  // buffering
        return;
    case 1: // playing
        setPlaying(true);
        break;
    case 0: // ended
        setPlaying(false);
        endLoading();
        Q_EMIT ended();
        return;
    case 2: // paused
    case 5: // cued
        setPlaying(false);
        break;
    default:
        break;
    }
    endLoading();
}

void PlayerController::handleError(int code)
{
    setEmbedError(code);
    setPlaying(false);
    endLoading();
}

void PlayerController::handleTime(double position, double duration)
{
    if (!m_timeIsCurrent || !std::isfinite(position) || position < 0)
        return;
    m_lastPosition = int(std::min<double>(position, std::numeric_limits<int>::max()));
    Q_EMIT timeReported(position, std::isfinite(duration) && duration > 0 ? duration : 0);
}

bool PlayerController::isPlayableID(const QString &youtubeID)
{
    return !isForeignID(youtubeID) && isYouTubeIDText(youtubeID);
}

QUrl PlayerController::playerPageURL(const QUrl &serviceBase)
{
    QUrl page;
    page.setScheme(serviceBase.scheme());
    page.setHost(serviceBase.host());
    page.setPort(serviceBase.port());
    page.setPath(QStringLiteral("/player.html"));
    return page;
}

QUrl PlayerController::videoAddress(const QString &youtubeID, const QString &url)
{
    // Only web addresses: the stored address may come from the server, and a browser is all
    // this is meant to open.
    const QUrl stored(url, QUrl::StrictMode);
    const QString scheme = stored.scheme().toLower();
    if (stored.isValid() && (scheme == u"https" || scheme == u"http") && !stored.host().isEmpty())
        return stored;
    return QUrl(shortLink(youtubeID));
}

void PlayerController::openOnYouTube(const QString &youtubeID, const QString &url)
{
    QDesktopServices::openUrl(videoAddress(youtubeID, url));
}

void PlayerController::startLoading()
{
    setLoading(true);
    // The timer belongs to the controller, so it cannot fire for a controller that is gone.
    m_loadingTimeout->start(kLoadingTimeout, [this] { setLoading(false); });
}

void PlayerController::endLoading()
{
    setLoading(false);
    m_loadingTimeout->stop();
}

void PlayerController::send(const QString &script)
{
    if (m_ready && m_page)
        m_page->runScript(script);
}

void PlayerController::setPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    Q_EMIT isPlayingChanged(playing);
}

void PlayerController::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged(loading);
}

void PlayerController::setEmbedError(std::optional<int> code)
{
    if (m_embedError == code)
        return;
    m_embedError = code;
    Q_EMIT embedErrorChanged();
}

} // namespace clipvane
