#include "RowMenu.h"

#include "AppState.h"
#include "Palette.h"
#include "PlayerController.h"
#include "Video.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QMenu>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

namespace clipvane::RowMenu {

namespace {

// The context is the one lupdate files these texts under: the namespace's full name.
QString tr(const char *text)
{
    return QCoreApplication::translate("clipvane::RowMenu", text);
}

QString escaped(QString text)
{
    return text.replace(QStringLiteral("&"), QStringLiteral("&&"));
}

constexpr char kDestructive[] = "destructive";

// The application's style, with the items of steps that cannot be undone in the platform's red.
// A menu draws every item with one palette, so the item is found by where it is drawn.
class DestructiveItemStyle : public QProxyStyle
{
public:
    DestructiveItemStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {}

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *menu = qobject_cast<const QMenu *>(widget);
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        const QAction *action = element == CE_MenuItem && menu && item ? menu->actionAt(item->rect.center()) : nullptr;
        if (!action || !action->property(kDestructive).toBool()) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionMenuItem red(*item);
        for (const auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText, QPalette::HighlightedText})
            red.palette.setColor(role, Palette::errorRed());
        QProxyStyle::drawControl(element, &red, painter, widget);
    }
};

QStyle *destructiveItemStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new DestructiveItemStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

void fill(QMenu &menu, const Video &video, AppState &state, std::function<void()> toggleWatched,
          std::function<void()> toggleExcluded)
{
    if (video.readOnly) {
        QAction *line = menu.addAction(escaped(tr("Shared by %1 — read only").arg(video.ownerEmail)));
        line->setEnabled(false);
        return;
    }
    const QString id = video.youtubeID;
    const QString url = video.url;
    menu.addAction(video.watched ? tr("Mark as Unwatched") : tr("Mark as Watched"), &menu, std::move(toggleWatched));
    menu.addAction(video.excluded ? tr("Include back in library") : tr("Exclude"), &menu, std::move(toggleExcluded));
    menu.addAction(tr("Edit details…"), &state, [&state, id] { state.setEditingID(id); });
    menu.addSeparator();
    menu.addAction(tr("Copy link"), &menu, [url] { QApplication::clipboard()->setText(url); });
    menu.addAction(tr("Open in YouTube"), &menu, [id, url] { PlayerController::openOnYouTube(id, url); });
    menu.addSeparator();
    QAction *remove = menu.addAction(tr("Delete…"), &state, [&state, id] { state.setPendingDeleteID(id); });
    remove->setProperty(kDestructive, true);
    menu.setStyle(destructiveItemStyle());
}

void fillMany(QMenu &menu, const Selection &selection, std::function<void()> exclude, std::function<void()> include,
              std::function<void()> remove)
{
    const qsizetype own = selection.included + selection.excluded;
    if (selection.included > 0)
        menu.addAction(
            QCoreApplication::translate("clipvane::RowMenu", "Exclude %n videos", nullptr, int(selection.included)),
            &menu, std::move(exclude));
    if (selection.excluded > 0)
        menu.addAction(QCoreApplication::translate("clipvane::RowMenu", "Include %n videos back in library", nullptr,
                                                   int(selection.excluded)),
                       &menu, std::move(include));
    if (own > 0) {
        menu.addSeparator();
        QAction *line =
            menu.addAction(QCoreApplication::translate("clipvane::RowMenu", "Delete %n videos…", nullptr, int(own)),
                           &menu, std::move(remove));
        line->setProperty(kDestructive, true);
        menu.setStyle(destructiveItemStyle());
    }
    if (selection.shared > 0) {
        menu.addSeparator();
        QAction *line =
            menu.addAction(selection.shared == 1
                               ? tr("1 shared video stays as it is")
                               : QCoreApplication::translate("clipvane::RowMenu", "%n shared videos stay as they are",
                                                             nullptr, int(selection.shared)));
        line->setEnabled(false);
    }
}

} // namespace clipvane::RowMenu
