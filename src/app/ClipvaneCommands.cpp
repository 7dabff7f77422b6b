#include "ClipvaneCommands.h"

#include "AppSignals.h"
#include "AppState.h"
#include "EditHistory.h"
#include "LinkParser.h"
#include "SortMode.h"
#include "SyncEngine.h"
#include "Video.h"
#include "VideoStore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace clipvane {

namespace {

QKeySequence commandKey(int key)
{
    return QKeySequence(Qt::CTRL | key);
}

QKeySequence commandShiftKey(int key)
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | key);
}

// Runs a text-editing call on the focused text field, whichever kind it is.
template<typename Call> void onFocusedText(Call call)
{
    QWidget *focus = QApplication::focusWidget();
    if (auto *line = qobject_cast<QLineEdit *>(focus))
        call(*line);
    else if (auto *plain = qobject_cast<QPlainTextEdit *>(focus))
        call(*plain);
    else if (auto *rich = qobject_cast<QTextEdit *>(focus))
        call(*rich);
}

} // namespace

ClipvaneCommands::ClipvaneCommands(AppState &state, SyncEngine &sync, VideoStore &store, const QUrl &webOrigin,
                                   QMenuBar &bar, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_sync(sync)
    , m_store(store)
    , m_webOrigin(webOrigin)
{
    buildFile(bar);
    buildEdit(bar);
    buildView(bar);
    buildLibrary(bar);
    buildHelp(bar);
    listKeysOutsideMenus();

    connect(&state, &AppState::selectedIDChanged, this, &ClipvaneCommands::updateRules);
    connect(&state, &AppState::browsingChanged, this, &ClipvaneCommands::updateRules);
    connect(&state, &AppState::filterChanged, this, &ClipvaneCommands::updateRules);
    connect(&state, &AppState::autoplayOnSelectChanged, this, &ClipvaneCommands::updateRules);
    connect(&sync, &SyncEngine::widgetVisibleChanged, this, &ClipvaneCommands::updateRules);
    connect(&store, &VideoStore::saved, this, &ClipvaneCommands::updateRules);
    connect(&store, &VideoStore::removed, this, &ClipvaneCommands::updateRules);
    connect(&sync.history(), &EditHistory::undoKindChanged, this, &ClipvaneCommands::updateRules);
    updateRules();
}

QAction *ClipvaneCommands::add(QMenu &menu, const QString &title, const QKeySequence &key)
{
    QAction *action = menu.addAction(title);
    QString menuTitle = menu.title();
    menuTitle.remove(QLatin1Char('&'));
    m_table.append({menuTitle, title, key.isEmpty() ? QList<QKeySequence>() : QList<QKeySequence>{key}});
    if (!key.isEmpty()) {
        action->setShortcut(key);
        // The keys work in the sheets' parent window too, never inside another top-level window.
        action->setShortcutContext(Qt::WindowShortcut);
    }
    return action;
}

void ClipvaneCommands::buildFile(QMenuBar &bar)
{
    QMenu *menu = bar.addMenu(tr("&File"));
    m_menus << menu;
    connect(add(*menu, tr("Add Video…"), commandKey(Qt::Key_N)), &QAction::triggered, &m_state,
            [this] { m_state.setShowAdd(true); });
    connect(add(*menu, tr("Add from Clipboard"), commandShiftKey(Qt::Key_V)), &QAction::triggered, this,
            &ClipvaneCommands::addFromClipboard);
    connect(add(*menu, tr("Import…"), commandKey(Qt::Key_I)), &QAction::triggered, this,
            &ClipvaneCommands::importRequested);
    menu->addSeparator();
    QAction *quit = add(*menu, tr("Quit"), QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);
}

void ClipvaneCommands::buildEdit(QMenuBar &bar)
{
    QMenu *menu = bar.addMenu(tr("&Edit"));
    m_menus << menu;
    // The usual text commands act on the focused text field; its own keys already do the same.
    const auto textCommand = [this, menu](const QString &title, QKeySequence::StandardKey key, auto call) {
        QAction *action = add(*menu, title, QKeySequence(key));
        action->setShortcuts(key);
        action->setShortcutContext(Qt::WidgetShortcut); // the field's own keys stay in charge
        connect(action, &QAction::triggered, this, [call] { onFocusedText(call); });
    };
    // The library's last change; a focused text field keeps the key for its own typing.
    m_undo = add(*menu, EditHistory::undoTitle(EditHistory::Kind::none), QKeySequence(QKeySequence::Undo));
    connect(m_undo, &QAction::triggered, &m_sync, [this] { m_sync.history().undo(); });
    textCommand(tr("Redo"), QKeySequence::Redo, [](auto &field) { field.redo(); });
    menu->addSeparator();
    textCommand(tr("Cut"), QKeySequence::Cut, [](auto &field) { field.cut(); });
    textCommand(tr("Copy"), QKeySequence::Copy, [](auto &field) { field.copy(); });
    textCommand(tr("Paste"), QKeySequence::Paste, [](auto &field) { field.paste(); });
    textCommand(tr("Select All"), QKeySequence::SelectAll, [](auto &field) { field.selectAll(); });

    menu->addSeparator();
    QAction *copyLink = add(*menu, tr("Copy Video Link"), commandShiftKey(Qt::Key_C));
    connect(copyLink, &QAction::triggered, this, &ClipvaneCommands::copyVideoLink);
    QAction *edit = add(*menu, tr("Edit Details…"));
    connect(edit, &QAction::triggered, &m_state, [this] { m_state.setEditingID(m_state.selectedID()); });
    m_watched = add(*menu, tr("Mark as Watched"), commandShiftKey(Qt::Key_W));
    connect(m_watched, &QAction::triggered, &AppSignals::instance(), &AppSignals::macToggleWatched);
    QAction *exclude = add(*menu, tr("Exclude / Include"), commandKey(Qt::Key_E));
    connect(exclude, &QAction::triggered, &AppSignals::instance(), &AppSignals::macToggleExcluded);
    QAction *remove = add(*menu, tr("Delete…"), commandKey(Qt::Key_Backspace));
    connect(remove, &QAction::triggered, &m_state, [this] { m_state.setPendingDeleteID(m_state.selectedID()); });
    m_needSelection = {copyLink};
    m_needEditable = {edit, m_watched, exclude, remove};

    // The settings window; macOS lists it in the application menu, elsewhere it closes Edit.
    menu->addSeparator();
    QAction *settings = add(*menu, tr("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setMenuRole(QAction::PreferencesRole);
    connect(settings, &QAction::triggered, this, &ClipvaneCommands::settingsRequested);
}

void ClipvaneCommands::buildView(QMenuBar &bar)
{
    QMenu *menu = bar.addMenu(tr("&View"));
    m_menus << menu;
    m_browse = add(*menu, tr("Browse Mode"), commandKey(Qt::Key_B));
    connect(m_browse, &QAction::triggered, &m_state, [this] { m_state.setBrowsing(!m_state.browsing()); });
    m_autoplay = add(*menu, tr("Autoplay When I Select a Video"));
    m_autoplay->setCheckable(true);
    connect(m_autoplay, &QAction::triggered, &m_state, &AppState::setAutoplayOnSelect);
    menu->addSeparator();
    connect(add(*menu, tr("Play / Pause")), &QAction::triggered, &AppSignals::instance(),
            &AppSignals::macTogglePlayback);
    connect(add(*menu, tr("Next Video"), commandKey(Qt::Key_Down)), &QAction::triggered, &AppSignals::instance(),
            [] { Q_EMIT AppSignals::instance().macStepSelection(1); });
    connect(add(*menu, tr("Previous Video"), commandKey(Qt::Key_Up)), &QAction::triggered, &AppSignals::instance(),
            [] { Q_EMIT AppSignals::instance().macStepSelection(-1); });
}

void ClipvaneCommands::buildLibrary(QMenuBar &bar)
{
    QMenu *menu = bar.addMenu(tr("&Library"));
    m_menus << menu;
    connect(add(*menu, tr("Search"), commandKey(Qt::Key_F)), &QAction::triggered, &AppSignals::instance(),
            &AppSignals::macFocusSearch);
    QMenu *sort = menu->addMenu(tr("Sort By"));
    for (const SortMode mode : kAllSortModes)
        connect(add(*sort, rawFromSortMode(mode)), &QAction::triggered, &m_state,
                [this, mode] { m_state.setSort(mode); });
    m_showExcluded = add(*menu, tr("Show Excluded Videos"));
    m_showExcluded->setCheckable(true);
    connect(m_showExcluded, &QAction::triggered, &m_state, &AppState::setShowExcluded);
    m_hideWatched = add(*menu, tr("Hide watched videos"));
    m_hideWatched->setCheckable(true);
    connect(m_hideWatched, &QAction::triggered, &m_state, &AppState::setHideWatched);
    m_clearFilters = add(*menu, tr("Clear Filters"));
    connect(m_clearFilters, &QAction::triggered, &m_state, &AppState::clearFilters);
    menu->addSeparator();
    m_ask = add(*menu, tr("Ask Clipvane"), commandKey(Qt::Key_Y));
    connect(m_ask, &QAction::triggered, &m_state, [this] { m_state.setShowAsk(true); });
    connect(add(*menu, tr("Sync Now"), commandKey(Qt::Key_R)), &QAction::triggered, &m_sync, &SyncEngine::syncNow);
}

void ClipvaneCommands::buildHelp(QMenuBar &bar)
{
    QMenu *menu = bar.addMenu(tr("&Help"));
    m_menus << menu;
    connect(add(*menu, tr("Clipvane Help")), &QAction::triggered, this, [this] {
        QUrl root = m_webOrigin;
        root.setPath(QStringLiteral("/"));
        QDesktopServices::openUrl(root);
    });
    connect(add(*menu, tr("Keyboard Shortcuts"), QKeySequence(Qt::CTRL | Qt::Key_Slash)), &QAction::triggered, this,
            &ClipvaneCommands::shortcutsRequested);
    QAction *about = add(*menu, tr("About Clipvane"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &ClipvaneCommands::aboutRequested);
}

void ClipvaneCommands::listKeysOutsideMenus()
{
    // Handled by the key rules and the player, where a menu item could not hear them: a plain
    // letter or Space belongs to a focused text field first.
    const auto key = [this](const QString &title, QList<QKeySequence> keys) {
        m_table.append({QString(), title, std::move(keys)});
    };
    key(tr("Play / Pause"), {QKeySequence(Qt::Key_Space)});
    key(tr("Full Screen"), {QKeySequence(Qt::Key_F)});
    key(tr("Leave Full Screen"), {QKeySequence(Qt::Key_Escape)});
    key(tr("Cancel the Next Video"), {QKeySequence(Qt::Key_Escape)});
    key(tr("Next Video in Browse Mode"), {QKeySequence(Qt::Key_J), QKeySequence(Qt::Key_Down)});
    key(tr("Previous Video in Browse Mode"), {QKeySequence(Qt::Key_K), QKeySequence(Qt::Key_Up)});
    key(tr("Leave Browse Mode"), {QKeySequence(Qt::Key_Escape)});
}

void ClipvaneCommands::updateRules()
{
    // A selection whose record is gone (deleted by a sync) offers nothing; a shared one cannot be changed.
    const std::optional<QString> id = m_state.selectedID();
    const Video *video = id ? m_store.find(*id) : nullptr;
    for (QAction *action : std::as_const(m_needSelection))
        action->setEnabled(video != nullptr);
    for (QAction *action : std::as_const(m_needEditable))
        action->setEnabled(video && !video->readOnly);
    m_browse->setText(m_state.browsing() ? tr("Leave Browse Mode") : tr("Browse Mode"));
    m_autoplay->setChecked(m_state.autoplayOnSelect());
    m_showExcluded->setChecked(m_state.showExcluded());
    m_hideWatched->setChecked(m_state.hideWatched());
    m_watched->setText(video && video->watched ? tr("Mark as Unwatched") : tr("Mark as Watched"));
    m_clearFilters->setEnabled(m_state.hasActiveFilters());
    m_ask->setEnabled(m_sync.widgetVisible());
    m_undo->setText(EditHistory::undoTitle(m_sync.history().undoKind()));
    m_undo->setEnabled(m_sync.history().canUndo());
}

QAction *ClipvaneCommands::action(const QString &title) const
{
    QList<QMenu *> menus = m_menus;
    while (!menus.isEmpty()) {
        QMenu *menu = menus.takeFirst();
        for (QAction *action : menu->actions()) {
            if (action->menu())
                menus << action->menu();
            else if (action->text() == title)
                return action;
        }
    }
    return nullptr;
}

void ClipvaneCommands::addFromClipboard()
{
    // Every link the clipboard holds, as a drop of several links adds each.
    const QStringList links = linkTexts(QApplication::clipboard()->text());
    if (!links.isEmpty())
        m_sync.edits().add(links);
}

void ClipvaneCommands::copyVideoLink()
{
    const std::optional<QString> id = m_state.selectedID();
    const Video *video = id ? m_store.find(*id) : nullptr;
    if (!video)
        return;
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(video->url);
}

} // namespace clipvane
