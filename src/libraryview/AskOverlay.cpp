#include "AskOverlay.h"

#include "MacAppState.h"
#include "Palette.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

namespace clipvane {

namespace {

constexpr int kFadeMs = 280;
constexpr qreal kCardRadius = 16;

} // namespace

AskOverlay::AskOverlay(MacAppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_fade(new QPropertyAnimation(this, "opacity", this))
{
    m_fade->setDuration(kFadeMs);
    m_fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (!m_state.showAsk())
            hide();
    });
    parent->installEventFilter(this);
    setAccessibleName(tr("Ask Clipvane"));
    setFocusPolicy(Qt::StrongFocus);
    hide();
    connect(&state, &MacAppState::showAskChanged, this, &AskOverlay::showAsk);
    if (state.showAsk())
        showAsk(true);
}

void AskOverlay::setPanel(QWidget *panel)
{
    if (m_panel)
        m_panel->deleteLater();
    m_panel = panel;
    if (panel) {
        panel->setParent(this);
        panel->show();
    }
    placePanel();
}

QRect AskOverlay::panelRect() const
{
    const int height = std::min(kPanelMaxHeight, this->height() - 2 * kPanelMargin);
    const int preferred = m_panel ? std::max(m_panel->sizeHint().height(), height) : height;
    const int shown = std::min(preferred, height);
    return {(width() - kPanelWidth) / 2, (this->height() - shown) / 2, kPanelWidth, std::max(0, shown)};
}

void AskOverlay::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    if (m_panel) {
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(m_panel->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(m_panel);
            m_panel->setGraphicsEffect(effect);
        }
        effect->setOpacity(opacity);
        if (opacity >= 1)
            m_panel->setGraphicsEffect(nullptr);
    }
    update();
}

void AskOverlay::showAsk(bool shown)
{
    m_fade->stop();
    m_fade->setStartValue(m_opacity);
    m_fade->setEndValue(shown ? 1.0 : 0.0);
    if (shown) {
        setGeometry(parentWidget()->rect());
        placePanel();
        show();
        raise();
        if (m_panel)
            m_panel->setFocus();
        else
            setFocus(Qt::OtherFocusReason);
    }
    m_fade->start();
}

bool AskOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void AskOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(m_opacity);
    painter.fillRect(rect(), Palette::black(kBackdropOpacity));
    if (!m_panel) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Palette::hairline(), 1));
        painter.setBrush(Palette::ink());
        painter.drawRoundedRect(QRectF(panelRect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    }
}

void AskOverlay::mousePressEvent(QMouseEvent *event)
{
    if (!panelRect().contains(event->position().toPoint()))
        m_state.setShowAsk(false);
}

void AskOverlay::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        m_state.setShowAsk(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

void AskOverlay::resizeEvent(QResizeEvent *)
{
    placePanel();
}

void AskOverlay::placePanel()
{
    if (m_panel)
        m_panel->setGeometry(panelRect());
}

} // namespace clipvane
