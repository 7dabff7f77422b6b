#pragma once

#include <QWidget>

class QStackedWidget;

namespace clipvane {

class EmptyLibraryView;
class FilterBar;
class LibraryListView;
class AppState;
class SearchRow;
class StatusLine;
class SyncEngine;
class VisibleList;

// The left column of the library window: the search field, the filter menus, the list (or the
// empty library when the store holds nothing), and the status line.
class LibraryColumn : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMinimumWidth = 260;
    static constexpr int kIdealWidth = 300;
    static constexpr int kMaximumWidth = 460;

    LibraryColumn(AppState &state, SyncEngine &sync, VisibleList &list, QWidget *parent = nullptr);

    SearchRow &searchRow() const { return *m_search; }
    FilterBar &filterBar() const { return *m_filters; }
    LibraryListView &listView() const { return *m_list; }
    EmptyLibraryView &emptyView() const { return *m_empty; }
    StatusLine &statusLine() const { return *m_status; }
    bool showsEmptyLibrary() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateCounts();

    VisibleList &m_visible;
    SearchRow *m_search;
    FilterBar *m_filters;
    QStackedWidget *m_stack;
    LibraryListView *m_list;
    EmptyLibraryView *m_empty;
    StatusLine *m_status;
};

} // namespace clipvane
