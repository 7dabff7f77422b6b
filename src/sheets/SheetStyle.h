#pragma once

#include <QString>

class QDialog;
class QLabel;
class QWidget;

namespace clipvane {

// What every sheet shares: the ink background, the fixed width, the padding, the heading.
class SheetStyle
{
public:
    static constexpr int kPadding = 20;

    // Window-modal over parent, ink to every edge, fixed width.
    static void apply(QDialog &sheet, int width);
    static QLabel *heading(const QString &text, qreal designSize, QWidget *parent);
    static QLabel *note(const QString &text, QWidget *parent); // 12.5, muted, wrapping
};

} // namespace clipvane
