#include "StatusLine.h"

#include "APIClient.h"
#include "Fonts.h"
#include "Palette.h"
#include "StatusText.h"
#include "SyncEngine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace clipvane {

namespace {

constexpr int kHorizontal = 12;
constexpr int kVertical = 7;
constexpr qreal kTextSize = 11;
constexpr std::chrono::seconds kNoticeShown{8};

QLabel *makeLabel(QWidget *parent, const QString &description)
{
    auto *label = new QLabel(parent);
    label->setFont(Fonts::font(FontFace::regular, kTextSize));
    label->setTextFormat(Qt::PlainText);
    label->setAccessibleDescription(description);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Palette::muted());
    label->setPalette(palette);
    return label;
}

void setColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

StatusLine::StatusLine(SyncEngine &sync, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_count(makeLabel(this, tr("Videos listed")))
    , m_status(makeLabel(this, tr("Sync status")))
    , m_notice(makeLabel(this, tr("Last addition")))
    , m_refusal(makeLabel(this, tr("Service address")))
    , m_stop(new QPushButton(this))
    , m_noticeTimer(new QTimer(this))
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(kHorizontal, kVertical, kHorizontal, kVertical);
    stack->setSpacing(kVertical);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_count);
    row->addStretch(1);
    row->addWidget(m_status);
    stack->addLayout(row);

    m_notice->setWordWrap(true);
    m_notice->hide();
    auto *noticeRow = new QHBoxLayout;
    noticeRow->setContentsMargins(0, 0, 0, 0);
    noticeRow->addWidget(m_notice, 1);
    m_stop->setFont(Fonts::font(FontFace::regular, kTextSize));
    m_stop->setText(tr("Stop"));
    m_stop->hide();
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (const auto stop = std::exchange(m_stopWork, nullptr))
            stop();
    });
    noticeRow->addWidget(m_stop, 0, Qt::AlignTop);
    stack->addLayout(noticeRow);
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(kNoticeShown);
    connect(m_noticeTimer, &QTimer::timeout, m_notice, &QWidget::hide);
    connect(&sync.edits(), &LocalEdits::addAnswered, this, &StatusLine::showAdded);
    connect(&sync.history(), &EditHistory::notice, this, [this](const QString &text) { showNotice(text); });

    m_refusal->setWordWrap(true);
    setColour(m_refusal, Palette::errorRed());
    m_refusal->setText(APIClient::baseRefusal());
    m_refusal->setAccessibleName(m_refusal->text());
    m_refusal->setVisible(!m_refusal->text().isEmpty());
    stack->addWidget(m_refusal);

    connect(&sync, &SyncEngine::syncingChanged, this, &StatusLine::updateSync);
    connect(&sync, &SyncEngine::lastSyncChanged, this, &StatusLine::updateSync);
    connect(&sync, &SyncEngine::lastErrorChanged, this, &StatusLine::updateSync);
    connect(&sync, &SyncEngine::progressFractionChanged, this, &StatusLine::updateSync);
    connect(&sync, &SyncEngine::progressTotalChanged, this, &StatusLine::updateSync);
    updateSync();
}

void StatusLine::setCounts(qsizetype visible, qsizetype count)
{
    m_count->setText(StatusText::countText(visible, count, locale()));
    m_count->setAccessibleName(m_count->text());
}

QString StatusLine::countText() const
{
    return m_count->text();
}

void StatusLine::showAdded(const QList<AddOutcome> &outcomes)
{
    const QString text = LocalEdits::summary(outcomes);
    const bool nothingTaken =
        std::none_of(outcomes.cbegin(), outcomes.cend(), [](const AddOutcome &o) { return o.inLibrary(); });
    showNotice(text, nothingTaken, false);
}

void StatusLine::showProgress(const QString &text, const QString &stopTitle, std::function<void()> stop)
{
    showNotice(text, false, true);
    m_stop->setText(stopTitle);
    m_stopWork = std::move(stop);
    m_stop->setVisible(bool(m_stopWork));
}

void StatusLine::showNotice(const QString &text, bool isError, bool lasting)
{
    // Keyboard focus on the button stays in the status line rather than falling out of the window.
    if (m_stop->hasFocus())
        setFocus(Qt::OtherFocusReason);
    m_stop->hide();
    m_stopWork = nullptr;
    m_notice->setText(text);
    m_notice->setAccessibleName(text);
    setColour(m_notice, isError ? Palette::errorRed() : Palette::muted());
    m_notice->setVisible(!text.isEmpty());
    if (lasting)
        m_noticeTimer->stop();
    else
        m_noticeTimer->start();
}

QString StatusLine::noticeText() const
{
    return m_notice->isVisibleTo(this) ? m_notice->text() : QString();
}

void StatusLine::updateSync()
{
    StatusText::Sync sync;
    sync.syncing = m_sync.syncing();
    if (m_sync.hasProgress())
        sync.fraction = m_sync.progressFraction();
    sync.total = m_sync.progressTotal();
    if (m_sync.hasError())
        sync.error = m_sync.lastError();
    sync.lastSync = m_sync.lastSync();
    const StatusText::Line line = StatusText::syncLine(sync, locale());
    m_status->setText(line.text);
    m_status->setAccessibleName(line.text);
    setColour(m_status, line.isError ? Palette::errorRed() : Palette::muted());
}

} // namespace clipvane
