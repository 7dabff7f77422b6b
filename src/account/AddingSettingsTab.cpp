#include "AddingSettingsTab.h"

#include "APIClient.h"
#include "Palette.h"
#include "SettingsForm.h"
#include "SettingsKeys.h"
#include "SettingsSection.h"
#include "TelegramBot.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kTextSize = 13;
constexpr qreal kExplainSize = 12.5;
constexpr qreal kNoteSize = 11.5;

} // namespace

AddingSettingsTab::AddingSettingsTab(APIClient &api, QSettings &standard, QWidget *parent)
    : QWidget(parent)
    , m_api(api)
    , m_openUrl([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *form = new SettingsForm(this);
    layout->addWidget(form);

    SettingsSection *telegram = form->addSection(tr("Telegram"));
    QLabel *explanation = SettingsForm::text(
        tr("Send @%1 any YouTube link and it lands here on the next sync.").arg(TelegramBot::userName()), kExplainSize,
        Palette::text());
    explanation->setAccessibleDescription(tr("Telegram bot"));
    telegram->addRow(explanation);
    auto *link = SettingsForm::text(TelegramBot::displayLink(), kTextSize, Palette::text());
    link->setWordWrap(false);
    link->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_copy = SettingsForm::button(tr("Copy link"));
    m_link = SettingsForm::button(tr("Link my account"));
    telegram->addRow({link, m_copy, m_link});

    SettingsSection *window = form->addSection(windowSectionTitle());
    window->addRow(SettingsForm::text(windowHint(), kExplainSize, Palette::text()));

    SettingsSection *playback = form->addSection(tr("Playback"));
    m_playNext = new QCheckBox(tr("Play the next video automatically"));
    m_playNext->setAccessibleName(m_playNext->text());
    m_playNext->setChecked(
        standard.value(SettingsKeys::playNextAutomatically, SettingsDefaults::playNextAutomatically).toBool());
    playback->addRow(m_playNext);
    playback->addRow(SettingsForm::text(tr("When a video ends, the next one of the list as it is shown starts after "
                                           "five seconds, unless you cancel it."),
                                        kNoteSize, Palette::muted()));
    connect(m_playNext, &QCheckBox::toggled, this,
            [&standard](bool on) { standard.setValue(SettingsKeys::playNextAutomatically, on); });

    connect(m_copy, &QPushButton::clicked, this, &AddingSettingsTab::copyBotLink);
    connect(m_link, &QPushButton::clicked, this, [this] { linkAccount(); });
}

QString AddingSettingsTab::windowSectionTitle()
{
#ifdef Q_OS_MACOS
    return tr("On this Mac");
#else
    return tr("On this computer");
#endif
}

QString AddingSettingsTab::windowHint()
{
    const QString paste = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V).toString(QKeySequence::NativeText);
#ifdef Q_OS_MACOS
    const QString browser = tr("Safari");
#else
    const QString browser = tr("your browser");
#endif
    return tr("Drag a YouTube link onto the window from %1, or press %2 to add whatever link is on the clipboard.")
        .arg(browser, paste);
}

void AddingSettingsTab::copyBotLink()
{
    QGuiApplication::clipboard()->setText(TelegramBot::clipboardLink());
    m_copy->setText(tr("Copied"));
    // Each press schedules its own reset; an earlier one still fires at its time.
    QTimer::singleShot(kCopiedMs, this, [this] { m_copy->setText(tr("Copy link")); });
}

QCoro::Task<> AddingSettingsTab::linkAccount()
{
    QPointer<AddingSettingsTab> self(this);
    const ApiResult<QString> link = co_await m_api.telegramLink();
    if (!self)
        co_return;
    // Failures are silent: the user can press the button again.
    if (link) {
        const QUrl url(*link, QUrl::StrictMode);
        // Only web and Telegram addresses: the reply must not make the desktop open a local file
        // or program.
        const QString scheme = url.scheme().toLower();
        const bool openable = scheme == u"https" || scheme == u"http" || scheme == u"tg";
        if (url.isValid() && openable)
            m_openUrl(url);
    }
    Q_EMIT linkSettled();
}

} // namespace clipvane
