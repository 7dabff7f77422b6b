#include "SettingsCard.h"

#include "Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace clipvane {

namespace {

constexpr qreal kRadius = 8;

} // namespace

SettingsCard::SettingsCard(QWidget *parent)
    : QWidget(parent)
{}

void SettingsCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    painter.fillPath(shape, Palette::card());
    painter.setPen(QPen(Palette::hairline(), 1));
    painter.drawPath(shape);
}

} // namespace clipvane
