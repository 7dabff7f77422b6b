#pragma once

#include "LibraryFilter.h"
#include "SortMode.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

class QSettings;

namespace clipvane {

class PlayerController;
class UpNextCountdown;

// What the main window is doing: the selection, browse mode, the filter inputs, which sheet or
// panel is open, and the window's player. One instance per process, created before the main
// window and handed to its views and to the menu commands; main thread only. Each field has a
// change signal, emitted after the value changed (and only when it did). Only autoplayOnSelect
// and hideWatched survive a restart: they are read from the standard settings at creation and
// written back at every assignment.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString selectedID READ selectedIDText NOTIFY selectedIDChanged)
    Q_PROPERTY(bool browsing READ browsing WRITE setBrowsing NOTIFY browsingChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(QString year READ year WRITE setYear NOTIFY yearChanged)
    Q_PROPERTY(bool showExcluded READ showExcluded WRITE setShowExcluded NOTIFY showExcludedChanged)
    Q_PROPERTY(bool hideWatched READ hideWatched WRITE setHideWatched NOTIFY hideWatchedChanged)
    Q_PROPERTY(bool showAdd READ showAdd WRITE setShowAdd NOTIFY showAddChanged)
    Q_PROPERTY(bool showAsk READ showAsk WRITE setShowAsk NOTIFY showAskChanged)
    Q_PROPERTY(int localEdit READ localEdit NOTIFY localEditChanged)
    Q_PROPERTY(bool autoplayOnSelect READ autoplayOnSelect WRITE setAutoplayOnSelect NOTIFY autoplayOnSelectChanged)
    Q_PROPERTY(bool hasActiveFilters READ hasActiveFilters NOTIFY filterChanged)
    Q_PROPERTY(bool fullScreen READ fullScreen WRITE setFullScreen NOTIFY fullScreenChanged)

public:
    // standard: the standard settings, which must outlive the state. Creates the player.
    explicit AppState(QSettings &standard, QObject *parent = nullptr);
    ~AppState() override;

    PlayerController &player() const { return *m_player; }
    // The wait before the next video plays, shown over the player.
    UpNextCountdown &upNext() const { return *m_upNext; }

    std::optional<QString> selectedID() const { return m_selectedID; }
    // The rows selected in the list, in the list's order: the selected video alone, or several
    // the person picked together for a change of them all. Only IDs still listed stay in it.
    QStringList selectedIDs() const { return m_selectedIDs; }
    // The records a change asked for about youtubeID applies to: the whole selection when the
    // ID is one of several selected, else that video alone.
    QStringList targetsOf(const QString &youtubeID) const;
    QString selectedIDText() const { return m_selectedID.value_or(QString()); }
    bool browsing() const { return m_browsing; }
    QString search() const { return m_search; }
    QString year() const { return m_year; }
    SortMode sort() const { return m_sort; }
    bool showExcluded() const { return m_showExcluded; }
    bool hideWatched() const { return m_hideWatched; }
    bool showAdd() const { return m_showAdd; }
    bool showAsk() const { return m_showAsk; }
    std::optional<QString> editingID() const { return m_editingID; }
    std::optional<QString> pendingDeleteID() const { return m_pendingDeleteID; }
    QSet<QString> hiddenOwners() const { return m_hiddenOwners; }
    int localEdit() const { return m_localEdit; }
    bool autoplayOnSelect() const { return m_autoplayOnSelect; }
    // The player alone fills the screen.
    bool fullScreen() const { return m_fullScreen; }
    // Read from the standard settings at each call: the settings window writes it there.
    bool playNextAutomatically() const;

    void setSelectedID(std::optional<QString> id);
    void setSelectedIDs(const QStringList &ids);
    void setBrowsing(bool browsing);
    void setSearch(const QString &search);
    void setYear(const QString &year);
    void setSort(SortMode sort);
    void setShowExcluded(bool showExcluded);
    // Saved in the standard settings, like autoplayOnSelect: a way of keeping the list, not a
    // passing filter, so "Clear Filters" leaves it.
    void setHideWatched(bool hide);
    void setShowAdd(bool showAdd);
    void setShowAsk(bool showAsk);
    void setEditingID(std::optional<QString> id);
    void setPendingDeleteID(std::optional<QString> id);
    void setHiddenOwners(const QSet<QString> &owners);
    // Drops every sheet and panel asked for (the person signed out: nobody will serve them).
    void clearRequests();
    // Raised by one after each saved edit of a record's details; only its changes matter.
    void raiseLocalEdit();
    // Written to the standard settings at once, even when the value stays the same.
    void setAutoplayOnSelect(bool autoplay);
    void setFullScreen(bool fullScreen);

    // The filter fields as one value.
    LibraryFilter filter() const;
    // A search, a year, the excluded list or a hidden owner; the sort order does not count.
    bool hasActiveFilters() const;
    // Empties the search, the year, the excluded switch and the hidden owners, each as its own
    // change, in that order. Sort, selection and browse mode stay.
    void clearFilters();

Q_SIGNALS:
    void selectedIDChanged();
    void selectedIDsChanged();
    void browsingChanged(bool browsing);
    void searchChanged(const QString &search);
    void yearChanged(const QString &year);
    void sortChanged(clipvane::SortMode sort);
    void showExcludedChanged(bool showExcluded);
    void hideWatchedChanged(bool hide);
    void showAddChanged(bool showAdd);
    void showAskChanged(bool showAsk);
    void editingIDChanged();
    void pendingDeleteIDChanged();
    void hiddenOwnersChanged();
    void localEditChanged(int localEdit);
    void autoplayOnSelectChanged(bool autoplay);
    void fullScreenChanged(bool fullScreen);
    // Any of the five filter fields changed (after its own signal).
    void filterChanged();

private:
    QSettings &m_standard;
    PlayerController *m_player; // a child: lives exactly as long as the state
    UpNextCountdown *m_upNext;  // a child too

    std::optional<QString> m_selectedID;
    QStringList m_selectedIDs;
    bool m_browsing = false;
    QString m_search;
    QString m_year;
    SortMode m_sort = SortMode::newest;
    bool m_showExcluded = false;
    bool m_hideWatched = false;
    bool m_showAdd = false;
    bool m_showAsk = false;
    std::optional<QString> m_editingID;
    std::optional<QString> m_pendingDeleteID;
    QSet<QString> m_hiddenOwners;
    int m_localEdit = 0;
    bool m_autoplayOnSelect = false;
    bool m_fullScreen = false;
};

} // namespace clipvane
