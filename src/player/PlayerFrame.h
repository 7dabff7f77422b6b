#pragma once

#include <QWidget>

namespace clipvane {

// Lies over the player and gives it its shape: the pane's black outside the rounded corners
// (smooth, where a mask alone would be jagged) and the thin border inside the outline. Lets
// the pointer through to the player.
class PlayerFrame : public QWidget
{
    Q_OBJECT

public:
    explicit PlayerFrame(QWidget *parent = nullptr);

    void setShape(qreal cornerRadius, qreal borderWidth);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_radius = 0;
    qreal m_border = 0;
};

} // namespace clipvane
