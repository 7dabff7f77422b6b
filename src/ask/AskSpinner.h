#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace clipvane {

// A small indeterminate progress spinner: twelve fading spokes turning while it is shown.
class AskSpinner : public QWidget
{
    Q_OBJECT

public:
    explicit AskSpinner(QColor colour, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QColor m_colour;
    QTimer m_timer;
    int m_step = 0;
};

} // namespace clipvane
