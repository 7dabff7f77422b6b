#pragma once

#include <QColor>

class QApplication;

namespace clipvane {

// The application's colours: opaque sRGB, one meaning each. Views use these and the literal
// greys of the design (white at a level, black or white at an opacity), never ad-hoc colours.
class Palette
{
public:
    static QColor ink();      // window and sheet backgrounds
    static QColor card();     // cards, bubbles and fields
    static QColor muted();    // secondary text
    static QColor hairline(); // borders and dividers
    static QColor accent();   // the accent red
    static QColor text();     // primary text

    // An opaque grey of the given white level (0 black, 1 white).
    static QColor grey(double whiteLevel);
    static QColor white(double opacity);
    static QColor black(double opacity);
    // The platform's red for error texts in the dark appearance.
    static QColor errorRed();
    // The ring around the control the keyboard is on, visible on white and on ink alike.
    static QColor focusRing();

    // The dark appearance with white as tint, on the Fusion style, for the whole application.
    static void applyTo(QApplication &app);
};

} // namespace clipvane
