#pragma once

#include <QDialog>
#include <QList>
#include <QString>

namespace clipvane {

// Every keyboard shortcut of the application, grouped by menu, in the sheets' look. The rows
// come from the application's command table; the sheet only lays them out.
class ShortcutsSheet : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kWidth = 460;
    static constexpr int kMaximumListHeight = 440;

    struct Row
    {
        QString group; // a menu's title, or where the key acts
        QString title;
        QString keys; // as the platform writes them
    };

    explicit ShortcutsSheet(const QList<Row> &rows, QWidget *parent = nullptr);

    int rowCount() const { return m_rowCount; }

private:
    int m_rowCount = 0;
};

} // namespace clipvane
