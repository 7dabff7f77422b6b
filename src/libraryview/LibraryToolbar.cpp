#include "LibraryToolbar.h"

#include "AppState.h"
#include "Palette.h"
#include "Symbols.h"
#include "SyncEngine.h"

#include <QAction>
#include <QKeySequence>
#include <QToolButton>

namespace clipvane {

namespace {

constexpr int kIconSize = 18;

QAction *makeAction(QToolBar *bar, const QString &symbol, const QString &name, const QString &tip)
{
    auto *action = new QAction(Symbols::icon(symbol, Palette::text()), name, bar);
    action->setToolTip(tip);
    return action;
}

} // namespace

LibraryToolbar::LibraryToolbar(AppState &state, SyncEngine &sync, QWidget *parent)
    : QToolBar(parent)
    , m_ask(makeAction(this, QStringLiteral("sparkles"), tr("Ask Clipvane"),
                       withKey(tr("Ask Clipvane (%1)"), QKeySequence(Qt::CTRL | Qt::Key_Y))))
    , m_browse(makeAction(this, QStringLiteral("rectangle.stack.badge.play"), tr("Browse mode"),
                          withKey(tr("Browse mode (%1)"), QKeySequence(Qt::CTRL | Qt::Key_B))))
    , m_add(makeAction(this, QStringLiteral("plus.circle.fill"), tr("Add a video"),
                       withKey(tr("Add a video (%1)"), QKeySequence(Qt::CTRL | Qt::Key_N))))
    , m_settings(makeAction(this, QStringLiteral("gearshape"), tr("Settings"),
                            withKey(tr("Settings (%1)"), QKeySequence(QKeySequence::Preferences).isEmpty()
                                                             ? QKeySequence(Qt::CTRL | Qt::Key_Comma)
                                                             : QKeySequence(QKeySequence::Preferences))))
{
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(kIconSize, kIconSize));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setAccessibleName(tr("Toolbar"));
    QToolBar::addAction(m_ask);
    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(spacer);
    QToolBar::addAction(m_browse);
    QToolBar::addAction(m_add);
    QToolBar::addAction(m_settings);
    // Toolbar buttons take no focus by default; these are reachable with Tab like any control.
    for (QAction *action : {m_ask, m_browse, m_add, m_settings}) {
        if (QWidget *button = widgetForAction(action)) {
            button->setFocusPolicy(Qt::TabFocus);
            button->setAccessibleName(action->text());
        }
    }
    // Qt's own overflow button, shown when the window is too narrow for every button.
    if (auto *more = findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(tr("More buttons"));

    connect(m_ask, &QAction::triggered, &state, [&state] { state.setShowAsk(true); });
    connect(m_browse, &QAction::triggered, &state, [&state] { state.setBrowsing(!state.browsing()); });
    connect(m_add, &QAction::triggered, &state, [&state] { state.setShowAdd(true); });
    connect(m_settings, &QAction::triggered, this, &LibraryToolbar::settingsRequested);
    connect(&state, &AppState::browsingChanged, this, &LibraryToolbar::updateBrowse);
    connect(&sync, &SyncEngine::widgetVisibleChanged, m_ask, &QAction::setVisible);
    m_ask->setVisible(sync.widgetVisible());
    updateBrowse(state.browsing());
}

QString LibraryToolbar::withKey(const QString &text, const QKeySequence &key)
{
    return text.arg(key.toString(QKeySequence::NativeText));
}

void LibraryToolbar::updateBrowse(bool browsing)
{
    m_browse->setIcon(Symbols::icon(browsing ? QStringLiteral("rectangle.stack.badge.play.fill")
                                             : QStringLiteral("rectangle.stack.badge.play"),
                                    Palette::text()));
}

} // namespace clipvane
