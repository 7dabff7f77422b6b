#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

class QPainter;
class QRectF;

namespace clipvane {

// The design's symbols, looked up by their symbol names ("play.fill", "gearshape", ...), drawn
// from bundled vector artwork and tinted at run time, so they are crisp at any size and on any
// screen. A name without artwork draws nothing and is reported by exists().
class Symbols
{
public:
    // Every symbol name the program uses.
    static QStringList names();
    static bool exists(const QString &name);

    // Scales with the widget that shows it; disabled states draw at reduced opacity.
    static QIcon icon(const QString &name, const QColor &tint);
    // A pixmap of logicalSize logical pixels for a screen of the given pixel ratio.
    static QPixmap pixmap(const QString &name, const QColor &tint, const QSize &logicalSize, qreal devicePixelRatio);
    // Draws the symbol into rect (kept square, centred) at the painter's resolution.
    static void paint(QPainter &painter, const QRectF &rect, const QString &name, const QColor &tint);

    // The side of the box a symbol takes beside text of a design size: the artwork leaves a
    // margin inside its box, so the box is a little larger than the text to match its weight.
    static int boxFor(qreal designSize);
};

} // namespace clipvane
