#include "VisibleList.h"

#include "AppState.h"
#include "LibraryNavigation.h"
#include "StartupTrace.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QTimer>

namespace clipvane {

VisibleList::VisibleList(AppState &state, SyncEngine &sync, VideoStore &store, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_sync(sync)
    , m_store(store)
{
    connect(&state, &AppState::filterChanged, this, &VisibleList::schedule);
    connect(&state, &AppState::localEditChanged, this, &VisibleList::schedule);
    connect(&sync, &SyncEngine::lastSyncChanged, this, &VisibleList::schedule);
    connect(&store, &VideoStore::inserted, this, &VisibleList::schedule);
    connect(&store, &VideoStore::removed, this, &VisibleList::schedule);
    connect(&store, &VideoStore::aboutToRemove, this, [this](const QList<const Video *> &videos) {
        m_model.forget(videos);
        m_unplayable.reset();
    });
    connect(&store, &VideoStore::changed, this, [this](const Video *video) {
        m_model.recordChanged(video);
        Q_EMIT recordChanged(video);
    });
}

qsizetype VisibleList::count() const
{
    return m_store.all().size();
}

ListInputs VisibleList::inputs() const
{
    return {m_state.search(),       m_state.year(), m_state.sort(),    m_state.showExcluded(), m_state.hideWatched(),
            m_state.hiddenOwners(), count(),        m_sync.lastSync(), m_state.localEdit()};
}

const QStringList &VisibleList::years()
{
    if (!m_years)
        m_years = m_index.years(m_store.all(), m_store.revision());
    return *m_years;
}

const QStringList &VisibleList::sharedOwners()
{
    if (!m_sharedOwners)
        m_sharedOwners = m_index.sharedOwners(m_store.all(), m_store.revision());
    return *m_sharedOwners;
}

LibraryNavigation::Position VisibleList::position(const std::optional<QString> &selected)
{
    if (!m_unplayable)
        m_unplayable = LibraryNavigation::unplayableRows(visible());
    return LibraryNavigation::position(visible(), *m_unplayable, selected);
}

void VisibleList::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        recomputeIfChanged();
    });
}

void VisibleList::recomputeIfChanged()
{
    if (m_last != inputs())
        recompute();
}

void VisibleList::recompute()
{
    const ListInputs now = inputs();
    // A new search or order replaces the rows whole; a sync or an edit moves only what changed.
    const auto basis =
        m_last && m_last->sameFilter(now) ? VideoListModel::Basis::sameFilter : VideoListModel::Basis::otherFilter;
    m_last = now;
    const QList<const Video *> &records = m_store.all();
    const quint64 revision = m_store.revision();
    m_model.setVisible(m_index.visible(records, revision, m_state.filter()), basis);
    m_years.reset();
    m_sharedOwners.reset();
    m_unplayable.reset();
    if (!m_state.selectedID()) {
        if (const std::optional<QString> first = LibraryNavigation::firstPlayableID(visible()))
            m_state.setSelectedID(first);
    }
    Q_EMIT recomputed();
}

} // namespace clipvane
