#pragma once

#include "Video.h"

#include <QListView>

namespace clipvane {

class CachedThumb;
class AppState;
class VideoRow;
class VisibleList;

// The list of the library column: the visible records, painted by VideoRow, with the
// selection bound to the window state. When the list is computed again it keeps its place: the
// selected row (or, when that is off screen, the top row) stays where it was on screen, so a
// record arriving at the top does not move what the user is looking at.
// Several rows may be selected (Shift and Ctrl with clicks and arrows, Ctrl+A); the current row
// stays the one the player follows, and the selection outlives a new order or filter for the
// rows still listed.
class LibraryListView : public QListView
{
    Q_OBJECT

public:
    LibraryListView(AppState &state, VisibleList &list, QWidget *parent = nullptr);
    ~LibraryListView() override;

    VideoRow &rowPainter() const { return *m_rows; }

Q_SIGNALS:
    // The user asked for a record's menu at a global position.
    void menuRequested(const clipvane::Video *video, const QPoint &globalPosition);
    // The Delete key, for the rows selected.
    void deleteRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void rememberPlace();
    void restorePlace();
    void showSelection();
    void selectRow(int row);
    // Selects again the rows of the state's selection that are still listed.
    void selectAgain();
    // Tells the state which rows are selected.
    void selectionToState();
    void currentRowChanged(const QModelIndex &current);
    void repaintSoon();

    AppState &m_state;
    VisibleList &m_list;
    CachedThumb *m_thumbs;
    VideoRow *m_rows;
    bool m_selecting = false;
    bool m_repaintQueued = false;
    bool m_toTop = false; // the next recompute shows the first row
    // The row kept in place across a recompute and its distance from the top of the viewport.
    const Video *m_anchor = nullptr;
    int m_anchorOffset = 0;
};

} // namespace clipvane
