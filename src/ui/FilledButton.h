#pragma once

#include <QAbstractButton>
#include <QColor>

namespace clipvane {

// A button drawn as a filled rounded rectangle with an optional symbol before its text, both
// centred: the design's prominent buttons. Keyboard focus draws a ring outside the shape.
class FilledButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit FilledButton(const QString &text, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol) { m_symbol = symbol, update(); }
    void setColors(const QColor &fill, const QColor &content);
    void setCornerRadius(qreal radius) { m_radius = radius, update(); }
    // Space above and below the label.
    void setVerticalPadding(int padding);
    void setSpacing(int spacing) { m_spacing = spacing, update(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    QString m_symbol;
    QColor m_fill = Qt::white;
    QColor m_content = Qt::black;
    qreal m_radius = 10;
    int m_padding = 12;
    int m_spacing = 8;
    bool m_hovered = false;
    bool m_focusFromKeyboard = false;
};

} // namespace clipvane
