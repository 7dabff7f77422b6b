#include "RowMenu.h"

#include "MacAppState.h"
#include "PlayerController.h"
#include "Video.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QMenu>

namespace clipvane::RowMenu {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RowMenu", text);
}

QString escaped(QString text)
{
    return text.replace(QStringLiteral("&"), QStringLiteral("&&"));
}

} // namespace

void fill(QMenu &menu, const Video &video, MacAppState &state, std::function<void()> toggleExcluded)
{
    if (video.readOnly) {
        QAction *line = menu.addAction(escaped(tr("Shared by %1 — read only").arg(video.ownerEmail)));
        line->setEnabled(false);
        return;
    }
    const QString id = video.youtubeID;
    const QString url = video.url;
    menu.addAction(video.excluded ? tr("Include back in library") : tr("Exclude"), &menu, std::move(toggleExcluded));
    menu.addAction(tr("Edit details…"), &state, [&state, id] { state.setEditingID(id); });
    menu.addSeparator();
    menu.addAction(tr("Copy link"), &menu, [url] { QApplication::clipboard()->setText(url); });
    menu.addAction(tr("Open in YouTube"), &menu, [id, url] { PlayerController::openOnYouTube(id, url); });
    menu.addSeparator();
    menu.addAction(tr("Delete…"), &state, [&state, id] { state.setPendingDeleteID(id); });
}

} // namespace clipvane::RowMenu
