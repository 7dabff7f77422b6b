#include "UpNextCard.h"

#include "Fonts.h"
#include "Palette.h"
#include "PillButton.h"
#include "UpNextCountdown.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kRadius = 10;
constexpr int kPadding = 14;
constexpr int kSpacing = 6;

QLabel *label(const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *text = new QLabel(parent);
    text->setFont(font);
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, colour);
    text->setPalette(palette);
    return text;
}

} // namespace

UpNextCard::UpNextCard(UpNextCountdown &countdown, QWidget *parent)
    : QWidget(parent)
    , m_countdown(countdown)
    , m_title(label(Fonts::font(FontFace::semiBold, 14), Palette::text(), this))
    , m_seconds(label(Fonts::font(FontFace::regular, 12), Palette::muted(), this))
    , m_cancel(new PillButton(QString(), tr("Cancel"), PillButton::Style::ordinary, this))
    , m_playNow(new PillButton(QStringLiteral("play.fill"), tr("Play now"), PillButton::Style::prominent, this))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setFixedWidth(kWidth);
    setAccessibleName(tr("Up next"));
    m_title->setWordWrap(true);
    m_title->setMaximumHeight(QFontMetrics(m_title->font()).lineSpacing() * 2);
    m_cancel->setAccessibleName(tr("Cancel"));
    m_playNow->setAccessibleName(tr("Play now"));
    m_title->setAccessibleDescription(tr("Next video"));
    m_seconds->setAccessibleDescription(tr("Countdown"));

    QLabel *heading = label(Fonts::font(FontFace::medium, 11), Palette::muted(), this);
    heading->setText(tr("Up next").toUpper());

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_playNow);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(heading);
    column->addWidget(m_title);
    column->addWidget(m_seconds);
    column->addSpacing(kSpacing);
    column->addLayout(buttons);

    connect(m_cancel, &QAbstractButton::clicked, &countdown, &UpNextCountdown::cancel);
    connect(m_playNow, &QAbstractButton::clicked, &countdown, &UpNextCountdown::playNow);
    connect(&countdown, &UpNextCountdown::changed, this, &UpNextCard::refresh);
    refresh();
}

QString UpNextCard::titleText() const
{
    return m_title->text();
}

QString UpNextCard::secondsText() const
{
    return m_seconds->text();
}

void UpNextCard::refresh()
{
    const bool waiting = m_countdown.isActive();
    if (waiting) {
        m_title->setText(m_countdown.title());
        const int left = m_countdown.secondsLeft();
        m_seconds->setText(left == 1 ? tr("Playing in 1 second") : tr("Playing in %1 seconds").arg(left));
        setAccessibleDescription(m_title->text());
        adjustSize();
    }
    setVisible(waiting);
    if (waiting)
        raise();
}

void UpNextCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    painter.fillPath(card, Palette::black(0.82));
    painter.setPen(QPen(Palette::hairline(), 1));
    painter.drawPath(card);
}

} // namespace clipvane
