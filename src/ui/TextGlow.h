#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QString>

namespace clipvane {

// Soft glows of a text's own colour, as behind a neon sign. The glow reaches beyond the text's
// box, so the widget that owns the area around the text draws it behind the text's label.
class TextGlow
{
public:
    struct Layer
    {
        double opacity;
        qreal radius; // in design points
    };

    TextGlow(QString text, QFont font, QColor color, QList<Layer> layers);

    // How far the glow reaches beyond the text's box, in logical pixels.
    int reach() const;
    // The glow for a text box of textSize logical pixels, on an image larger by reach() on every
    // side; kept until the size or pixel ratio changes.
    const QImage &image(const QSize &textSize, qreal devicePixelRatio);

private:
    QString m_text;
    QFont m_font;
    QColor m_color;
    QList<Layer> m_layers;
    QImage m_cache;
};

} // namespace clipvane
