#include "DetailInfoPanel.h"

#include "Fonts.h"
#include "Palette.h"
#include "PillButton.h"
#include "RowText.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kTitleSize = 14;
constexpr qreal kTitleLevel = 0.93;
constexpr qreal kFactsSize = 11.5;
constexpr qreal kFactsSymbolSize = 10;
constexpr int kRowSpacing = 7;
constexpr qreal kGradientBottomOpacity = 0.85;

struct Measures
{
    int spacing;
    int horizontal;
    int bottom;
    int height;
};

Measures measuresFor(bool browsing)
{
    return browsing ? Measures{7, 30, 14, DetailInfoPanel::kBrowseHeight}
                    : Measures{8, 22, 16, DetailInfoPanel::kNormalHeight};
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void clearLayout(QLayout &layout)
{
    while (QLayoutItem *item = layout.takeAt(0)) {
        if (QLayout *inner = item->layout())
            clearLayout(*inner);
        delete item->widget();
        delete item;
    }
}

} // namespace

DetailInfoPanel::DetailInfoPanel(QWidget *parent)
    : QWidget(parent)
    , m_stack(new QVBoxLayout(this))
    , m_title(new QLabel(this))
    , m_facts(new QHBoxLayout)
    , m_factsRow(new QWidget(this))
    , m_open(new PillButton(QStringLiteral("play.rectangle.fill"), tr("Open in YouTube"), PillButton::Style::prominent,
                            this))
    , m_copy(new PillButton(QStringLiteral("doc.on.doc"), tr("Copy link"), PillButton::Style::ordinary, this))
    , m_share(new PillButton(QStringLiteral("square.and.arrow.up"), tr("Share"), PillButton::Style::ordinary, this))
    , m_edit(new PillButton(QStringLiteral("pencil"), tr("Edit"), PillButton::Style::ordinary, this))
    , m_watched(new PillButton(QStringLiteral("checkmark"), tr("Mark as Watched"), PillButton::Style::ordinary, this))
    , m_exclude(new PillButton(QStringLiteral("eye.slash"), tr("Exclude"), PillButton::Style::ordinary, this))
    , m_delete(new PillButton(QStringLiteral("trash"), tr("Delete"), PillButton::Style::ordinary, this))
{
    m_title->setTextFormat(Qt::PlainText);
    m_title->setAccessibleDescription(tr("Title"));
    m_factsRow->setLayout(m_facts);
    m_facts->setContentsMargins(0, 0, 0, 0);
    m_facts->setSpacing(kRowSpacing);
    m_factsRow->setAccessibleDescription(tr("Details"));

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(kRowSpacing);
    for (PillButton *button : {m_open, m_copy, m_share, m_edit, m_watched, m_exclude, m_delete})
        buttons->addWidget(button);
    buttons->addStretch(1);

    m_stack->addWidget(m_title);
    m_stack->addWidget(m_factsRow);
    m_stack->addLayout(buttons);
    m_stack->addStretch(1);

    connect(m_open, &QAbstractButton::clicked, this, &DetailInfoPanel::openOnYouTubeClicked);
    connect(m_copy, &QAbstractButton::clicked, this, &DetailInfoPanel::copyLinkClicked);
    connect(m_share, &QAbstractButton::clicked, this, &DetailInfoPanel::shareClicked);
    connect(m_edit, &QAbstractButton::clicked, this, &DetailInfoPanel::editClicked);
    connect(m_watched, &QAbstractButton::clicked, this, &DetailInfoPanel::toggleWatchedClicked);
    connect(m_exclude, &QAbstractButton::clicked, this, &DetailInfoPanel::toggleExcludedClicked);
    connect(m_delete, &QAbstractButton::clicked, this, &DetailInfoPanel::deleteClicked);
}

void DetailInfoPanel::setVideo(const Video &video, bool browsing)
{
    m_browsing = browsing;
    const Measures measures = measuresFor(browsing);
    m_stack->setSpacing(measures.spacing);
    m_stack->setContentsMargins(measures.horizontal, 0, measures.horizontal, measures.bottom);
    setFixedHeight(measures.height);

    m_fullTitle = video.title;
    if (browsing) {
        m_title->setFont(Fonts::font(FontFace::medium, kTitleSize));
        setTextColour(m_title, Qt::white);
        m_title->setTextInteractionFlags(Qt::NoTextInteraction);
    } else {
        m_title->setFont(Fonts::font(FontFace::regular, kTitleSize));
        setTextColour(m_title, Palette::grey(kTitleLevel));
        m_title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    elideTitle();
    rebuildFacts(video);

    const bool changeable = !browsing && !video.readOnly;
    m_edit->setVisible(changeable);
    m_watched->setVisible(changeable);
    m_exclude->setVisible(changeable);
    m_watched->setText(video.watched ? tr("Mark as Unwatched") : tr("Mark as Watched"));
    m_watched->setSymbol(video.watched ? QStringLiteral("xmark") : QStringLiteral("checkmark"));
    m_delete->setVisible(changeable);
    m_exclude->setText(video.excluded ? tr("Include") : tr("Exclude"));
    m_exclude->setSymbol(video.excluded ? QStringLiteral("eye") : QStringLiteral("eye.slash"));
    update();
}

void DetailInfoPanel::setCopied(bool copied)
{
    m_copy->setText(copied ? tr("Copied") : tr("Copy link"));
    m_copy->setSymbol(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
    m_copy->updateGeometry();
}

QStringList DetailInfoPanel::factsTexts() const
{
    QStringList texts;
    for (const QLabel *label : m_factsRow->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        if (!label->isHidden())
            texts << (label->pixmap().isNull() ? label->text() : u'[' + label->accessibleName() + u']');
    }
    return texts;
}

QStringList DetailInfoPanel::visibleButtons() const
{
    QStringList titles;
    for (const PillButton *button : {m_open, m_copy, m_share, m_edit, m_watched, m_exclude, m_delete}) {
        if (!button->isHidden())
            titles << button->text();
    }
    return titles;
}

QLabel *DetailInfoPanel::factLabel(const QString &text, const QColor &colour, const QString &description)
{
    auto *label = new QLabel(text, m_factsRow);
    // A screen reader reads the fact itself, then what it is.
    label->setAccessibleDescription(description);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Fonts::font(FontFace::regular, kFactsSize));
    setTextColour(label, colour);
    return label;
}

QLabel *DetailInfoPanel::symbolLabel(const QString &name, const QColor &tint)
{
    auto *label = new QLabel(m_factsRow);
    const int box = Symbols::boxFor(kFactsSymbolSize);
    label->setPixmap(Symbols::pixmap(name, tint, QSize(box, box), devicePixelRatioF()));
    label->setFixedSize(box, box);
    label->setAccessibleName(name);
    return label;
}

void DetailInfoPanel::rebuildFacts(const Video &video)
{
    clearLayout(*m_facts);
    const QColor muted = Palette::muted();
    const QString dot = QStringLiteral("·");
    m_facts->addWidget(symbolLabel(RowText::sourceSymbolName(video.source), muted));
    m_facts->addWidget(factLabel(video.uploadDate, muted, tr("Upload date")));
    if (!video.duration.isEmpty()) {
        m_facts->addWidget(factLabel(dot, muted));
        m_facts->addWidget(factLabel(video.duration, muted, tr("Length")));
    }
    if (video.readOnly) {
        m_facts->addWidget(factLabel(dot, muted));
        // The symbol and its text form one label, so they keep the symbol's own small gap.
        auto *shared = new QHBoxLayout;
        shared->setSpacing(4);
        shared->addWidget(symbolLabel(QStringLiteral("person.2.fill"), sharedByColour()));
        shared->addWidget(factLabel(tr("Shared by %1").arg(video.ownerEmail), sharedByColour(), tr("Owner")));
        m_facts->addLayout(shared);
    }
    m_facts->addStretch(1);
}

void DetailInfoPanel::elideTitle()
{
    const int available = width() - m_stack->contentsMargins().left() - m_stack->contentsMargins().right();
    const QString shown = QFontMetrics(m_title->font()).elidedText(m_fullTitle, Qt::ElideRight, std::max(available, 0));
    m_title->setText(shown);
    m_title->setToolTip(shown == m_fullTitle ? QString() : m_fullTitle);
    m_title->setAccessibleName(m_fullTitle);
}

void DetailInfoPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    elideTitle();
}

void DetailInfoPanel::paintEvent(QPaintEvent *)
{
    if (!m_browsing)
        return;
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, Palette::black(0));
    gradient.setColorAt(1, Palette::black(kGradientBottomOpacity));
    painter.fillRect(rect(), gradient);
}

} // namespace clipvane
