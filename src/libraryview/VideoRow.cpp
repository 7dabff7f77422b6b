#include "VideoRow.h"

#include "AppState.h"
#include "CachedThumb.h"
#include "Fonts.h"
#include "Palette.h"
#include "PlayerController.h"
#include "RowText.h"
#include "Symbols.h"
#include "Video.h"
#include "VideoListModel.h"

#include <QPainter>
#include <QTextLayout>
#include <algorithm>

namespace clipvane {

namespace {

constexpr qreal kTitleSize = 12.5;
constexpr qreal kFactsSize = 10.5;
constexpr qreal kFactsSymbolSize = 9;
constexpr qreal kPlayingSymbolSize = 9;
constexpr qreal kSharedSymbolSize = 10;
constexpr int kSpacing = 10;     // between thumbnail, text and icons
constexpr int kLineSpacing = 4;  // between the title and the facts line
constexpr int kFactsSpacing = 5; // between the items of the facts line
constexpr int kTitleLines = 2;
constexpr qreal kSelectionRadius = 6;
constexpr double kSelectionOpacity = 0.13;
constexpr double kCursorOpacity = 0.4;
constexpr double kMarkOpacity = 0.45;
constexpr qreal kProgressHeight = 2.5; // the line along a started video's thumbnail
constexpr double kProgressTrackOpacity = 0.35;
constexpr qreal kWatchedBadge = 14; // the round watched mark on the thumbnail's corner
constexpr qreal kWatchedBadgeInset = 3;
constexpr qreal kWatchedSymbolSize = 7;
constexpr double kWatchedBadgeOpacity = 0.72;

QColor markColour()
{
    QColor yellow = QColor::fromRgb(255, 214, 10); // the system yellow of the dark appearance
    yellow.setAlphaF(kMarkOpacity);
    return yellow;
}

QColor systemCyan()
{
    return QColor::fromRgb(100, 210, 255);
}

QList<QTextLayout::FormatRange> marks(const QList<RowText::Range> &ranges, qsizetype from, qsizetype length)
{
    static const QColor colour = markColour();
    QList<QTextLayout::FormatRange> formats;
    for (const RowText::Range &range : ranges) {
        const qsizetype start = std::max(range.start, from);
        const qsizetype end = std::min(range.start + range.length, from + length);
        if (end <= start)
            continue;
        QTextLayout::FormatRange format;
        format.start = int(start - from);
        format.length = int(end - start);
        format.format.setBackground(colour);
        formats.append(format);
    }
    return formats;
}

} // namespace

VideoRow::VideoRow(AppState &state, CachedThumb &thumbs, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_state(state)
    , m_thumbs(thumbs)
    , m_titleFont(Fonts::font(FontFace::medium, kTitleSize))
    , m_factsFont(Fonts::font(FontFace::regular, kFactsSize))
{}

QSize VideoRow::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return {option.rect.width(), kRowHeight};
}

void VideoRow::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *video = index.data(VideoListModel::videoRole).value<const Video *>();
    if (!video)
        return;
    const bool lastRow = index.row() == index.model()->rowCount() - 1;
    paintRow(*painter, option.rect, *video, option.state.testFlag(QStyle::State_Selected), lastRow, index);
    // Among several selected rows, the one the arrows move from is outlined, so the keyboard's
    // place stays visible.
    if (option.state.testFlag(QStyle::State_HasFocus) && m_state.selectedIDs().size() > 1) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(Palette::white(kCursorOpacity), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option.rect).adjusted(kInset + 0.5, 0.5, -kInset - 0.5, -0.5), kSelectionRadius,
                                 kSelectionRadius);
        painter->restore();
    }
}

void VideoRow::paintRow(QPainter &painter, const QRect &rect, const Video &video, bool selected, bool lastRow,
                        const QModelIndex &index) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF row = QRectF(rect).adjusted(kInset, 0, -kInset, 0);
    if (selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::white(kSelectionOpacity));
        painter.drawRoundedRect(row, kSelectionRadius, kSelectionRadius);
    }
    const QRectF content = row.adjusted(kContentPadding, 0, -kContentPadding, 0);

    const QSizeF thumbSize = CachedThumb::kRowSize;
    const QRectF thumb(content.left(), content.center().y() - thumbSize.height() / 2, thumbSize.width(),
                       thumbSize.height());
    m_thumbs.paint(painter, thumb, video.thumbnailURL(), index);
    paintViewing(painter, thumb, video);

    // The state icons, from the right edge inwards.
    qreal right = content.right();
    if (video.readOnly) {
        const int box = Symbols::boxFor(kSharedSymbolSize);
        Symbols::paint(painter, QRectF(right - box, content.center().y() - box / 2.0, box, box),
                       QStringLiteral("person.2.fill"), systemCyan());
        right -= box + kSpacing;
    }
    const bool playing = m_state.player().isPlaying() && m_state.selectedID() == video.youtubeID;
    if (playing) {
        const int box = Symbols::boxFor(kPlayingSymbolSize);
        Symbols::paint(painter, QRectF(right - box, content.center().y() - box / 2.0, box, box),
                       QStringLiteral("play.fill"), Palette::accent());
        right -= box + kSpacing;
    }

    const qreal left = thumb.right() + kSpacing;
    const qreal width = std::max<qreal>(0, right - left);
    const QFontMetricsF facts(m_factsFont);
    const qreal titleHeight = paintTitle(painter, QRectF(left, 0, width, 0), video, true);
    const qreal blockHeight = titleHeight + kLineSpacing + facts.height();
    const qreal top = content.center().y() - blockHeight / 2;
    paintTitle(painter, QRectF(left, top, width, titleHeight), video, false);
    paintFacts(painter, QPointF(left, top + titleHeight + kLineSpacing), width, video);

    if (!lastRow && !selected) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Palette::hairline(), 1));
        const qreal y = rect.bottom();
        painter.drawLine(QPointF(left, y), QPointF(content.right(), y));
    }
    painter.restore();
}

qreal VideoRow::paintTitle(QPainter &painter, const QRectF &rect, const Video &video, bool measureOnly) const
{
    const QString &title = video.title;
    QTextLayout layout(title, m_titleFont);
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrap);
    const QList<RowText::Range> ranges =
        measureOnly ? QList<RowText::Range>() : RowText::highlightRanges(title, m_state.search());
    layout.setFormats(marks(ranges, 0, title.size()));
    layout.setCacheEnabled(true);

    layout.beginLayout();
    qreal height = 0;
    int lines = 0;
    qsizetype secondStart = -1;
    qsizetype laidOut = 0; // UTF-16 units of the title in the lines made so far
    for (; lines < kTitleLines; ++lines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(rect.width());
        line.setPosition(QPointF(0, height));
        if (lines == 1)
            secondStart = line.textStart();
        laidOut = line.textStart() + line.textLength();
        height += line.height();
    }
    layout.endLayout();
    const bool overflows = lines == kTitleLines && laidOut < title.size();
    if (lines == 0)
        height = QFontMetricsF(m_titleFont).height();
    if (measureOnly)
        return height;

    painter.setPen(Palette::text());
    if (!overflows) {
        layout.draw(&painter, rect.topLeft());
        return height;
    }
    // Two lines are not enough: the first as laid out, the rest shortened with an ellipsis.
    const QTextLine first = layout.lineAt(0);
    // The clip is in the painter's coordinates and must end above the second line, which the
    // layout would otherwise draw as well (it touches the clip's bottom edge).
    layout.draw(&painter, rect.topLeft(), {}, QRectF(rect.topLeft(), QSizeF(rect.width(), first.height() - 1)));
    const QString rest = title.mid(secondStart);
    const QString elided = QFontMetricsF(m_titleFont).elidedText(rest, Qt::ElideRight, rect.width());
    QTextLayout second(elided, m_titleFont);
    second.setFormats(marks(ranges, secondStart, std::max<qsizetype>(0, elided.size() - 1)));
    second.beginLayout();
    QTextLine line = second.createLine();
    line.setLineWidth(rect.width() + 1);
    line.setPosition(QPointF(0, 0));
    second.endLayout();
    second.draw(&painter, rect.topLeft() + QPointF(0, first.height()));
    return height;
}

void VideoRow::paintViewing(QPainter &painter, const QRectF &thumb, const Video &video) const
{
    if (video.watched) {
        const QRectF badge(thumb.right() - kWatchedBadgeInset - kWatchedBadge,
                           thumb.bottom() - kWatchedBadgeInset - kWatchedBadge, kWatchedBadge, kWatchedBadge);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::black(kWatchedBadgeOpacity));
        painter.drawEllipse(badge);
        const int box = Symbols::boxFor(kWatchedSymbolSize);
        Symbols::paint(painter, QRectF(badge.center().x() - box / 2.0, badge.center().y() - box / 2.0, box, box),
                       QStringLiteral("checkmark"), Palette::text());
        return;
    }
    const double share = progressShare(video);
    if (share <= 0)
        return;
    const QRectF track(thumb.left(), thumb.bottom() - kProgressHeight, thumb.width(), kProgressHeight);
    painter.setPen(Qt::NoPen);
    painter.fillRect(track, Palette::white(kProgressTrackOpacity));
    painter.fillRect(QRectF(track.topLeft(), QSizeF(track.width() * share, track.height())), Palette::accent());
}

double VideoRow::progressShare(const Video &video)
{
    if (video.watched || video.position <= 0)
        return 0;
    const qint64 length = video.durationSeconds();
    // Without a known length a started video still shows that it was started.
    if (length <= 0)
        return 0.05;
    return std::clamp(double(video.position) / double(length), 0.0, 1.0);
}

void VideoRow::paintFacts(QPainter &painter, const QPointF &topLeft, qreal width, const Video &video) const
{
    const QFontMetricsF metrics(m_factsFont);
    const qreal centre = topLeft.y() + metrics.height() / 2;
    const int box = Symbols::boxFor(kFactsSymbolSize);
    const QColor muted = Palette::muted();
    const qreal end = topLeft.x() + width;
    qreal x = topLeft.x();
    const auto symbol = [&](const QString &name) {
        if (x + box > end)
            return;
        Symbols::paint(painter, QRectF(x, centre - box / 2.0, box, box), name, muted);
        x += box + kFactsSpacing;
    };
    const auto text = [&](const QString &words) {
        const QString shown = metrics.elidedText(words, Qt::ElideRight, std::max<qreal>(0, end - x));
        painter.drawText(QPointF(x, topLeft.y() + metrics.ascent()), shown);
        x += metrics.horizontalAdvance(shown) + kFactsSpacing;
    };
    painter.setFont(m_factsFont);
    painter.setPen(muted);
    symbol(RowText::sourceSymbolName(video.source));
    text(video.uploadDate);
    if (!video.duration.isEmpty()) {
        text(QStringLiteral("·"));
        text(video.duration);
    }
    if (video.excluded)
        symbol(QStringLiteral("eye.slash"));
    if (video.isPending())
        symbol(QStringLiteral("arrow.triangle.2.circlepath"));
}

} // namespace clipvane
