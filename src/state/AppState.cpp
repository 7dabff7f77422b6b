#include "AppState.h"

#include "PlayerController.h"
#include "SettingsKeys.h"
#include "UpNextCountdown.h"

#include <QSettings>

namespace clipvane {

namespace {

// Only a real Boolean (or its text form, as an ini file keeps it) counts; anything else is the
// default.
bool storedBool(const QSettings &settings, QAnyStringView key, bool fallback)
{
    const QVariant stored = settings.value(key);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    if (stored.typeId() == QMetaType::QString)
        return stored.toString() == u"true";
    return fallback;
}

} // namespace

AppState::AppState(QSettings &standard, QObject *parent)
    : QObject(parent)
    , m_standard(standard)
    , m_player(new PlayerController(this))
    , m_upNext(new UpNextCountdown(this))
{
    m_autoplayOnSelect = storedBool(m_standard, SettingsKeys::autoplayOnSelect, SettingsDefaults::autoplayOnSelect);
    m_hideWatched = storedBool(m_standard, SettingsKeys::hideWatched, SettingsDefaults::hideWatched);
}

AppState::~AppState() = default;

bool AppState::playNextAutomatically() const
{
    const QVariant stored = m_standard.value(SettingsKeys::playNextAutomatically);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    if (stored.typeId() == QMetaType::QString)
        return stored.toString() != u"false";
    return SettingsDefaults::playNextAutomatically;
}

void AppState::setFullScreen(bool fullScreen)
{
    if (m_fullScreen == fullScreen)
        return;
    m_fullScreen = fullScreen;
    Q_EMIT fullScreenChanged(fullScreen);
}

void AppState::setSelectedID(std::optional<QString> id)
{
    if (m_selectedID == id)
        return;
    m_selectedID = std::move(id);
    Q_EMIT selectedIDChanged();
}

void AppState::setSelectedIDs(const QStringList &ids)
{
    if (m_selectedIDs == ids)
        return;
    m_selectedIDs = ids;
    Q_EMIT selectedIDsChanged();
}

QStringList AppState::targetsOf(const QString &youtubeID) const
{
    if (m_selectedIDs.size() > 1 && m_selectedIDs.contains(youtubeID))
        return m_selectedIDs;
    return {youtubeID};
}

void AppState::setBrowsing(bool browsing)
{
    if (m_browsing == browsing)
        return;
    m_browsing = browsing;
    Q_EMIT browsingChanged(browsing);
}

void AppState::setSearch(const QString &search)
{
    if (m_search == search)
        return;
    m_search = search;
    Q_EMIT searchChanged(search);
    Q_EMIT filterChanged();
}

void AppState::setYear(const QString &year)
{
    if (m_year == year)
        return;
    m_year = year;
    Q_EMIT yearChanged(year);
    Q_EMIT filterChanged();
}

void AppState::setSort(SortMode sort)
{
    if (m_sort == sort)
        return;
    m_sort = sort;
    Q_EMIT sortChanged(sort);
    Q_EMIT filterChanged();
}

void AppState::setShowExcluded(bool showExcluded)
{
    if (m_showExcluded == showExcluded)
        return;
    m_showExcluded = showExcluded;
    Q_EMIT showExcludedChanged(showExcluded);
    Q_EMIT filterChanged();
}

void AppState::setHideWatched(bool hide)
{
    // A failed write is not reported; the value in memory holds for this run.
    m_standard.setValue(SettingsKeys::hideWatched, hide);
    m_standard.sync();
    if (m_hideWatched == hide)
        return;
    m_hideWatched = hide;
    Q_EMIT hideWatchedChanged(hide);
    Q_EMIT filterChanged();
}

void AppState::setShowAdd(bool showAdd)
{
    if (m_showAdd == showAdd)
        return;
    m_showAdd = showAdd;
    Q_EMIT showAddChanged(showAdd);
}

void AppState::setShowAsk(bool showAsk)
{
    if (m_showAsk == showAsk)
        return;
    m_showAsk = showAsk;
    Q_EMIT showAskChanged(showAsk);
}

void AppState::setEditingID(std::optional<QString> id)
{
    if (m_editingID == id)
        return;
    m_editingID = std::move(id);
    Q_EMIT editingIDChanged();
}

void AppState::setPendingDeleteID(std::optional<QString> id)
{
    if (m_pendingDeleteID == id)
        return;
    m_pendingDeleteID = std::move(id);
    Q_EMIT pendingDeleteIDChanged();
}

void AppState::setHiddenOwners(const QSet<QString> &owners)
{
    if (m_hiddenOwners == owners)
        return;
    m_hiddenOwners = owners;
    Q_EMIT hiddenOwnersChanged();
    Q_EMIT filterChanged();
}

void AppState::clearRequests()
{
    setShowAdd(false);
    setEditingID(std::nullopt);
    setPendingDeleteID(std::nullopt);
    setShowAsk(false);
}

void AppState::raiseLocalEdit()
{
    ++m_localEdit;
    Q_EMIT localEditChanged(m_localEdit);
}

void AppState::setAutoplayOnSelect(bool autoplay)
{
    // A failed write is not reported; the value in memory holds for this run.
    m_standard.setValue(SettingsKeys::autoplayOnSelect, autoplay);
    m_standard.sync();
    if (m_autoplayOnSelect == autoplay)
        return;
    m_autoplayOnSelect = autoplay;
    Q_EMIT autoplayOnSelectChanged(autoplay);
}

LibraryFilter AppState::filter() const
{
    return {.search = m_search,
            .year = m_year,
            .sort = m_sort,
            .showExcluded = m_showExcluded,
            .hideWatched = m_hideWatched,
            .hiddenOwners = m_hiddenOwners};
}

bool AppState::hasActiveFilters() const
{
    return !m_search.isEmpty() || !m_year.isEmpty() || m_showExcluded || !m_hiddenOwners.isEmpty();
}

void AppState::clearFilters()
{
    setSearch(QString());
    setYear(QString());
    setShowExcluded(false);
    setHiddenOwners({});
}

} // namespace clipvane
