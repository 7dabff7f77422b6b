#include "ProfileFill.h"

#include "AppPaths.h"
#include "FileSecretStore.h"
#include "SecretStore.h"
#include "SettingsKeys.h"
#include "Video.h"
#include "VideoStore.h"

#include <QSettings>
#include <array>

namespace clipvane::bench {

namespace {

const std::array<const char *, 12> kWords{"Live",     "session", "Football", "highlights", "Jazz",    "piano",
                                          "tutorial", "cooking", "Night",    "drive",      "lecture", "Café"};
const std::array<const char *, 4> kSources{"web", "ios", "telegram", ""};

QString titleFor(int i)
{
    QString title;
    const int words = 3 + i % 9 + (i % 5 == 0 ? 12 : 0);
    for (int w = 0; w < words; ++w)
        title += QString::fromUtf8(kWords[size_t((i * 7 + w * 5) % int(kWords.size()))]) + u' ';
    return title + QString::number(i);
}

} // namespace

void fillSignedInProfile(const QString &folder, int count)
{
    AppPaths::setProfile(folder);
    QString error;
    {
        auto store = VideoStore::open(AppPaths::storePath(), &error);
        if (!store)
            qFatal("fill: %s", qPrintable(error));
        for (int i = 0; i < count; ++i) {
            const bool link = i % 17 == 16;
            const QString id = (link ? u"x-"_qs : u"v"_qs) + u"%1"_qs.arg(i, 10, 10, QLatin1Char('0'));
            QString state = SyncStateRaw::synced;
            if (i % 13 == 5)
                state = i % 2 ? SyncStateRaw::needsAdd : SyncStateRaw::needsPatch;
            Video video(id, titleFor(i), link ? u"https://example.com/page/%1"_qs.arg(i) : u"https://youtu.be/"_qs + id,
                        u"20%1-%2-%3"_qs.arg(10 + i % 15)
                            .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                            .arg(1 + i % 28, 2, 10, QLatin1Char('0')),
                        i % 19 == 3 ? QString() : u"%1:%2"_qs.arg(i % 60).arg(i % 50 + 10), i % 11 == 4,
                        QString::fromUtf8(kSources[size_t(i % int(kSources.size()))]), i, i, state);
            if (i % 7 == 2) {
                video.readOnly = true;
                video.ownerEmail = i % 2 ? u"mia@example.com"_qs : u"jon@example.com"_qs;
                video.excluded = false;
                video.syncStateRaw = SyncStateRaw::synced;
            }
            store->insert(std::move(video));
        }
        if (!store->save(&error))
            qFatal("fill: %s", qPrintable(error));
    }
    AppPaths::standardSettings()->setValue(SettingsKeys::onboarded, true);
    FileSecretStore secrets(AppPaths::secretsFilePath());
    secrets.keychainSave(u"bench-token"_qs, SecretKeys::token);
    secrets.keychainSave(u"me@example.com"_qs, SecretKeys::email);
    AppPaths::setProfile(QString());
}

} // namespace clipvane::bench
