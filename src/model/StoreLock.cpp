#include "StoreLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace clipvane {

namespace {

constexpr std::chrono::milliseconds kRetryInterval{50};

// "pid\napplication\nhost\n", as other tools that read lock files expect.
QByteArray holderText()
{
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
           QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
}

QString describeHolder(int fd)
{
    char buffer[512];
    const ssize_t size = ::pread(fd, buffer, sizeof(buffer) - 1, 0);
    const QList<QByteArray> lines = QByteArray(buffer, size > 0 ? size : 0).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).toLongLong(&ok);
    if (!ok)
        return QStringLiteral("The library is in use by another Clipvane process. Nothing was changed.");
    const QString application = QString::fromUtf8(lines.value(1));
    return QStringLiteral("The library is in use by another Clipvane process (%1, pid %2). Nothing was changed.")
        .arg(application.isEmpty() ? QStringLiteral("unknown") : application)
        .arg(pid);
}

} // namespace

StoreLock::StoreLock(int fd)
    : m_fd(fd)
{}

StoreLock::~StoreLock()
{
    // Emptied first, so a reader never names a holder that has let go.
    [[maybe_unused]] const int emptied = ::ftruncate(m_fd, 0);
    ::close(m_fd); // releases the lock
}

QString StoreLock::lockPath(const QString &storePath)
{
    return storePath + QStringLiteral(".lock");
}

std::unique_ptr<StoreLock> StoreLock::acquire(const QString &storePath, QString *error, std::chrono::milliseconds wait)
{
    const QString path = lockPath(storePath);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Cannot create the folder of the library at %1.").arg(folder);
        return nullptr;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = errno == EACCES ? QStringLiteral("Cannot write the lock file %1: permission denied.").arg(path)
                                     : QStringLiteral("Cannot take the lock on the library (%1).").arg(path);
        return nullptr;
    }

    QElapsedTimer waited;
    waited.start();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited.elapsed() >= wait.count()) {
            if (error)
                *error = errno == EWOULDBLOCK ? describeHolder(fd)
                                              : QStringLiteral("Cannot take the lock on the library (%1).").arg(path);
            ::close(fd);
            return nullptr;
        }
        QThread::msleep(static_cast<unsigned long>(kRetryInterval.count()));
    }
    const QByteArray holder = holderText();
    // A failed write costs only the holder's name in other processes' messages.
    [[maybe_unused]] const bool named =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, holder.constData(), static_cast<size_t>(holder.size()), 0) >= 0;
    return std::unique_ptr<StoreLock>(new StoreLock(fd));
}

} // namespace clipvane
