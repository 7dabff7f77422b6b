#pragma once

#include <QWidget>

class QVBoxLayout;

namespace clipvane {

// One group of a settings form: an optional header above a rounded card whose rows are divided
// by hairlines.
class SettingsSection : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsSection(const QString &header = {}, QWidget *parent = nullptr);

    // Adds a row at the card's end and returns it. Rows are the card's children.
    QWidget *addRow(QWidget *row);
    // Where a row of several items leaves its free space.
    enum class Space { afterFirst, atEnd, none };
    // A row laid out from the given items, left to right, vertically centred.
    QWidget *addRow(std::initializer_list<QWidget *> items, Space space = Space::afterFirst);
    // Removes every row (the lists of the family tab are rebuilt on each change).
    void clearRows();
    QWidget *card() const { return m_card; }

private:
    QWidget *m_card = nullptr;
    QVBoxLayout *m_rows = nullptr;
};

} // namespace clipvane
