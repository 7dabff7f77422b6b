#pragma once

#include <QColor>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace clipvane {

// A layer of the detail pane that fills its area with a colour, clipped to a rounded
// rectangle, and shows a centred column: symbols, texts and buttons.
class NoticeLayer : public QWidget
{
    Q_OBJECT

public:
    NoticeLayer(const QColor &background, int spacing, QWidget *parent = nullptr);

    void setCornerRadius(qreal radius);
    QLabel *addSymbol(const QString &name, qreal designSize, const QColor &tint);
    QLabel *addText(const QString &text, const QFont &font, const QColor &colour);
    // extraSpaceAbove: added to the column's spacing above the widget.
    void addWidget(QWidget *widget, int extraSpaceAbove = 0);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_background;
    qreal m_radius = 0;
    QVBoxLayout *m_column;
};

} // namespace clipvane
