#pragma once

#include <QFont>

namespace clipvane {

// The bundled faces of the design.
enum class FontFace {
    regular,  // Hanken Grotesk 400
    medium,   // Hanken Grotesk 500
    semiBold, // Hanken Grotesk 600
    display,  // Space Grotesk 700, for titles and the wordmark
};

// Fonts at design sizes. A design size is in points of the design, and the design was drawn on
// a 1x desktop: one point is one logical pixel. QFont's own points are 1/72 inch (a third
// larger at 96 dpi), so every font of the program is made here and nowhere else.
class Fonts
{
public:
    // Registers the bundled faces from the resources and makes Hanken Grotesk at the text size the
    // application's font. False when any of them did not load (the program still runs, on the
    // platform's default face).
    static bool load();

    static QFont font(FontFace face, qreal designSize);
    // The application's face at a design size and weight.
    static QFont system(qreal designSize, QFont::Weight weight = QFont::Normal);

    // Makes font designSize logical pixels high.
    static void setDesignSize(QFont &font, qreal designSize);
};

} // namespace clipvane
