#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace clipvane {

// A plain text in a design font and colour: the many fixed texts of the windows.
class TextLabel
{
public:
    static QLabel *create(const QString &text, const QFont &font, const QColor &color, QWidget *parent);
};

} // namespace clipvane
