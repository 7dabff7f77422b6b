#include "LinkDrop.h"

#include "LinkParser.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QMimeData>
#include <QUrl>

namespace clipvane::LinkDrop {

QStringList texts(const QMimeData &mime)
{
    QStringList texts;
    if (mime.hasUrls()) {
        for (const QUrl &url : mime.urls()) {
            if (url.isValid())
                texts << url.toString(QUrl::FullyEncoded);
        }
        return texts;
    }
    if (mime.hasText()) {
        for (const QString &line : mime.text().split(u'\n')) {
            const QString trimmed = line.trimmed();
            if (!trimmed.isEmpty())
                texts << trimmed;
        }
    }
    return texts;
}

bool carriesLinks(const QMimeData &mime)
{
    return mime.hasUrls() || mime.hasText();
}

bool add(const QStringList &texts, SyncEngine &sync, VideoStore &store)
{
    bool handled = false;
    for (const QString &text : texts) {
        if (!youtubeID(text))
            continue;
        sync.addVideo(text);
        handled = true;
    }
    if (!handled)
        return false;
    store.save(); // a failed save keeps the records for the next one
    sync.scheduleSync();
    return true;
}

} // namespace clipvane::LinkDrop
