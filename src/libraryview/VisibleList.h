#pragma once

#include "LibraryIndex.h"
#include "LibraryNavigation.h"
#include "ListInputs.h"
#include "VideoListModel.h"

#include <QObject>
#include <QStringList>
#include <optional>
#include <vector>

namespace clipvane {

class AppState;
class SyncEngine;
class Video;
class VideoStore;

// The library's visible list and what the column shows beside it (years, owners of shared
// libraries), kept through the kept-order index. It is computed again exactly when the list's
// inputs change; changes arriving together (a keystroke, a page of a pull) are taken in one go
// once control returns to the event loop. Records about to leave the store leave the rows first.
class VisibleList : public QObject
{
    Q_OBJECT

public:
    VisibleList(AppState &state, SyncEngine &sync, VideoStore &store, QObject *parent = nullptr);

    VideoListModel &model() { return m_model; }
    const QList<const Video *> &visible() const { return m_model.visible(); }
    // The year menu's entries and the owners of shared libraries, from every record. Taken from
    // the index when first asked for after a recompute: only the menus read them, and working
    // out 100,000 year texts costs more than the visible list itself.
    const QStringList &years();
    const QStringList &sharedOwners();
    qsizetype count() const;
    ListInputs inputs() const;
    // The detail pane's counter for that selection.
    LibraryNavigation::Position position(const std::optional<QString> &selected);

    // Rebuilds the list and the collections now, then picks a first selection when there is none.
    void recompute();
    // Recomputes when the inputs differ from those of the last recompute.
    void recomputeIfChanged();

Q_SIGNALS:
    // The list was rebuilt (its rows may be the same).
    void recomputed();
    // A record's fields changed in place; rows show the new values at their next paint.
    void recordChanged(const clipvane::Video *video);

private:
    void schedule();

    AppState &m_state;
    SyncEngine &m_sync;
    VideoStore &m_store;
    VideoListModel m_model;
    LibraryIndex m_index;
    std::optional<ListInputs> m_last;
    std::optional<QStringList> m_years;
    std::optional<QStringList> m_sharedOwners;
    std::optional<std::vector<int>> m_unplayable; // of the rows as they are now
    bool m_scheduled = false;
};

} // namespace clipvane
