#include "PlayerFrame.h"

#include "Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace clipvane {

namespace {

constexpr qreal kBorderLevel = 0.15;

} // namespace

PlayerFrame::PlayerFrame(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void PlayerFrame::setShape(qreal cornerRadius, qreal borderWidth)
{
    m_radius = cornerRadius;
    m_border = borderWidth;
    update();
}

void PlayerFrame::paintEvent(QPaintEvent *)
{
    if (m_radius <= 0 && m_border <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline(rect());
    if (m_radius > 0) {
        QPainterPath outside;
        outside.addRect(outline);
        QPainterPath inside;
        inside.addRoundedRect(outline, m_radius, m_radius);
        painter.fillPath(outside.subtracted(inside), Qt::black);
    }
    if (m_border > 0) {
        painter.setPen(QPen(Palette::grey(kBorderLevel), m_border));
        painter.setBrush(Qt::NoBrush);
        const qreal inset = m_border / 2;
        const qreal radius = std::max(m_radius - inset, 0.0);
        painter.drawRoundedRect(outline.adjusted(inset, inset, -inset, -inset), radius, radius);
    }
}

} // namespace clipvane
