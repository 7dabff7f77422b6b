#pragma once

#include <QColor>
#include <QLabel>

namespace clipvane {

// One message of the conversation: wrapped text on a rounded, optionally outlined background.
// It is as wide as its text needs, up to the width the list allows.
class AskBubble : public QLabel
{
    Q_OBJECT

public:
    AskBubble(const QString &text, Qt::TextFormat format, const QColor &textColor, const QColor &background,
              const QColor &outline, QWidget *parent = nullptr);

    // The widest the bubble may be (the list's column width).
    void setAvailableWidth(int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int naturalWidth() const;

    QColor m_background;
    QColor m_outline;
    int m_availableWidth = 400;
};

} // namespace clipvane
