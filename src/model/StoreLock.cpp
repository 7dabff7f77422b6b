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

// The holder as its lock file names it ("clipvane-cli, pid 42"); empty when the file names none.
QString holderName(int fd)
{
    char buffer[512];
    const ssize_t size = ::pread(fd, buffer, sizeof(buffer) - 1, 0);
    const QList<QByteArray> lines = QByteArray(buffer, size > 0 ? size : 0).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).toLongLong(&ok);
    if (!ok)
        return {};
    const QString application = QString::fromUtf8(lines.value(1));
    return QStringLiteral("%1, pid %2").arg(application.isEmpty() ? QStringLiteral("unknown") : application).arg(pid);
}

QString inUseMessage(const QString &holder)
{
    return holder.isEmpty()
               ? QCoreApplication::translate("StoreLock",
                                             "The library is in use by another Clipvane process. Nothing was changed.")
               : QCoreApplication::translate(
                     "StoreLock", "The library is in use by another Clipvane process (%1). Nothing was changed.")
                     .arg(holder);
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

std::unique_ptr<StoreLock> StoreLock::acquire(const QString &storePath, QString *error, std::chrono::milliseconds wait,
                                              Failure *failure, const std::function<void(const QString &)> &waiting)
{
    const auto fail = [&](Failure kind, const QString &message) {
        if (error)
            *error = message;
        if (failure)
            *failure = kind;
        return nullptr;
    };
    if (failure)
        *failure = Failure::none;
    const QString path = lockPath(storePath);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(Failure::notWritable,
                    QCoreApplication::translate("StoreLock",
                                                "The library cannot be written: the folder %1 cannot be created "
                                                "(no permission, or a read-only disk).")
                        .arg(folder));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM || errno == EROFS)
            return fail(
                Failure::notWritable,
                QCoreApplication::translate("StoreLock", "The library cannot be written: %1 (%2). Nothing was changed.")
                    .arg(path,
                         errno == EROFS ? QStringLiteral("read-only disk") : QStringLiteral("permission denied")));
        return fail(Failure::other,
                    QCoreApplication::translate("StoreLock", "Cannot take the lock on the library (%1).").arg(path));
    }

    QElapsedTimer waited;
    waited.start();
    bool told = false;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        if ((!busy && errno != EINTR) || waited.elapsed() >= wait.count()) {
            const QString message =
                busy ? inUseMessage(holderName(fd))
                     : QCoreApplication::translate("StoreLock", "Cannot take the lock on the library (%1).").arg(path);
            ::close(fd);
            return fail(busy ? Failure::inUse : Failure::other, message);
        }
        if (busy && !told && waiting) {
            told = true;
            waiting(holderName(fd));
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
