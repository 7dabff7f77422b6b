#include "AskOverlay.h"

#include "AskPanel.h"
#include "Palette.h"
#include "SoftShadow.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

namespace clipvane {

namespace {

// A critically damped spring settles in about its response time; an ease-out curve of that
// length looks the same.
constexpr int kFadeMs = 280;
constexpr qreal kPanelRadius = 12;
constexpr qreal kShadowOpacity = 0.45;
constexpr qreal kShadowRadius = 24;
constexpr int kShadowDrop = 10;

} // namespace

AskOverlay::AskOverlay(APIClient &api, QWidget *parent)
    : QWidget(parent)
    , m_api(api)
{
    m_fade = new QPropertyAnimation(this, "level", this);
    m_fade->setDuration(kFadeMs);
    m_fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_open) {
            // The panel draws on its own again: text stays crisp and cheap to repaint.
            if (m_panel)
                m_panel->setGraphicsEffect(nullptr);
            return;
        }
        hide();
        if (m_panel)
            m_panel->deleteLater();
    });
    parent->installEventFilter(this);
    setGeometry(parent->rect());
    hide();
}

void AskOverlay::open()
{
    if (m_open)
        return;
    m_open = true;
    if (m_panel)
        delete m_panel;
    m_panel = new AskPanel(m_api, this);
    connect(m_panel, &AskPanel::closeRequested, this, &AskOverlay::close);
    connect(m_panel, &AskPanel::playRequested, this, &AskOverlay::playRequested);
    setGeometry(parentWidget()->rect());
    placePanel();
    raise();
    show();
    m_panel->show();
    m_panel->input()->setFocus(Qt::OtherFocusReason);
    fade(true);
    Q_EMIT openChanged(true);
}

void AskOverlay::close()
{
    if (!m_open)
        return;
    m_open = false;
    fade(false);
    Q_EMIT openChanged(false);
}

void AskOverlay::setLevel(qreal level)
{
    m_level = level;
    if (m_panel) {
        auto *opacity = qobject_cast<QGraphicsOpacityEffect *>(m_panel->graphicsEffect());
        if (level < 1 && !opacity) {
            opacity = new QGraphicsOpacityEffect(m_panel);
            m_panel->setGraphicsEffect(opacity);
        }
        if (opacity)
            opacity->setOpacity(level);
    }
    update();
}

void AskOverlay::fade(bool in)
{
    m_fade->stop();
    m_fade->setStartValue(m_level);
    m_fade->setEndValue(in ? 1.0 : 0.0);
    m_fade->start();
}

void AskOverlay::placePanel()
{
    if (!m_panel)
        return;
    const int height = std::max(0, std::min(kPanelMaxHeight, this->height() - 2 * kPanelMargin));
    const int width = std::min(kPanelWidth, this->width());
    m_panel->setGeometry((this->width() - width) / 2, (this->height() - height) / 2, width, height);
}

void AskOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::black(0.55 * m_level));
    if (!m_panel || !m_panel->isVisible())
        return;
    const QRect panel = m_panel->geometry();
    if (m_shadowSize != panel.size()) {
        QPainterPath card;
        card.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(panel.size())), kPanelRadius, kPanelRadius);
        m_shadow = SoftShadow::render(card, Palette::black(kShadowOpacity), kShadowRadius, &m_shadowOrigin);
        m_shadowSize = panel.size();
    }
    painter.setOpacity(m_level);
    painter.drawImage(panel.topLeft() + m_shadowOrigin + QPoint(0, kShadowDrop), m_shadow);
}

void AskOverlay::mousePressEvent(QMouseEvent *event)
{
    // Clicks on the panel stay with the panel; only the backdrop closes.
    if (event->button() == Qt::LeftButton)
        close();
    event->accept();
}

void AskOverlay::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placePanel();
}

bool AskOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace clipvane
