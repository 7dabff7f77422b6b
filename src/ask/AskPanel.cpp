#include "AskPanel.h"

#include "APIClient.h"
#include "AskBubble.h"
#include "AskHeading.h"
#include "AskSpinner.h"
#include "AskText.h"
#include "AskVideoCard.h"
#include "Fonts.h"
#include "Palette.h"
#include "Symbols.h"
#include "TextLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kRadius = 12;
const QColor kHeaderBackground = QColor::fromRgbF(0.04f, 0.04f, 0.05f);
const QColor kListBackground = QColor::fromRgbF(0.968f, 0.968f, 0.98f);
const QColor kFieldBackground = QColor::fromRgbF(0.94f, 0.95f, 0.96f);
const QColor kErrorText = QColor::fromRgbF(0.86f, 0.15f, 0.15f);
const QColor kErrorBackground = QColor::fromRgbF(1.0f, 0.95f, 0.95f);
const QColor kErrorOutline = QColor::fromRgbF(1.0f, 0.79f, 0.79f);
const QColor kSystemGrey = QColor::fromRgb(142, 142, 147);
constexpr int kScrollMs = 250;

QString buttonStyle(const QColor &background, const QColor &disabled)
{
    return QStringLiteral("QPushButton { color: white; border: none; border-radius: 9px; padding: 10px 14px;"
                          " background: %1; } QPushButton:disabled { background: %2; }")
        .arg(background.name(QColor::HexArgb), disabled.name(QColor::HexArgb));
}

} // namespace

AskPanel::AskPanel(APIClient &api, QWidget *parent)
    : QWidget(parent)
    , m_api(api)
{
    setAttribute(Qt::WA_StyledBackground, false);
    auto *layout = new QVBoxLayout(this);
    // One pixel inside the outline, so no child paints over it.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A thin scroller that suits the light list rather than the window's dark one.
    m_scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 0; }"
                       " QScrollBar::handle:vertical { background: rgba(0,0,0,0.25); border-radius: 3px;"
                       " min-height: 24px; }"
                       " QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                       " QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    QPalette listColours = m_scroll->palette();
    listColours.setColor(QPalette::Window, kListBackground);
    listColours.setColor(QPalette::Base, kListBackground);
    m_scroll->setPalette(listColours);
    m_scroll->viewport()->setAutoFillBackground(true);
    m_scroll->viewport()->setPalette(listColours);
    m_column = new QWidget;
    m_column->setAutoFillBackground(true);
    m_column->setPalette(listColours);
    m_columnLayout = new QVBoxLayout(m_column);
    m_columnLayout->setContentsMargins(12, 12, 12, 12);
    m_columnLayout->setSpacing(8);
    m_columnLayout->addStretch(1);
    m_scroll->setWidget(m_column);
    m_scroll->viewport()->installEventFilter(this);
    m_scrollAnimation = new QPropertyAnimation(m_scroll->verticalScrollBar(), "value", this);
    m_scrollAnimation->setDuration(kScrollMs);
    m_scrollAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        if (m_followEnd)
            animateToEnd();
    });
    connect(m_scrollAnimation, &QPropertyAnimation::finished, this, [this] {
        const QScrollBar *bar = m_scroll->verticalScrollBar();
        if (bar->value() == bar->maximum())
            m_followEnd = false;
    });
    layout->addWidget(m_scroll, 1);

    m_thinkingRow = new QWidget(m_column);
    auto *thinkingLayout = new QHBoxLayout(m_thinkingRow);
    thinkingLayout->setContentsMargins(10, 10, 10, 10);
    thinkingLayout->setSpacing(6);
    thinkingLayout->addWidget(new AskSpinner(kSystemGrey, m_thinkingRow));
    thinkingLayout->addWidget(
        TextLabel::create(tr("Thinking\u2026"), Fonts::font(FontFace::regular, 13), kSystemGrey, m_thinkingRow));
    thinkingLayout->addStretch(1);
    m_thinkingRow->setObjectName(QStringLiteral("thinking"));
    m_thinkingRow->hide();
    m_columnLayout->insertWidget(m_columnLayout->count() - 1, m_thinkingRow);

    layout->addWidget(makeInputBar());

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &AskPanel::closeRequested);

    for (const AskMessage &message : m_conversation.messages())
        appendMessage(message);
    updateSendEnabled();
}

AskPanel::~AskPanel() = default;

QWidget *AskPanel::makeHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(14, 11, 14, 11);
    row->setSpacing(0);

    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(new AskHeading(header));
    column->addWidget(TextLabel::create(tr("Answers from your own library"), Fonts::font(FontFace::regular, 11),
                                        Palette::muted(), header));
    row->addLayout(column, 1);

    auto *close = new QToolButton(header);
    close->setAutoRaise(true);
    close->setIcon(Symbols::icon(QStringLiteral("xmark"), Palette::muted()));
    const int side = Symbols::boxFor(13);
    close->setIconSize(QSize(side, side));
    close->setFixedSize(side + 10, side + 10);
    close->setToolTip(tr("Close"));
    close->setAccessibleName(tr("Close"));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(close, &QToolButton::clicked, this, &AskPanel::closeRequested);
    row->addWidget(close, 0, Qt::AlignVCenter);
    return header;
}

QWidget *AskPanel::makeInputBar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(8);

    m_input = new QLineEdit(bar);
    m_input->setFont(Fonts::font(FontFace::regular, 14));
    m_input->setPlaceholderText(tr("Ask about your videos\u2026"));
    m_input->setAccessibleName(m_input->placeholderText());
    m_input->setStyleSheet(QStringLiteral("QLineEdit { color: black; border: none; border-radius: 9px;"
                                          " padding: 9px 12px; background: %1; selection-background-color: %2; }")
                               .arg(kFieldBackground.name(), Palette::accent().name()));
    QPalette inputColours = m_input->palette();
    inputColours.setColor(QPalette::PlaceholderText, kSystemGrey);
    m_input->setPalette(inputColours);
    connect(m_input, &QLineEdit::returnPressed, this, &AskPanel::send);
    connect(m_input, &QLineEdit::textChanged, this, &AskPanel::updateSendEnabled);
    row->addWidget(m_input, 1);

    m_send = new QPushButton(tr("ASK"), bar);
    m_send->setFont(Fonts::font(FontFace::semiBold, 12.5));
    m_send->setCursor(Qt::PointingHandCursor);
    QColor dimmed = Palette::accent();
    dimmed.setAlphaF(0.45f);
    m_send->setStyleSheet(buttonStyle(Palette::accent(), dimmed));
    connect(m_send, &QPushButton::clicked, this, &AskPanel::send);
    row->addWidget(m_send);
    return bar;
}

void AskPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath card;
    card.addRoundedRect(box, kRadius, kRadius);
    painter.fillPath(card, Qt::white);
    // The header's dark band follows the card's rounded top corners.
    if (const QWidget *header = layout()->itemAt(0)->widget()) {
        painter.save();
        painter.setClipPath(card);
        painter.fillRect(QRectF(0, 0, width(), header->geometry().bottom() + 1), kHeaderBackground);
        painter.restore();
    }
    painter.setPen(QPen(Palette::grey(0.16), 1));
    painter.drawPath(card);
}

void AskPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_input->setFocus(Qt::OtherFocusReason);
    fitBubbles();
}

bool AskPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize)
        fitBubbles();
    return QWidget::eventFilter(watched, event);
}

void AskPanel::fitBubbles()
{
    const QMargins margins = m_columnLayout->contentsMargins();
    const int width = m_scroll->viewport()->width() - margins.left() - margins.right();
    for (const QPointer<AskBubble> &bubble : std::as_const(m_bubbles)) {
        if (bubble)
            bubble->setAvailableWidth(width);
    }
}

void AskPanel::send()
{
    std::optional<AskConversation::Outgoing> outgoing = m_conversation.begin(m_input->text());
    if (!outgoing)
        return;
    m_input->clear();
    appendMessage(m_conversation.messages().constLast());
    setThinking(true);
    ask(std::move(*outgoing));
}

QCoro::Task<> AskPanel::ask(AskConversation::Outgoing outgoing)
{
    // The panel may be closed, and with it destroyed, while the question is on its way.
    QPointer<AskPanel> self(this);
    ApiResult<AskAnswer> result = co_await m_api.ask(outgoing.question, outgoing.history);
    if (!self)
        co_return;
    m_conversation.finish(result);
    setThinking(false);
    appendMessage(m_conversation.messages().constLast());
    Q_EMIT answered();
}

void AskPanel::appendMessage(const AskMessage &message)
{
    const QFont bubbleFont = Fonts::font(FontFace::regular, 13.5);
    QWidget *entry = nullptr;
    Qt::Alignment alignment = Qt::AlignLeft;
    AskBubble *bubble = nullptr;
    switch (message.role) {
    case AskMessage::Role::user:
        bubble = new AskBubble(message.text, Qt::PlainText, Qt::white, Palette::accent(), QColor(), m_column);
        alignment = Qt::AlignRight;
        entry = bubble;
        break;
    case AskMessage::Role::error:
        bubble = new AskBubble(message.text, Qt::PlainText, kErrorText, kErrorBackground, kErrorOutline, m_column);
        entry = bubble;
        break;
    case AskMessage::Role::bot: {
        bubble = new AskBubble(AskText::answerHtml(message.text), Qt::RichText, Qt::black, Qt::white,
                               Palette::grey(0.9), m_column);
        bubble->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (message.videos.isEmpty()) {
            entry = bubble;
            break;
        }
        entry = new QWidget(m_column);
        alignment = {}; // the cards span the column
        auto *column = new QVBoxLayout(entry);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(6);
        bubble->setParent(entry);
        column->addWidget(bubble, 0, Qt::AlignLeft);
        for (const AskVideo &video : message.videos) {
            auto *card = new AskVideoCard(video, entry);
            connect(card, &AskVideoCard::clicked, this, [this, video] { Q_EMIT playRequested(video); });
            column->addWidget(card);
        }
        break;
    }
    }
    bubble->setFont(bubbleFont);
    bubble->setObjectName(message.id.toString(QUuid::WithoutBraces));
    m_bubbles.append(bubble);
    // Before the thinking row and the closing stretch.
    m_columnLayout->insertWidget(m_columnLayout->count() - 2, entry, 0, alignment);
    fitBubbles();
    scrollToEnd();
}

void AskPanel::setThinking(bool thinking)
{
    m_thinkingRow->setVisible(thinking);
    updateSendEnabled();
    if (thinking)
        scrollToEnd();
}

void AskPanel::updateSendEnabled()
{
    m_send->setEnabled(AskConversation::canSend(m_input->text(), m_conversation.thinking()));
}

void AskPanel::scrollToEnd()
{
    // The column lays out its new content over the next turns of the event loop; the range
    // change that follows moves the target.
    m_followEnd = true;
    animateToEnd();
}

void AskPanel::animateToEnd()
{
    QScrollBar *bar = m_scroll->verticalScrollBar();
    m_scrollAnimation->stop();
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(bar->maximum());
    m_scrollAnimation->start();
}

} // namespace clipvane
