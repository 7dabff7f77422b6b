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
            if (url.isValid() && !url.isLocalFile())
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

QStringList files(const QMimeData &mime)
{
    QStringList files;
    for (const QUrl &url : mime.urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    return files;
}

bool carriesLinks(const QMimeData &mime)
{
    return mime.hasUrls() || mime.hasText();
}

bool add(const QStringList &texts, SyncEngine &sync)
{
    const QList<AddOutcome> outcomes = sync.edits().add(texts);
    return std::any_of(outcomes.cbegin(), outcomes.cend(), [](const AddOutcome &o) { return o.inLibrary(); });
}

} // namespace clipvane::LinkDrop
