#pragma once

#include <QWidget>

class QLabel;

namespace clipvane {

class PillButton;
class UpNextCountdown;

// The card over the player when a video has ended: names the video that plays next and the
// seconds left, with "Cancel" and "Play now". Shows itself while the countdown waits.
class UpNextCard : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kWidth = 300;

    explicit UpNextCard(UpNextCountdown &countdown, QWidget *parent = nullptr);

    QString titleText() const;
    QString secondsText() const;
    PillButton &cancelButton() const { return *m_cancel; }
    PillButton &playNowButton() const { return *m_playNow; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    UpNextCountdown &m_countdown;
    QLabel *m_title;
    QLabel *m_seconds;
    PillButton *m_cancel;
    PillButton *m_playNow;
};

} // namespace clipvane
