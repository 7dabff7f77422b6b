#pragma once

#include <QString>

class QHBoxLayout;
class QPushButton;

class QDialog;
class QLabel;
class QWidget;

namespace clipvane {

// What every sheet shares: the ink background, the fixed width, the padding, the heading, and
// buttons in the application's look: the default one filled white, a step that cannot be undone
// in red, and a ring around the one the keyboard is on.
class SheetStyle
{
public:
    static constexpr int kPadding = 20;

    // Window-modal over parent, ink to every edge, fixed width.
    static void apply(QDialog &sheet, int width);
    // Once the sheet's layout is built: wider than the design's width where its contents ask for
    // more (a row of buttons in a longer language), so no text is cut off.
    static void fitWidth(QDialog &sheet, int width);
    static QLabel *heading(const QString &text, qreal designSize, QWidget *parent);
    static QLabel *note(const QString &text, QWidget *parent); // 12.5, muted, wrapping
    // The row of a sheet that only informs: one default "Done" on the right that closes it.
    static QHBoxLayout *doneRow(QDialog &sheet, QPushButton **done = nullptr);
    // Draws a button again after a change of its role.
    static void repolish(QWidget &button);
};

} // namespace clipvane
