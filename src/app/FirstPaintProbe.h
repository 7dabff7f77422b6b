#pragma once

#include <QObject>

namespace clipvane {

// For start-up measurements: when CLIPVANE_QUIT_AFTER_FIRST_PAINT is set, prints "first paint"
// on stdout once the watched widget has painted for the first time, with the process's resident
// memory then, and quits (after that many milliseconds when the value is a number above 1).
class FirstPaintProbe : public QObject
{
    Q_OBJECT

public:
    static constexpr char kVariable[] = "CLIPVANE_QUIT_AFTER_FIRST_PAINT";

    // Watches widget when the variable is set; does nothing otherwise.
    static void watch(QObject *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
    bool m_done = false;
};

} // namespace clipvane
