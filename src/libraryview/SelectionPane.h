#pragma once

#include <QWidget>

class QLabel;

namespace clipvane {

class PillButton;

// What the detail pane shows while several videos are selected: how many, and the changes that
// apply to them all. The buttons only ask; the library view conducts the change.
class SelectionPane : public QWidget
{
    Q_OBJECT

public:
    explicit SelectionPane(QWidget *parent = nullptr);

    // count: videos selected; shared: those of libraries shared with the person (left alone by
    // every change); excluded and included: of the person's own, those excluded and those not.
    void setSelection(qsizetype count, qsizetype shared, qsizetype excluded, qsizetype included);

    QString heading() const;
    PillButton &excludeButton() const { return *m_exclude; }
    PillButton &includeButton() const { return *m_include; }
    PillButton &deleteButton() const { return *m_delete; }

    // The text "12 videos selected" for a count.
    static QString countText(qsizetype count);

Q_SIGNALS:
    void excludeClicked();
    void includeClicked();
    void deleteClicked();

private:
    QLabel *m_symbol;
    QLabel *m_heading;
    QLabel *m_hint;
    QLabel *m_note;
    PillButton *m_exclude;
    PillButton *m_include;
    PillButton *m_delete;
};

} // namespace clipvane
