#include "FilterBar.h"

#include "Fonts.h"
#include "MacAppState.h"
#include "Palette.h"
#include "SortMode.h"
#include "Symbols.h"
#include "VisibleList.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QToolButton>

namespace clipvane {

namespace {

constexpr int kSpacing = 7;
constexpr int kHorizontal = 12;
constexpr int kBottom = 9;
constexpr qreal kLabelSize = 11.5;
constexpr int kChevronSize = 9;

} // namespace

FilterBar::FilterBar(MacAppState &state, VisibleList &list, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_list(list)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(kHorizontal, 0, kHorizontal, kBottom);
    layout->setSpacing(kSpacing);
    m_library = makeButton(tr("Library"), &FilterBar::fillLibraryMenu);
    m_sort = makeButton(tr("Sort by"), &FilterBar::fillSortMenu);
    m_year = makeButton(tr("Year"), &FilterBar::fillYearMenu);
    layout->addWidget(m_library);
    layout->addWidget(m_sort);
    layout->addWidget(m_year);
    layout->addStretch(1);

    connect(&state, &MacAppState::filterChanged, this, &FilterBar::updateLabels);
    updateLabels();
}

QToolButton *FilterBar::makeButton(const QString &accessibleName, void (FilterBar::*fill)(QMenu &))
{
    auto *button = new QToolButton(this);
    button->setFont(Fonts::font(FontFace::regular, kLabelSize));
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    // A label with a small pop-up chevron after it, no bezel.
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setLayoutDirection(Qt::RightToLeft);
    button->setIcon(Symbols::icon(QStringLiteral("chevron.down"), Palette::muted()));
    button->setIconSize(QSize(kChevronSize, kChevronSize));
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px 0px; color: white; }"
                                         "QToolButton::menu-indicator { image: none; width: 0px; }"));
    button->setAccessibleDescription(accessibleName);
    auto *menu = new QMenu(button);
    connect(menu, &QMenu::aboutToShow, this, [this, menu, fill] {
        menu->clear();
        (this->*fill)(*menu);
    });
    button->setMenu(menu);
    return button;
}

void FilterBar::updateLabels()
{
    m_library->setText(m_state.showExcluded() ? tr("Excluded") : tr("Library"));
    m_sort->setText(rawFromSortMode(m_state.sort()));
    m_year->setText(m_state.year().isEmpty() ? tr("All years") : m_state.year());
    for (QToolButton *button : {m_library, m_sort, m_year})
        button->setAccessibleName(button->text());
}

void FilterBar::fillLibraryMenu(QMenu &menu)
{
    menu.addAction(tr("Library"), this, [this] { m_state.setShowExcluded(false); });
    menu.addAction(tr("Excluded videos"), this, [this] { m_state.setShowExcluded(true); });
    const QStringList &owners = m_list.sharedOwners();
    if (owners.isEmpty())
        return;
    menu.addSection(tr("Family libraries"));
    for (const QString &owner : owners) {
        QAction *toggle = menu.addAction(QString(owner).replace(QStringLiteral("&"), QStringLiteral("&&")));
        toggle->setCheckable(true);
        toggle->setChecked(!m_state.hiddenOwners().contains(owner));
        connect(toggle, &QAction::toggled, this, [this, owner](bool shown) {
            QSet<QString> hidden = m_state.hiddenOwners();
            if (shown)
                hidden.remove(owner);
            else
                hidden.insert(owner);
            m_state.setHiddenOwners(hidden);
        });
    }
}

void FilterBar::fillSortMenu(QMenu &menu)
{
    for (const SortMode mode : kAllSortModes) {
        menu.addAction(Symbols::icon(sortModeSymbolName(mode), Palette::text()), rawFromSortMode(mode), this,
                       [this, mode] { m_state.setSort(mode); });
    }
}

void FilterBar::fillYearMenu(QMenu &menu)
{
    menu.addAction(tr("All years"), this, [this] { m_state.setYear(QString()); });
    menu.addSeparator();
    for (const QString &year : m_list.years())
        menu.addAction(QString(year).replace(QStringLiteral("&"), QStringLiteral("&&")), this,
                       [this, year] { m_state.setYear(year); });
}

} // namespace clipvane
