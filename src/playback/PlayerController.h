#pragma once

#include "OneShotTimer.h"
#include "PlayerPage.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

namespace clipvane {

// Drives the player page of the service and publishes what it is doing. The page is driven only
// by script calls ("loadVideo", "cueVideo", "play", "pause") and answers only by messages that
// the Bridge hands over ("ready", "state", "error", "time"). Until the page has said "ready" nothing is
// sent; a load waits as the one pending request. Main thread only.
//
// Every ID sent to the page is checked and quoted: IDs also come from the server's replies, so
// an ID that is not made of the link parser's ID characters is never loaded (like a record that
// is not a YouTube video), and any ID is sent as a JavaScript string literal, never spliced in.
class PlayerController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool hasEmbedError READ hasEmbedError NOTIFY embedErrorChanged)

public:
    static constexpr std::chrono::seconds kLoadingTimeout{20};

    explicit PlayerController(QObject *parent = nullptr);
    // loadingTimer: the time-out of a load; tests hand a timer they fire themselves.
    explicit PlayerController(std::unique_ptr<OneShotTimer> loadingTimer, QObject *parent = nullptr);
    ~PlayerController() override;

    bool isPlaying() const { return m_isPlaying; }
    bool isLoading() const { return m_isLoading; }
    // The error code the page reported for the current video; none when there is none.
    std::optional<int> embedError() const { return m_embedError; }
    bool hasEmbedError() const { return m_embedError.has_value(); }

    // Shows a video from startSeconds on: cued, or loaded and playing when autoplay is set. The
    // same video again only plays (autoplay) or does nothing. Waits as pending while the page is
    // not ready.
    void load(const QString &youtubeID, bool autoplay, int startSeconds = 0);
    void play();
    void pause();
    // A new page for a new web view, before the page is requested. The video shown in the old
    // one (if any) is shown again where it was, playing if it was playing, once the new page is
    // ready.
    void attach(PlayerPage *page);

    // The Bridge's entry points for the page's messages.
    void pageReady();
    void handleState(int state);
    void handleError(int code);
    void handleTime(double position, double duration);

    // What the pane may load: an ID of link-parser characters that does not begin with "x-".
    static bool isPlayableID(const QString &youtubeID);
    // The page's address on the service's web origin (scheme, host and port of the API base).
    static QUrl playerPageURL(const QUrl &serviceBase);
    // The stored address of a video when it is a valid URL, else its short link.
    static QUrl videoAddress(const QString &youtubeID, const QString &url);
    // Opens the video in the user's default browser.
    static void openOnYouTube(const QString &youtubeID, const QString &url);

    // Inspection for tests and the pane.
    std::optional<QString> loadedID() const { return m_loadedID; }
    std::optional<QString> pendingID() const { return m_pendingID; }
    bool pendingAutoplay() const { return m_pendingAutoplay; }
    bool isReady() const { return m_ready; }
    bool hasPage() const { return !m_page.isNull(); }

Q_SIGNALS:
    void isPlayingChanged(bool isPlaying);
    void isLoadingChanged(bool isLoading);
    void embedErrorChanged();
    // The page reported that the video played to its end.
    void ended();
    // Where playback is, in seconds, as the page reported it (duration 0 while unknown).
    void timeReported(double position, double duration);

private:
    void startLoading();
    void endLoading();
    void send(const QString &script);
    void setPlaying(bool playing);
    void setLoading(bool loading);
    void setEmbedError(std::optional<int> code);

    bool m_isPlaying = false;
    bool m_isLoading = false;
    std::optional<int> m_embedError;
    std::unique_ptr<OneShotTimer> m_loadingTimeout;
    QPointer<PlayerPage> m_page;
    bool m_ready = false;
    std::optional<QString> m_loadedID;
    std::optional<QString> m_pendingID;
    bool m_pendingAutoplay = false;
    int m_pendingStart = 0;
    // Where the loaded video was last reported, so a new page picks it up there.
    int m_lastPosition = 0;
    // Until the page reports a state after a load, a time report may still be the previous
    // video's, already on its way when the load went out.
    bool m_timeIsCurrent = false;
};

} // namespace clipvane
