#pragma once

#include "LibraryNavigation.h"

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class QSplitter;
class QStackedWidget;

namespace clipvane {

class APIClient;
class AskOverlay;
class LibraryColumn;
class LibraryImport;
class LibraryToolbar;
class SelectionPane;
class AppState;
class DetailView;
class SyncEngine;
class Video;
class VideoStore;
class VisibleList;
class WatchProgress;
struct AskVideo;

// The library window's content once the user is signed in: the toolbar over a split view of
// the library column and the detail pane. It keeps the visible list, lets the selection drive
// the player, presents the sheets (add, edit, confirm deletion) window-modally, takes dropped
// links, shows the assistant over everything and answers the menu commands' notifications.
class LibraryView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kDetailMinimumWidth = 480;

    // api: the client the assistant asks; everything must outlive the view.
    LibraryView(AppState &state, SyncEngine &sync, VideoStore &store, APIClient &api, const QUrl &playerPageURL,
                QWidget *parent = nullptr);
    ~LibraryView() override;

    VisibleList &list() const { return *m_list; }
    LibraryColumn &column() const { return *m_column; }
    DetailView &detail() const { return *m_detail; }
    // Shown in the detail pane's place while several videos are selected.
    SelectionPane &selectionPane() const { return *m_selectionPane; }
    LibraryToolbar &toolbar() const { return *m_toolbar; }
    AskOverlay &askOverlay() const { return *m_ask; }
    QSplitter &splitter() const { return *m_splitter; }
    // The sheet open over the window, if any.
    QDialog *sheet() const { return m_sheet; }

    void recompute();
    // The record of the selection, or null.
    const Video *selectedVideo() const;
    void stepSelection(int by);
    QList<const Video *> upNext() const;
    LibraryNavigation::Position position() const;
    bool handleDrop(const QStringList &texts);
    // File ▸ Import…: files chosen in a dialog; dropped files go the same way.
    void importFiles();
    LibraryImport &libraryImport() const { return *m_import; }
    void playAskResult(const AskVideo &video);
    // The exclude toggle of a record of the user's own; for one of several selected, of them all.
    void toggleExcluded(const Video *video);
    // Excludes (or includes back) the videos selected, the person's own only.
    void setSelectionExcluded(bool excluded);
    // The watched mark of a record of the user's own, turned the other way.
    void toggleWatched(const Video *video);
    // How addresses are opened in the browser (tests watch instead).
    void setUrlOpener(std::function<void(const QUrl &)> opener);

Q_SIGNALS:
    void settingsRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void selectionChanged();
    // The selected video ended: the next playable one of the list as shown plays after a wait.
    void offerNext();
    void browsingChanged(bool browsing);
    void updateDetail();
    void presentAdd(bool shown);
    void presentEdit();
    void presentDelete();
    void present(QDialog *sheet, std::function<void()> dismissed);
    void showRowMenu(const Video *video, const QPoint &globalPosition);
    // The detail pane, or the pane of several videos when more than one is selected.
    void updateSelectionPane();
    // The video a change of the selection is asked about: the current row when selected.
    std::optional<QString> selectionAnchor() const;
    void presentDeleteMany(const QStringList &ids);

    AppState &m_state;
    SyncEngine &m_sync;
    VideoStore &m_store;
    VisibleList *m_list;
    LibraryToolbar *m_toolbar;
    QSplitter *m_splitter;
    LibraryColumn *m_column;
    DetailView *m_detail;
    SelectionPane *m_selectionPane;
    QStackedWidget *m_detailStack;
    AskOverlay *m_ask;
    QPointer<QDialog> m_sheet;
    std::function<void(const QUrl &)> m_openUrl;
    std::unique_ptr<WatchProgress> m_progress;
    LibraryImport *m_import;
    bool m_appeared = false;
    QString m_justAdded; // selected once the list shows it
};

} // namespace clipvane
