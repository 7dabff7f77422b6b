#include "PlayTriangle.h"

#include <QPainter>

namespace clipvane {

PlayTriangle::PlayTriangle(const QColor &fill, QWidget *parent)
    : QWidget(parent)
    , m_fill(fill)
{
    setFixedSize(9, 12);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QPainterPath PlayTriangle::path(const QRectF &frame)
{
    QPainterPath triangle;
    triangle.moveTo(frame.topLeft());
    triangle.lineTo(frame.right(), frame.center().y());
    triangle.lineTo(frame.bottomLeft());
    triangle.closeSubpath();
    return triangle;
}

void PlayTriangle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path(QRectF(rect())), m_fill);
}

} // namespace clipvane
