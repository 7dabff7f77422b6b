#pragma once

#include <QWidget>

class QMenu;
class QToolButton;

namespace clipvane {

class AppState;
class VisibleList;

// The three menus under the search field: which library (and the family libraries shown),
// the sort order, the year. Each label shows the current choice; the menus carry no check marks
// except the family toggles.
class FilterBar : public QWidget
{
    Q_OBJECT

public:
    FilterBar(AppState &state, VisibleList &list, QWidget *parent = nullptr);

    QToolButton &libraryButton() const { return *m_library; }
    QToolButton &sortButton() const { return *m_sort; }
    QToolButton &yearButton() const { return *m_year; }

    // The menus' items as they are built when opened.
    void fillLibraryMenu(QMenu &menu);
    void fillSortMenu(QMenu &menu);
    void fillYearMenu(QMenu &menu);

private:
    QToolButton *makeButton(const QString &accessibleName, void (FilterBar::*fill)(QMenu &));
    void updateLabels();

    AppState &m_state;
    VisibleList &m_list;
    QToolButton *m_library;
    QToolButton *m_sort;
    QToolButton *m_year;
};

} // namespace clipvane
