#include "AskVideoCard.h"

#include "AskText.h"
#include "Fonts.h"
#include "Palette.h"
#include "PlayTriangle.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace clipvane {

namespace {

constexpr int kPadX = 11;
constexpr int kPadY = 9;
constexpr QSize kTriangle{9, 12};
constexpr int kGap = 10;    // triangle to text
constexpr int kLineGap = 2; // title to detail line
constexpr int kTitleLines = 2;
constexpr qreal kRadius = 10;

} // namespace

AskVideoCard::AskVideoCard(AskVideo video, QWidget *parent)
    : QAbstractButton(parent)
    , m_video(std::move(video))
    , m_titleFont(Fonts::font(FontFace::regular, 12.5))
    , m_detailFont(Fonts::font(FontFace::regular, 11))
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setText(m_video.title);
    setAccessibleName(m_video.title);
    setAccessibleDescription(AskText::detailLine(m_video));
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int AskVideoCard::textWidth(int cardWidth) const
{
    return std::max(20, cardWidth - 2 * kPadX - kTriangle.width() - kGap);
}

AskVideoCard::Lines AskVideoCard::titleLines(int width) const
{
    Lines lines;
    QTextLayout layout(m_video.title, m_titleFont);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    const QFontMetricsF metrics(m_titleFont);
    for (int i = 0; i < kTitleLines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (i == kTitleLines - 1)
            lines.title.append(metrics.elidedText(m_video.title.mid(line.textStart()), Qt::ElideRight, width));
        else
            lines.title.append(m_video.title.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    if (lines.title.isEmpty())
        lines.title.append(QString());
    lines.titleHeight = lines.title.size() * metrics.lineSpacing();
    return lines;
}

int AskVideoCard::heightForWidth(int width) const
{
    const qreal text = titleLines(textWidth(width)).titleHeight + kLineGap + QFontMetricsF(m_detailFont).lineSpacing();
    return int(std::ceil(std::max<qreal>(text, kTriangle.height()))) + 2 * kPadY;
}

QSize AskVideoCard::sizeHint() const
{
    const int width = 300;
    return {width, heightForWidth(width)};
}

QSize AskVideoCard::minimumSizeHint() const
{
    // The height at the card's own width: a narrower guess would make the list taller than its content.
    return {100, heightForWidth(width() > 100 ? width() : sizeHint().width())};
}

void AskVideoCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    painter.fillPath(shape, isDown() ? Palette::grey(0.96) : QColor(Qt::white));
    painter.setPen(QPen(Palette::grey(0.9), 1));
    painter.drawPath(shape);

    const int width = textWidth(this->width());
    const Lines lines = titleLines(width);
    const QFontMetricsF titleMetrics(m_titleFont);
    const QFontMetricsF detailMetrics(m_detailFont);
    const qreal textHeight = lines.titleHeight + kLineGap + detailMetrics.lineSpacing();
    const qreal top = (height() - textHeight) / 2;

    const QRectF triangle(kPadX, (height() - kTriangle.height()) / 2.0, kTriangle.width(), kTriangle.height());
    painter.fillPath(PlayTriangle::path(triangle), Palette::accent());

    const qreal left = kPadX + kTriangle.width() + kGap;
    painter.setFont(m_titleFont);
    painter.setPen(Qt::black);
    qreal y = top;
    for (const QString &line : lines.title) {
        painter.drawText(QPointF(left, y + titleMetrics.ascent()), line);
        y += titleMetrics.lineSpacing();
    }
    painter.setFont(m_detailFont);
    painter.setPen(QColor(142, 142, 147)); // the system grey
    painter.drawText(QPointF(left, y + kLineGap + detailMetrics.ascent()),
                     detailMetrics.elidedText(AskText::detailLine(m_video), Qt::ElideRight, width));
}

} // namespace clipvane
