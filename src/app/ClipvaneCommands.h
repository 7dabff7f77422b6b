#pragma once

#include <QKeySequence>
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
    // webOrigin: the service's web origin, opened by "Clipvane Help".
    ClipvaneCommands(AppState &state, SyncEngine &sync, VideoStore &store, const QUrl &webOrigin, QMenuBar &bar,
                     QObject *parent = nullptr);

    // The action of a menu item by its title as shown (without the mnemonic), for tests.
    QAction *action(const QString &title) const;

    // "Add from Clipboard": adds the video of a YouTube link on the clipboard; anything else
    // does nothing, silently.
    void addFromClipboard();
    void copyVideoLink();

Q_SIGNALS:
    void settingsRequested();

private:
    void buildFile(QMenuBar &bar);
    void buildEdit(QMenuBar &bar);
    void buildView(QMenuBar &bar);
    void buildLibrary(QMenuBar &bar);
    void buildHelp(QMenuBar &bar);
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
    QAction *m_clearFilters = nullptr;
    QAction *m_ask = nullptr;
    QList<QMenu *> m_menus;
};

} // namespace clipvane
