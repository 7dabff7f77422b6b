#pragma once

#include "AskVideo.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace clipvane {

class APIClient;
class AskPanel;

// The assistant over the window's content: a dimmed backdrop covering the parent, closing on a
// click, with the panel centred on it. Every opening starts a new conversation; closing
// discards it.
class AskOverlay : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal level READ level WRITE setLevel)

public:
    static constexpr int kPanelWidth = 460;
    static constexpr int kPanelMaxHeight = 540;
    static constexpr int kPanelMargin = 24; // above and below the panel

    // Covers parent and follows its size. api must outlive the overlay.
    AskOverlay(APIClient &api, QWidget *parent);

    bool isOpen() const { return m_open; }
    AskPanel *panel() const { return m_panel; }

    void open();
    void close();

    // How far the overlay has faded in, 0 to 1.
    qreal level() const { return m_level; }
    void setLevel(qreal level);

Q_SIGNALS:
    // A video card of an answer was pressed; the overlay stays open (the window decides).
    void playRequested(const clipvane::AskVideo &video);
    // open() or close() took effect (closing by the backdrop, the close button or Escape too).
    void openChanged(bool open);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placePanel();
    void fade(bool in);

    APIClient &m_api;
    QPointer<AskPanel> m_panel;
    QPropertyAnimation *m_fade = nullptr;
    qreal m_level = 0;
    bool m_open = false;
    QImage m_shadow;
    QPoint m_shadowOrigin;
    QSize m_shadowSize;
};

} // namespace clipvane
