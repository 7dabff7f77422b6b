#include "KeptLibraries.h"

#include "VideoStore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace clipvane {

namespace {

const QString kAccount = QStringLiteral("account");
const QString kCursor = QStringLiteral("syncCursor");
const QString kFamilyRev = QStringLiteral("familyRev");
const QString kFamilyRefresh = QStringLiteral("familyRefresh");
const QString kSuffix = QStringLiteral(".sqlite");

// Addresses differ in case and spaces only where people typed them so.
QString normalised(const QString &account)
{
    return account.trimmed().toLower();
}

} // namespace

KeptLibraries::KeptLibraries(const QString &storePath)
    : m_directory(QFileInfo(storePath).dir().filePath(QStringLiteral("kept-libraries")))
{}

QString KeptLibraries::pathFor(const QString &account) const
{
    // A file name from the address itself could hold anything; its hash cannot.
    const QByteArray hash = QCryptographicHash::hash(normalised(account).toUtf8(), QCryptographicHash::Sha256);
    return QDir(m_directory).filePath(QString::fromLatin1(hash.toHex().left(32)) + kSuffix);
}

bool KeptLibraries::keep(VideoStore &store, const GroupSettings::PullState &pull, const QString &account,
                         QString *error)
{
    // The cursor counts only for the store it was written for.
    const bool cursorFits = pull.store == store.generation();
    return store.copyTo(pathFor(account),
                        {{kAccount, normalised(account)},
                         {kCursor, QString::number(cursorFits ? pull.cursor : 0)},
                         {kFamilyRev, pull.familyRev},
                         {kFamilyRefresh, pull.familyRefreshPending ? QStringLiteral("1") : QStringLiteral("0")}},
                        error);
}

std::optional<GroupSettings::PullState> KeptLibraries::restore(VideoStore &store, const QString &account,
                                                               QString *error)
{
    const QString path = pathFor(account);
    if (!QFileInfo::exists(path))
        return std::nullopt;
    std::unique_ptr<VideoStore> kept = VideoStore::open(path, error);
    if (!kept)
        return std::nullopt;
    if (kept->meta(kAccount) != normalised(account)) {
        if (error)
            *error = QCoreApplication::translate("KeptLibraries", "The library kept at %1 belongs to another account")
                         .arg(path);
        return std::nullopt;
    }
    for (const Video *video : kept->all()) {
        if (!store.find(video->youtubeID))
            store.insert(*video);
    }
    if (!store.save(error))
        return std::nullopt;

    GroupSettings::PullState pull;
    bool numeric = false;
    pull.cursor = kept->meta(kCursor).toLongLong(&numeric);
    if (!numeric)
        pull.cursor = 0;
    if (const QString familyRev = kept->meta(kFamilyRev); !familyRev.isEmpty())
        pull.familyRev = familyRev;
    pull.familyRefreshPending = kept->meta(kFamilyRefresh) == u"1";
    pull.store = store.generation();
    kept.reset();
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
    return pull;
}

} // namespace clipvane
