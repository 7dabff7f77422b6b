#include "StoreLock.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace clipvane {

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
    if (file->tryLock(static_cast<int>(wait.count())))
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
