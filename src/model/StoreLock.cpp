#include "StoreLock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace clipvane {

namespace {

// A holder writes its details into the lock file right after creating it; one killed in
// between leaves a file that names no holder. Past this age nobody is about to fill it in.
constexpr qint64 kUnnamedLockGraceMs = 2000;

bool namesNoHolder(QLockFile &file, const QString &path)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (file.getLockInfo(&pid, &host, &application))
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().msecsTo(QDateTime::currentDateTime()) > kUnnamedLockGraceMs;
}

} // namespace

StoreLock::StoreLock(std::unique_ptr<QLockFile> file)
    : m_file(std::move(file))
{}

StoreLock::~StoreLock() = default;

QString StoreLock::lockPath(const QString &storePath)
{
    return storePath + QStringLiteral(".lock");
}

std::unique_ptr<StoreLock> StoreLock::acquire(const QString &storePath, QString *error, std::chrono::milliseconds wait)
{
    const QString path = lockPath(storePath);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error =
                QStringLiteral("Cannot create the folder of the library at %1.").arg(QFileInfo(path).absolutePath());
        return nullptr;
    }
    auto file = std::make_unique<QLockFile>(path);
    // The application holds the lock for as long as it runs: only a holder that is no longer
    // alive makes the lock stale, never its age.
    file->setStaleLockTime(0);
    bool locked = file->tryLock(static_cast<int>(wait.count()));
    // QLockFile never calls such a file stale (it has no holder to ask after, and age alone
    // does not count here), so the library would stay locked for good.
    if (!locked && file->error() == QLockFile::LockFailedError && namesNoHolder(*file, path) &&
        file->removeStaleLockFile())
        locked = file->tryLock(static_cast<int>(wait.count()));
    if (locked)
        return std::unique_ptr<StoreLock>(new StoreLock(std::move(file)));

    if (error) {
        qint64 pid = 0;
        QString host;
        QString application;
        switch (file->error()) {
        case QLockFile::LockFailedError:
            if (file->getLockInfo(&pid, &host, &application))
                *error = QStringLiteral("The library is in use by another Clipvane process (%1, pid %2). Nothing was "
                                        "changed.")
                             .arg(application.isEmpty() ? QStringLiteral("unknown") : application)
                             .arg(pid);
            else
                *error = QStringLiteral("The library is in use by another Clipvane process. Nothing was changed.");
            break;
        case QLockFile::PermissionError:
            *error = QStringLiteral("Cannot write the lock file %1: permission denied.").arg(path);
            break;
        case QLockFile::NoError:
        case QLockFile::UnknownError:
            *error = QStringLiteral("Cannot take the lock on the library (%1).").arg(path);
            break;
        }
    }
    return nullptr;
}

} // namespace clipvane
