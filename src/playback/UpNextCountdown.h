#pragma once

#include "OneShotTimer.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace clipvane {

// The wait between a video's end and the next one: it names the video that will play and
// counts whole seconds down, then asks for it once. Cancelling (the card's button, Escape, any
// change of selection) or playing at once ends the wait; a new offer replaces the running one.
// Main thread only.
class UpNextCountdown : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSeconds = 5;
    static constexpr std::chrono::seconds kTick{1};

    explicit UpNextCountdown(QObject *parent = nullptr);
    // tick: the one-second timer; tests hand a timer they fire themselves.
    explicit UpNextCountdown(std::unique_ptr<OneShotTimer> tick, QObject *parent = nullptr);
    ~UpNextCountdown() override;

    // Starts the wait for that video from kSeconds.
    void offer(const QString &youtubeID, const QString &title);
    void cancel();
    void playNow();

    bool isActive() const { return m_nextID.has_value(); }
    std::optional<QString> nextID() const { return m_nextID; }
    QString title() const { return m_title; }
    int secondsLeft() const { return m_secondsLeft; }

Q_SIGNALS:
    // The wait began, counted a second, or ended.
    void changed();
    // The wait is over (by time or by "Play now"): that video is to play now.
    void playRequested(const QString &youtubeID);

private:
    void tick();
    void finish(bool play);

    std::unique_ptr<OneShotTimer> m_tick;
    std::optional<QString> m_nextID;
    QString m_title;
    int m_secondsLeft = 0;
};

} // namespace clipvane
