#include "AboutSheet.h"

#include "Fonts.h"
#include "Palette.h"
#include "SheetStyle.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr int kSpacing = 8;
constexpr int kIconSide = 64;

} // namespace

AboutSheet::AboutSheet(const QString &version, const QString &licence, const QUrl &projectLink, QWidget *parent)
    : QDialog(parent)
{
    SheetStyle::apply(*this, kWidth);
    setWindowTitle(tr("About Clipvane"));

    auto *icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(kIconSide, kIconSide));
    icon->setAccessibleName(tr("Clipvane icon"));
    QLabel *name = SheetStyle::heading(tr("Clipvane"), 20, this);
    QLabel *versionLine = SheetStyle::note(tr("Version %1").arg(version), this);
    QLabel *summary = SheetStyle::note(tr("Keep a personal library of YouTube videos."), this);
    QLabel *licenceLine = SheetStyle::note(tr("Released under the %1 licence.").arg(licence), this);
    versionLine->setAccessibleDescription(tr("Version"));
    licenceLine->setAccessibleDescription(tr("Licence"));

    const QString address = projectLink.toString(QUrl::FullyEncoded);
    auto *link = new QLabel(
        QStringLiteral("<a href=\"%1\" style=\"color: %2;\">%3</a>")
            .arg(address.toHtmlEscaped(), Palette::text().name(), projectLink.toDisplayString().toHtmlEscaped()),
        this);
    link->setFont(Fonts::font(FontFace::medium, 12.5));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setAccessibleName(tr("Project website"));
    link->setAccessibleDescription(address);

    QPushButton *done = nullptr;
    QHBoxLayout *buttons = SheetStyle::doneRow(*this, &done);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    for (QLabel *line : {name, versionLine, summary, licenceLine, link}) {
        line->setAlignment(Qt::AlignHCenter);
        column->addWidget(line);
    }
    column->addSpacing(kSpacing);
    column->addLayout(buttons);
    done->setFocus();
}

} // namespace clipvane
