#include "SignedInPage.h"

#include "APIClient.h"
#include "Fonts.h"
#include "Palette.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QVBoxLayout>

namespace clipvane {

SignedInPage::SignedInPage(SyncEngine &sync, VideoStore &store, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_store(store)
    , m_count(new QLabel(this))
    , m_status(new QLabel(this))
{
    m_count->setFont(Fonts::font(FontFace::display, 22));
    m_count->setAlignment(Qt::AlignCenter);
    m_count->setAccessibleDescription(tr("Videos in the library"));
    m_status->setFont(Fonts::font(FontFace::regular, 12));
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    m_status->setAccessibleDescription(tr("Sync status"));
    QPalette muted = m_status->palette();
    muted.setColor(QPalette::WindowText, Palette::muted());
    m_status->setPalette(muted);

    auto *column = new QVBoxLayout(this);
    column->addStretch(1);
    column->addWidget(m_count);
    column->addSpacing(6);
    column->addWidget(m_status);
    column->addStretch(1);

    // A first sync inserts records by the thousand: the page is redrawn once per turn of the
    // event loop, not once per record.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    connect(&m_refresh, &QTimer::timeout, this, &SignedInPage::refresh);
    const auto later = [this] { m_refresh.start(); };
    connect(&store, &VideoStore::inserted, this, later);
    connect(&store, &VideoStore::removed, this, later);
    connect(&sync, &SyncEngine::syncingChanged, this, later);
    connect(&sync, &SyncEngine::progressReceivedChanged, this, later);
    connect(&sync, &SyncEngine::lastErrorChanged, this, later);
    refresh();
}

QString SignedInPage::countText() const
{
    const qsizetype count = m_store.all().size();
    return count == 1 ? tr("1 video in your library")
                      : tr("%1 videos in your library").arg(QLocale().toString(static_cast<qlonglong>(count)));
}

void SignedInPage::refresh()
{
    m_count->setText(countText());
    if (m_sync.syncing())
        m_status->setText(m_sync.hasProgress() ? tr("Syncing… %1 of %2")
                                                     .arg(QLocale().toString(m_sync.progressReceived()),
                                                          QLocale().toString(m_sync.progressTotal()))
                                               : tr("Syncing…"));
    else if (m_sync.hasError())
        m_status->setText(m_sync.lastError());
    else if (const QString refused = APIClient::baseRefusal(); !refused.isEmpty())
        m_status->setText(refused);
    else if (m_sync.lastSync().isValid())
        m_status->setText(
            tr("Synced %1").arg(QLocale().toString(m_sync.lastSync().toLocalTime(), QLocale::ShortFormat)));
    else
        m_status->setText(QString());
}

} // namespace clipvane
