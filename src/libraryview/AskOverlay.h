#pragma once

#include <QPointer>
#include <QWidget>

class QPropertyAnimation;

namespace clipvane {

class MacAppState;

// The assistant over the library window: a dimmed backdrop over everything and the panel
// centred on it. A click on the backdrop or Escape closes it; it fades in and out with the state's
// showAsk flag.
class AskOverlay : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)

public:
    static constexpr int kPanelWidth = 460;
    static constexpr int kPanelMaxHeight = 540;
    static constexpr int kPanelMargin = 24;
    static constexpr double kBackdropOpacity = 0.55;

    // parent: the widget the overlay covers.
    AskOverlay(MacAppState &state, QWidget *parent);

    // The panel shown in the middle; the overlay takes it over. None shows an empty card.
    void setPanel(QWidget *panel);
    QWidget *panel() const { return m_panel; }
    QRect panelRect() const;

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showAsk(bool shown);
    void placePanel();

    MacAppState &m_state;
    QPointer<QWidget> m_panel;
    QPropertyAnimation *m_fade;
    qreal m_opacity = 0;
};

} // namespace clipvane
