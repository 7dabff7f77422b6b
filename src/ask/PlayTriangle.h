#pragma once

#include <QColor>
#include <QPainterPath>
#include <QWidget>

namespace clipvane {

// A play symbol pointing right: the triangle through the top-left corner, the middle of the
// right edge and the bottom-left corner of its frame.
class PlayTriangle : public QWidget
{
    Q_OBJECT

public:
    explicit PlayTriangle(const QColor &fill, QWidget *parent = nullptr);

    static QPainterPath path(const QRectF &frame);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
};

} // namespace clipvane
