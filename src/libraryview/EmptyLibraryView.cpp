#include "EmptyLibraryView.h"

#include "Fonts.h"
#include "Palette.h"
#include "StatusText.h"
#include "Symbols.h"
#include "SyncEngine.h"

#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr int kSpacing = 12;
constexpr int kMessageMargin = 24;
constexpr qreal kSymbolSize = 34;
constexpr qreal kTitleSize = 16;
constexpr qreal kMessageSize = 12.5;
constexpr int kSpinnerWidth = 60;
constexpr int kSpinnerHeight = 6;

QLabel *makeLabel(QWidget *parent, const QFont &font, const QColor &colour)
{
    auto *label = new QLabel(parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

EmptyLibraryView::EmptyLibraryView(SyncEngine &sync, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_symbol(new QLabel(this))
    , m_spinner(new QProgressBar(this))
    , m_title(makeLabel(this, Fonts::font(FontFace::display, kTitleSize), Palette::text()))
    , m_message(makeLabel(this, Fonts::font(FontFace::regular, kMessageSize), Palette::muted()))
    , m_progress(makeLabel(this, Fonts::font(FontFace::regular, kMessageSize), Palette::muted()))
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(kSpacing);
    layout->setContentsMargins(kMessageMargin, 0, kMessageMargin, 0);
    layout->addStretch(1);
    const int box = Symbols::boxFor(kSymbolSize);
    m_symbol->setPixmap(
        Symbols::pixmap(QStringLiteral("film.stack"), Palette::muted(), QSize(box, box), devicePixelRatioF()));
    m_symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_symbol);
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedSize(kSpinnerWidth, kSpinnerHeight);
    m_spinner->setAccessibleName(tr("Syncing"));
    layout->addWidget(m_spinner, 0, Qt::AlignHCenter);
    m_title->setText(tr("Nothing here yet"));
    layout->addWidget(m_title);
    m_message->setText(tr("Drag a YouTube link onto this window, or press %1.").arg(addShortcutText()));
    layout->addWidget(m_message);
    m_progress->setAccessibleDescription(tr("Download progress"));
    layout->addWidget(m_progress);
    layout->addStretch(1);

    connect(&sync, &SyncEngine::syncingChanged, this, &EmptyLibraryView::refresh);
    connect(&sync, &SyncEngine::progressReceivedChanged, this, &EmptyLibraryView::refresh);
    connect(&sync, &SyncEngine::progressTotalChanged, this, &EmptyLibraryView::refresh);
    refresh();
}

QString EmptyLibraryView::addShortcutText()
{
    return QKeySequence(Qt::CTRL | Qt::Key_N).toString(QKeySequence::NativeText);
}

QString EmptyLibraryView::messageText() const
{
    return showsProgress() ? m_progress->text() : m_message->text();
}

bool EmptyLibraryView::showsProgress() const
{
    return m_sync.syncing();
}

void EmptyLibraryView::refresh()
{
    const bool syncing = m_sync.syncing();
    m_symbol->setVisible(!syncing);
    m_title->setVisible(!syncing);
    m_message->setVisible(!syncing);
    m_spinner->setVisible(syncing);
    m_progress->setVisible(syncing);
    m_progress->setText(StatusText::downloadText(m_sync.progressReceived(), m_sync.progressTotal(), locale()));
    m_progress->setAccessibleName(m_progress->text());
}

} // namespace clipvane
