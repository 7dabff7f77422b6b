#include "LibraryView.h"

#include "AddSheet.h"
#include "AppSignals.h"
#include "AppState.h"
#include "AskOverlay.h"
#include "AskPanel.h"
#include "AskVideo.h"
#include "ConfirmSheet.h"
#include "DetailInfoPanel.h"
#include "DetailView.h"
#include "EditSheet.h"
#include "ForeignID.h"
#include "LibraryColumn.h"
#include "LibraryImport.h"
#include "LibraryListView.h"
#include "LibraryToolbar.h"
#include "LinkDrop.h"
#include "Palette.h"
#include "PlayerController.h"
#include "RowMenu.h"
#include "SearchRow.h"
#include "SelectionPane.h"
#include "StartupTrace.h"
#include "StatusLine.h"
#include "SyncEngine.h"
#include "UpNextCountdown.h"
#include "Video.h"
#include "VideoStore.h"
#include "VisibleList.h"
#include "WatchProgress.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace clipvane {

LibraryView::LibraryView(AppState &state, SyncEngine &sync, VideoStore &store, APIClient &api,
                         const QUrl &playerPageURL, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_sync(sync)
    , m_store(store)
    , m_list(new VisibleList(state, sync, store, this))
    , m_toolbar(new LibraryToolbar(state, sync, this))
    , m_splitter(new QSplitter(Qt::Horizontal, this))
    , m_column(new LibraryColumn(state, sync, *m_list, m_splitter))
    , m_detail(new DetailView(state, playerPageURL))
    , m_selectionPane(new SelectionPane)
    , m_detailStack(new QStackedWidget(m_splitter))
    , m_ask(nullptr)
    , m_openUrl([](const QUrl &url) { QDesktopServices::openUrl(url); })
    , m_import(new LibraryImport(sync, m_column->statusLine(), this))
{
    setAutoFillBackground(true);
    QPalette ink = palette();
    ink.setColor(QPalette::Window, Palette::ink());
    setPalette(ink);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_splitter, 1);
    m_detailStack->setMinimumWidth(kDetailMinimumWidth);
    m_detailStack->addWidget(m_detail);
    m_detailStack->addWidget(m_selectionPane);
    m_splitter->addWidget(m_column);
    m_splitter->addWidget(m_detailStack);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setHandleWidth(1);
    m_splitter->setSizes({LibraryColumn::kIdealWidth, 1000});
    m_ask = new AskOverlay(api, this);
    // The overlay follows showAsk both ways: the toolbar and the menu open it; its backdrop, close
    // button and Escape close it.
    connect(&state, &AppState::showAskChanged, m_ask, [this](bool shown) {
        if (shown)
            m_ask->open();
        else
            m_ask->close();
    });
    connect(m_ask, &AskOverlay::openChanged, &state, &AppState::setShowAsk);
    connect(m_ask, &AskOverlay::playRequested, this, &LibraryView::playAskResult);
    if (state.showAsk())
        m_ask->open();

    m_detail->setLibrary(&store, &sync);
    m_detail->setOnPage([this](int direction) { stepSelection(direction); });
    // The pane's own exclude button saves the record; the list then drops or keeps its row.
    connect(&m_detail->infoPanel(), &DetailInfoPanel::toggleExcludedClicked, this, &LibraryView::recompute);
    connect(&m_detail->infoPanel(), &DetailInfoPanel::toggleWatchedClicked, this,
            [this] { toggleWatched(selectedVideo()); });

    connect(m_list, &VisibleList::recomputed, this, &LibraryView::updateDetail);
    // A video the person just added is selected once it is listed, so it never lands out of sight.
    connect(&sync.edits(), &LocalEdits::addAnswered, this, [this](const QList<AddOutcome> &outcomes) {
        for (const AddOutcome &outcome : outcomes) {
            if (outcome.kind == AddOutcome::Kind::added)
                m_justAdded = outcome.youtubeID;
        }
    });
    connect(m_list, &VisibleList::recomputed, this, [this] {
        if (m_justAdded.isEmpty())
            return;
        if (LibraryNavigation::rowOf(m_list->visible(), m_justAdded) >= 0)
            m_state.setSelectedID(m_justAdded);
        m_justAdded.clear();
    });
    connect(m_list, &VisibleList::recordChanged, this, [this](const Video *video) {
        if (video == selectedVideo())
            updateDetail();
    });
    connect(&store, &VideoStore::removed, this, &LibraryView::updateDetail);
    connect(&state, &AppState::selectedIDChanged, this, &LibraryView::selectionChanged);
    connect(&state, &AppState::selectedIDsChanged, this, &LibraryView::updateSelectionPane);
    connect(&sync.history(), &EditHistory::undone, this, &LibraryView::recompute);
    connect(&store, &VideoStore::saved, this, &LibraryView::updateSelectionPane);
    connect(m_selectionPane, &SelectionPane::excludeClicked, this, [this] { setSelectionExcluded(true); });
    connect(m_selectionPane, &SelectionPane::includeClicked, this, [this] { setSelectionExcluded(false); });
    connect(m_selectionPane, &SelectionPane::deleteClicked, this,
            [this] { m_state.setPendingDeleteID(selectionAnchor()); });
    connect(&m_column->listView(), &LibraryListView::deleteRequested, this,
            [this] { m_state.setPendingDeleteID(selectionAnchor()); });
    m_progress = std::make_unique<WatchProgress>(
        WatchProgress::Keeper{[this](const QString &id, int seconds) { m_sync.edits().setPosition(id, seconds); },
                              [this](const QString &id) { m_sync.edits().setWatched(id, true); }},
        [] { return std::chrono::steady_clock::now(); });
    connect(&state.player(), &PlayerController::timeReported, this, [this](double position, double duration) {
        m_progress->timeReported(position, duration, m_state.player().isPlaying());
    });
    connect(&state.player(), &PlayerController::isPlayingChanged, this, [this](bool playing) {
        if (!playing)
            m_progress->paused();
    });
    connect(&state.player(), &PlayerController::ended, this, [this] { m_progress->ended(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_progress->quit(); });
    connect(&state.player(), &PlayerController::ended, this, &LibraryView::offerNext);
    connect(&state.upNext(), &UpNextCountdown::playRequested, this, [this](const QString &youtubeID) {
        m_state.setSelectedID(youtubeID);
        m_state.player().load(youtubeID, true);
    });
    connect(&state, &AppState::browsingChanged, this, &LibraryView::browsingChanged);
    connect(&state, &AppState::showAddChanged, this, &LibraryView::presentAdd);
    connect(&state, &AppState::editingIDChanged, this, &LibraryView::presentEdit);
    connect(&state, &AppState::pendingDeleteIDChanged, this, &LibraryView::presentDelete);
    connect(m_toolbar, &LibraryToolbar::settingsRequested, this, &LibraryView::settingsRequested);
    connect(&m_column->listView(), &LibraryListView::menuRequested, this, &LibraryView::showRowMenu);

    AppSignals &signals = AppSignals::instance();
    connect(&signals, &AppSignals::macFocusSearch, this, [this] { m_column->searchRow().focusField(); });
    connect(&signals, &AppSignals::macStepSelection, this, &LibraryView::stepSelection);
    connect(&signals, &AppSignals::macToggleWatched, this, [this] { toggleWatched(selectedVideo()); });
    connect(&signals, &AppSignals::macToggleExcluded, this, [this] {
        if (m_state.selectedIDs().size() > 1) {
            // Excludes them all unless all the person's own are excluded already.
            const QStringList ids = m_state.selectedIDs();
            setSelectionExcluded(std::any_of(ids.cbegin(), ids.cend(), [this](const QString &id) {
                const Video *video = m_store.find(id);
                return video && !video->readOnly && !video->excluded;
            }));
            return;
        }
        const Video *video = selectedVideo();
        if (video && !video->readOnly)
            toggleExcluded(video);
    });

    // Links may be dropped anywhere on the window, the player and the search field included:
    // drags reach widgets that accept drops, walking up from the one under the pointer, and the
    // filter takes them before any child that would take the link as text or as a page to load.
    setAcceptDrops(true);
    qApp->installEventFilter(this);
    m_list->recompute();
    StartupTrace::mark("library list computed");
}

LibraryView::~LibraryView()
{
    // Nobody is left to play what the wait names.
    m_state.upNext().cancel();
    m_progress->quit();
}

void LibraryView::setUrlOpener(std::function<void(const QUrl &)> opener)
{
    m_openUrl = std::move(opener);
}

void LibraryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    // Built when the view was made; again only if something changed since.
    m_list->recomputeIfChanged();
    if (!m_state.selectedID() && !m_list->visible().isEmpty())
        m_state.setSelectedID(m_list->visible().constFirst()->youtubeID);
    // The keys act on the list first: arrows move the selection, Space plays.
    m_column->listView().setFocus(Qt::OtherFocusReason);
    // A sheet asked for before the library could show one (Ctrl+N on the sign-in screen) opens now.
    if (m_state.showAdd())
        presentAdd(true);
    if (m_state.editingID())
        presentEdit();
    if (m_state.pendingDeleteID())
        presentDelete();
}

void LibraryView::recompute()
{
    m_list->recompute();
}

const Video *LibraryView::selectedVideo() const
{
    const std::optional<QString> id = m_state.selectedID();
    return id ? m_store.find(*id) : nullptr;
}

void LibraryView::stepSelection(int by)
{
    if (const std::optional<QString> target =
            LibraryNavigation::stepTarget(m_list->visible(), m_state.selectedID(), by, m_state.browsing()))
        m_state.setSelectedID(target);
}

QList<const Video *> LibraryView::upNext() const
{
    return LibraryNavigation::upNext(m_list->visible(), m_state.selectedID());
}

LibraryNavigation::Position LibraryView::position() const
{
    return m_list->position(m_state.selectedID());
}

bool LibraryView::handleDrop(const QStringList &texts)
{
    return LinkDrop::add(texts, m_sync);
}

void LibraryView::importFiles()
{
    m_import->chooseFiles(this);
}

void LibraryView::playAskResult(const AskVideo &video)
{
    if (m_store.find(video.youtubeID)) {
        m_state.setSelectedID(video.youtubeID);
        m_state.setShowAsk(false);
        return;
    }
    const QUrl url(video.url, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        m_openUrl(url);
}

void LibraryView::toggleExcluded(const Video *video)
{
    if (!video)
        return;
    m_sync.history().setExcluded(m_state.targetsOf(video->youtubeID), !video->excluded); // saves, schedules a sync
    recompute();
}

void LibraryView::setSelectionExcluded(bool excluded)
{
    m_sync.history().setExcluded(m_state.selectedIDs(), excluded);
    recompute();
}

std::optional<QString> LibraryView::selectionAnchor() const
{
    const QStringList ids = m_state.selectedIDs();
    const std::optional<QString> current = m_state.selectedID();
    if (ids.isEmpty() || (current && ids.contains(*current)))
        return current;
    return ids.constFirst();
}

void LibraryView::updateSelectionPane()
{
    const QStringList ids = m_state.selectedIDs();
    if (ids.size() < 2) {
        if (m_detailStack->currentWidget() != m_detail) {
            // The focus was on a button of the pane going away: it goes back to the list.
            const bool hadFocus = m_selectionPane->isAncestorOf(QApplication::focusWidget());
            m_detailStack->setCurrentWidget(m_detail);
            if (hadFocus)
                m_column->listView().setFocus(Qt::OtherFocusReason);
        }
        return;
    }
    qsizetype shared = 0;
    qsizetype excluded = 0;
    for (const QString &id : ids) {
        const Video *video = m_store.find(id);
        if (!video)
            continue;
        if (video->readOnly)
            ++shared;
        else if (video->excluded)
            ++excluded;
    }
    m_selectionPane->setSelection(ids.size(), shared, excluded, ids.size() - shared - excluded);
    m_detailStack->setCurrentWidget(m_selectionPane);
}

void LibraryView::toggleWatched(const Video *video)
{
    if (!video || video->readOnly)
        return;
    m_sync.edits().setWatched(video->youtubeID, !video->watched);
    recompute();
}

void LibraryView::offerNext()
{
    if (!m_state.playNextAutomatically())
        return;
    if (const Video *next = LibraryNavigation::nextPlayable(m_list->visible(), m_state.selectedID()))
        m_state.upNext().offer(next->youtubeID, next->title);
}

void LibraryView::selectionChanged()
{
    // Whatever the person picked wins over the video the wait names.
    m_state.upNext().cancel();
    const std::optional<QString> id = m_state.selectedID();
    m_progress->select(id);
    if (id && !isForeignID(*id)) {
        const Video *video = m_store.find(*id);
        const int start = video ? WatchProgress::startPosition(video->watched, video->position) : 0;
        m_state.player().load(*id, m_state.browsing() || m_state.autoplayOnSelect(), start);
    }
    updateDetail();
}

void LibraryView::browsingChanged(bool browsing)
{
    if (!browsing)
        return;
    const Video *video = selectedVideo();
    if (video && LibraryNavigation::isPlayable(*video)) {
        m_state.player().play();
        return;
    }
    m_state.setSelectedID(LibraryNavigation::firstPlayableID(m_list->visible()));
}

void LibraryView::updateDetail()
{
    const Video *video = selectedVideo();
    m_detail->setVideo(video ? std::optional<Video>(*video) : std::nullopt);
    const LibraryNavigation::Position at = position();
    m_detail->setPosition({at.index, at.total});
}

void LibraryView::present(QDialog *sheet, std::function<void()> dismissed)
{
    if (m_sheet)
        m_sheet->reject();
    m_sheet = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this, sheet, dismissed = std::move(dismissed)] {
        if (m_sheet == sheet)
            m_sheet = nullptr;
        dismissed();
    });
    sheet->open();
}

void LibraryView::presentAdd(bool shown)
{
    auto *open = qobject_cast<AddSheet *>(m_sheet.data());
    if (!shown) {
        if (open)
            open->reject();
        return;
    }
    if (open)
        return;
    present(new AddSheet(m_sync, m_store, this), [this] { m_state.setShowAdd(false); });
}

void LibraryView::presentEdit()
{
    const std::optional<QString> id = m_state.editingID();
    auto *open = qobject_cast<EditSheet *>(m_sheet.data());
    if (!id || !m_store.find(*id)) {
        if (open)
            open->reject();
        // A request for a record that is gone is dropped, so asking again is a change again.
        m_state.setEditingID(std::nullopt);
        return;
    }
    if (open)
        open->reject();
    auto *sheet = new EditSheet(*id, m_sync, m_store, this);
    connect(sheet, &EditSheet::edited, &m_state, &AppState::raiseLocalEdit);
    present(sheet, [this] { m_state.setEditingID(std::nullopt); });
}

void LibraryView::presentDelete()
{
    const std::optional<QString> id = m_state.pendingDeleteID();
    const Video *video = id ? m_store.find(*id) : nullptr;
    auto *open = qobject_cast<ConfirmSheet *>(m_sheet.data());
    if (!video) {
        if (open)
            open->reject();
        m_state.setPendingDeleteID(std::nullopt);
        return;
    }
    if (const QStringList targets = m_state.targetsOf(*id); targets.size() > 1) {
        presentDeleteMany(targets);
        return;
    }
    const QString youtubeID = *id;
    auto *sheet = new ConfirmSheet(
        ConfirmSheet::deleteTitle(video->title), tr("It will be removed from your library on every device."),
        tr("Delete video"),
        [this, youtubeID] {
            if (m_sync.history().remove({youtubeID}).notFound == 0) // saves and schedules a sync
                recompute();
        },
        this);
    present(sheet, [this] { m_state.setPendingDeleteID(std::nullopt); });
}

void LibraryView::presentDeleteMany(const QStringList &ids)
{
    qsizetype own = 0;
    for (const QString &id : ids) {
        const Video *video = m_store.find(id);
        if (video && !video->readOnly)
            ++own;
    }
    if (own == 0) {
        // Nothing to ask about: the shared videos stay, and the status line says so.
        m_column->statusLine().showNotice(EditHistory::describeReadOnly(ids.size()));
        m_state.setPendingDeleteID(std::nullopt);
        return;
    }
    QString message = tr("They will be removed from your library on every device.");
    if (own < ids.size())
        message += u' ' + EditHistory::describeReadOnly(ids.size() - own);
    auto *sheet = new ConfirmSheet(
        tr("Delete %n videos?", nullptr, int(own)), message, tr("Delete %n videos", nullptr, int(own)),
        [this, ids] {
            m_sync.history().remove(ids); // one save and one sync for them all
            recompute();
        },
        this);
    // Many videos at once: Return keeps them, only the red button deletes.
    sheet->setDestructive();
    present(sheet, [this] { m_state.setPendingDeleteID(std::nullopt); });
}

void LibraryView::showRowMenu(const Video *video, const QPoint &globalPosition)
{
    QMenu menu(this);
    const QString id = video->youtubeID;
    if (const QStringList targets = m_state.targetsOf(id); targets.size() > 1) {
        RowMenu::Selection selection;
        for (const QString &target : targets) {
            const Video *record = m_store.find(target);
            if (!record)
                continue;
            if (record->readOnly)
                ++selection.shared;
            else if (record->excluded)
                ++selection.excluded;
            else
                ++selection.included;
        }
        RowMenu::fillMany(
            menu, selection, [this] { setSelectionExcluded(true); }, [this] { setSelectionExcluded(false); },
            [this, id] { m_state.setPendingDeleteID(id); });
        menu.exec(globalPosition);
        return;
    }
    RowMenu::fill(
        menu, *video, m_state, [this, id] { toggleWatched(m_store.find(id)); },
        [this, id] { toggleExcluded(m_store.find(id)); });
    menu.exec(globalPosition);
}

bool LibraryView::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QWidget::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !isVisible() || (widget != this && !isAncestorOf(widget)) || m_sheet)
        return QWidget::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    if (!drop->mimeData() || !LinkDrop::carriesLinks(*drop->mimeData()))
        return QWidget::eventFilter(watched, event);
    if (type == QEvent::Drop) {
        // Dropped files are imported; links are added as they are.
        const QStringList files = LinkDrop::files(*drop->mimeData());
        const QStringList texts = LinkDrop::texts(*drop->mimeData());
        const bool imported = !files.isEmpty() && m_import->start(files);
        if ((!texts.isEmpty() && handleDrop(texts)) || imported)
            drop->acceptProposedAction();
        else
            drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    return true;
}

} // namespace clipvane
