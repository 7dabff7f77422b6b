#include "SearchRow.h"

#include "AppState.h"
#include "Fonts.h"
#include "Palette.h"
#include "StatusText.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

namespace clipvane {

namespace {

constexpr int kSpacing = 7;
constexpr int kInnerHorizontal = 10;
constexpr int kInnerVertical = 7;
constexpr int kOuterHorizontal = 12;
constexpr int kOuterTop = 11;
constexpr int kOuterBottom = 9;
constexpr qreal kRadius = 6;
constexpr qreal kBorderWidth = 1.5;
constexpr qreal kFieldSize = 13.5;
constexpr qreal kGlassSize = 12;
constexpr qreal kClearSize = 11;

QColor fieldBackground()
{
    return QColor::fromRgbF(0.18f, 0.18f, 0.21f);
}

} // namespace

SearchRow::SearchRow(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_field(new QLineEdit(this))
    , m_clear(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(kOuterHorizontal + kInnerHorizontal, kOuterTop + kInnerVertical,
                               kOuterHorizontal + kInnerHorizontal, kOuterBottom + kInnerVertical);
    layout->setSpacing(kSpacing);

    auto *glass = new QLabel(this);
    const int glassBox = Symbols::boxFor(kGlassSize);
    glass->setPixmap(Symbols::pixmap(QStringLiteral("magnifyingglass"), Palette::muted(), QSize(glassBox, glassBox),
                                     devicePixelRatioF()));
    glass->setAccessibleName(tr("Search"));
    layout->addWidget(glass);

    m_field->setFrame(false);
    m_field->setFont(Fonts::font(FontFace::regular, kFieldSize));
    QPalette palette = m_field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Palette::text());
    palette.setColor(QPalette::PlaceholderText, Palette::muted());
    m_field->setPalette(palette);
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    layout->addWidget(m_field, 1);

    const int clearBox = Symbols::boxFor(kClearSize);
    m_clear->setIcon(Symbols::icon(QStringLiteral("xmark.circle.fill"), Palette::muted()));
    m_clear->setIconSize(QSize(clearBox, clearBox));
    m_clear->setAutoRaise(true);
    m_clear->setCursor(Qt::ArrowCursor);
    m_clear->setFocusPolicy(Qt::TabFocus);
    m_clear->setAccessibleName(tr("Clear search"));
    m_clear->setToolTip(tr("Clear search"));
    m_clear->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    layout->addWidget(m_clear);

    // textChanged rather than textEdited: text that assistive technology sets searches too.
    connect(m_field, &QLineEdit::textChanged, &state, &AppState::setSearch);
    connect(m_clear, &QToolButton::clicked, this, [this] {
        m_state.setSearch(QString());
        m_field->setFocus();
    });
    connect(&state, &AppState::searchChanged, this, &SearchRow::showSearch);
    showSearch(state.search());
}

void SearchRow::setRecordCount(qsizetype count)
{
    if (count == m_count)
        return;
    m_count = count;
    const QString placeholder = StatusText::searchPlaceholder(count, locale());
    m_field->setPlaceholderText(placeholder);
    m_field->setAccessibleName(placeholder);
}

void SearchRow::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void SearchRow::showSearch(const QString &search)
{
    if (m_field->text() != search)
        m_field->setText(search);
    m_clear->setVisible(!search.isEmpty());
}

void SearchRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(kOuterHorizontal, kOuterTop, -kOuterHorizontal, -kOuterBottom);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fieldBackground());
    painter.drawRoundedRect(box, kRadius, kRadius);
    // The border lies inside the rounded rectangle.
    const qreal half = kBorderWidth / 2;
    painter.setPen(QPen(Palette::accent(), kBorderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(half, half, -half, -half), kRadius - half, kRadius - half);
}

} // namespace clipvane
