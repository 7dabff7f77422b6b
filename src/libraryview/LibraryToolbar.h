#pragma once

#include <QToolBar>

class QAction;

namespace clipvane {

class AppState;
class SyncEngine;

// The library window's toolbar: the assistant (only while the service offers it) on the
// leading side; browse mode, adding a video and the settings on the trailing side. The keys
// named in the tooltips belong to the menu commands; the buttons have none of their own.
class LibraryToolbar : public QToolBar
{
    Q_OBJECT

public:
    LibraryToolbar(AppState &state, SyncEngine &sync, QWidget *parent = nullptr);

    QAction &askAction() const { return *m_ask; }
    QAction &browseAction() const { return *m_browse; }
    QAction &addAction() const { return *m_add; }
    QAction &settingsAction() const { return *m_settings; }

    // "Ask Clipvane (Ctrl+Y)": a tooltip naming the platform's key for a command key.
    static QString withKey(const QString &text, const QKeySequence &key);

Q_SIGNALS:
    void settingsRequested();

private:
    void updateBrowse(bool browsing);

    QAction *m_ask;
    QAction *m_browse;
    QAction *m_add;
    QAction *m_settings;
};

} // namespace clipvane
