#pragma once

#include "AskVideo.h"

#include <QAbstractButton>

namespace clipvane {

// A video named in an answer: a play triangle, the title on at most two lines and the detail
// line. Pressing it plays the video.
class AskVideoCard : public QAbstractButton
{
    Q_OBJECT

public:
    explicit AskVideoCard(AskVideo video, QWidget *parent = nullptr);

    const AskVideo &video() const { return m_video; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Lines
    {
        QStringList title; // one or two lines, the second elided
        qreal titleHeight = 0;
    };
    Lines titleLines(int textWidth) const;
    int textWidth(int cardWidth) const;

    AskVideo m_video;
    QFont m_titleFont;
    QFont m_detailFont;
};

} // namespace clipvane
