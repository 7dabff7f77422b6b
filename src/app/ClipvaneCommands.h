#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QUrl>

class QAction;
class QMenu;
class QMenuBar;

namespace clipvane {

class AppState;
class SyncEngine;
class VideoStore;

// The application's menus and their keys. The commands never act on views: they change the
// window state, call the sync engine, use the clipboard, or send a notification a view listens
// for, so every action works from the keyboard whichever widget has the focus. Labels and
// enabled states follow the state and the engine as they change. ⌘ is Ctrl off macOS.
class ClipvaneCommands : public QObject
{
    Q_OBJECT

public:
    // One command of the application: every menu item, and the keys that act outside the menus
    // (Space, F, the paging keys, Escape), which carry no menu. The keyboard shortcuts sheet is
    // made from this table, so a new command is listed there by itself.
    struct Command
    {
        QString menu; // the menu's title as shown; empty for a key handled outside the menus
        QString title;
        QList<QKeySequence> keys; // none for a command without a key
    };

    // webOrigin: the service's web origin, opened by "Clipvane Help".
    ClipvaneCommands(AppState &state, SyncEngine &sync, VideoStore &store, const QUrl &webOrigin, QMenuBar &bar,
                     QObject *parent = nullptr);

    // The action of a menu item by its title as shown (without the mnemonic), for tests.
    QAction *action(const QString &title) const;
    // Every command, menus first in their order, then the keys outside the menus.
    const QList<Command> &commands() const { return m_table; }

    // "Add from Clipboard": adds the video of a YouTube link on the clipboard; anything else
    // does nothing, silently.
    void addFromClipboard();
    void copyVideoLink();

Q_SIGNALS:
    void settingsRequested();
    void importRequested();
    void shortcutsRequested();
    void aboutRequested();

private:
    void buildFile(QMenuBar &bar);
    void buildEdit(QMenuBar &bar);
    void buildView(QMenuBar &bar);
    void buildLibrary(QMenuBar &bar);
    void buildHelp(QMenuBar &bar);
    void listKeysOutsideMenus();
    QAction *add(QMenu &menu, const QString &title, const QKeySequence &key = {});
    void updateRules();

    AppState &m_state;
    SyncEngine &m_sync;
    VideoStore &m_store;
    QUrl m_webOrigin;
    QList<QAction *> m_needSelection; // need a selected record
    QList<QAction *> m_needEditable;  // need a selected record of ones own
    QAction *m_browse = nullptr;
    QAction *m_autoplay = nullptr;
    QAction *m_showExcluded = nullptr;
    QAction *m_hideWatched = nullptr;
    QAction *m_watched = nullptr;
    QAction *m_clearFilters = nullptr;
    QAction *m_ask = nullptr;
    QAction *m_undo = nullptr;
    QList<QMenu *> m_menus;
    QList<Command> m_table;
};

} // namespace clipvane
