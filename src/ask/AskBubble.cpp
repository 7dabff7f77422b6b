#include "AskBubble.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>

namespace clipvane {

namespace {

constexpr qreal kRadius = 10;

} // namespace

AskBubble::AskBubble(const QString &text, Qt::TextFormat format, const QColor &textColor, const QColor &background,
                     const QColor &outline, QWidget *parent)
    : QLabel(parent)
    , m_background(background)
    , m_outline(outline)
{
    setTextFormat(format);
    setText(text);
    setWordWrap(true);
    setContentsMargins(12, 9, 12, 9);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, textColor);
    colours.setColor(QPalette::Text, textColor);
    setPalette(colours);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void AskBubble::setAvailableWidth(int width)
{
    if (width == m_availableWidth)
        return;
    m_availableWidth = width;
    updateGeometry();
}

int AskBubble::naturalWidth() const
{
    QTextDocument document;
    document.setDefaultFont(font());
    document.setDocumentMargin(0);
    if (textFormat() == Qt::RichText)
        document.setHtml(text());
    else
        document.setPlainText(text());
    const QMargins margins = contentsMargins();
    // One pixel more than the ideal width, so the text lays out on the lines it measured.
    return int(std::ceil(document.idealWidth())) + 1 + margins.left() + margins.right();
}

QSize AskBubble::sizeHint() const
{
    const int width = std::max(1, std::min(naturalWidth(), m_availableWidth));
    return {width, heightForWidth(width)};
}

QSize AskBubble::minimumSizeHint() const
{
    return sizeHint();
}

void AskBubble::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(box, kRadius, kRadius);
        painter.fillPath(shape, m_background);
        if (m_outline.isValid()) {
            painter.setPen(QPen(m_outline, 1));
            painter.drawPath(shape);
        }
    }
    QLabel::paintEvent(event);
}

} // namespace clipvane
