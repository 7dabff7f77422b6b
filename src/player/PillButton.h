#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QMargins>

namespace clipvane {

// A plain button whose label is a pill: an optional symbol and a title on a rounded
// background. The detail pane's action buttons use the prominent (black on white) and
// ordinary (light grey on the card colour) styles; other looks are set with the setters.
class PillButton : public QAbstractButton
{
    Q_OBJECT

public:
    enum class Style { prominent, ordinary };

    PillButton(const QString &symbol, const QString &title, Style style, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    void setLook(const QColor &content, const QColor &background);
    void setMetrics(const QFont &font, qreal symbolSize, const QMargins &padding, qreal radius);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    QColor m_content;
    QColor m_background;
    QFont m_font;
    qreal m_symbolSize = 10;
    QMargins m_padding{10, 5, 10, 5};
    qreal m_radius = 5;
    int m_spacing = 5;
};

} // namespace clipvane
