#include "AskSpinner.h"

#include <QPainter>

namespace clipvane {

namespace {

constexpr int kSpokes = 12;
constexpr int kSide = 16;

} // namespace

AskSpinner::AskSpinner(QColor colour, QWidget *parent)
    : QWidget(parent)
    , m_colour(std::move(colour))
{
    setFixedSize(kSide, kSide);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

void AskSpinner::showEvent(QShowEvent *event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void AskSpinner::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void AskSpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        QColor spoke = m_colour;
        spoke.setAlphaF(0.15f + 0.85f * float((i - m_step + kSpokes) % kSpokes) / kSpokes);
        painter.setPen(QPen(spoke, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -kSide * 0.22), QPointF(0, -kSide * 0.45));
        painter.rotate(360.0 / kSpokes);
    }
}

} // namespace clipvane
