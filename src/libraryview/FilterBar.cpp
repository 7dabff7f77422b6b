#include "FilterBar.h"

#include "AppState.h"
#include "Fonts.h"
#include "Palette.h"
#include "SortMode.h"
#include "Symbols.h"
#include "VisibleList.h"

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace clipvane {

namespace {

constexpr int kSpacing = 7;
constexpr int kHorizontal = 12;
constexpr int kBottom = 9;
constexpr qreal kLabelSize = 11.5;
constexpr int kChevronSize = 9;
constexpr int kChevronGap = 4;
constexpr int kVerticalPadding = 2;
// Room for the keyboard's focus ring beside the label; the bar's margins give it back.
constexpr int kRingRoom = 3;

// A borderless menu button: its label, then a small chevron. Drawn here rather than by turning
// the button right to left, because a pop-up inherits its button's direction and placement.
class ChoiceButton : public QToolButton
{
public:
    explicit ChoiceButton(QWidget *parent)
        : QToolButton(parent)
    {
        setPopupMode(QToolButton::InstantPopup);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + kChevronGap + kChevronSize + 2 * kRingRoom,
                std::max(metrics.height(), kChevronSize) + 2 * kVerticalPadding};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QToolButton::focusInEvent(event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRect area = rect().adjusted(kRingRoom, 0, -kRingRoom, 0);
        const int textWidth = QFontMetrics(font()).horizontalAdvance(text());
        painter.setFont(font());
        painter.setPen(isDown() ? Palette::muted() : Palette::text());
        painter.drawText(QRect(area.left(), area.top(), textWidth + 1, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         text());
        const QRectF chevron(area.left() + textWidth + kChevronGap, area.center().y() - kChevronSize / 2.0 + 1,
                             kChevronSize, kChevronSize);
        Symbols::paint(painter, chevron, QStringLiteral("chevron.down"), Palette::muted());
        if (hasFocus() && m_keyboardFocus) {
            painter.setPen(QPen(Palette::muted(), 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        }
    }

private:
    bool m_keyboardFocus = false;
};

} // namespace

FilterBar::FilterBar(AppState &state, VisibleList &list, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_list(list)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(kHorizontal - kRingRoom, 0, kHorizontal - kRingRoom, kBottom);
    layout->setSpacing(kSpacing - 2 * kRingRoom);
    m_library = makeButton(tr("Library"), &FilterBar::fillLibraryMenu);
    m_sort = makeButton(tr("Sort by"), &FilterBar::fillSortMenu);
    m_year = makeButton(tr("Year"), &FilterBar::fillYearMenu);
    layout->addWidget(m_library);
    layout->addWidget(m_sort);
    layout->addWidget(m_year);
    layout->addStretch(1);

    connect(&state, &AppState::filterChanged, this, &FilterBar::updateLabels);
    updateLabels();
}

QToolButton *FilterBar::makeButton(const QString &accessibleName, void (FilterBar::*fill)(QMenu &))
{
    auto *button = new ChoiceButton(this);
    button->setFont(Fonts::font(FontFace::regular, kLabelSize));
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
