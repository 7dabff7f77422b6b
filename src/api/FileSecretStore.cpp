#include "FileSecretStore.h"

#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <chrono>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace clipvane {

namespace {

using namespace std::chrono_literals;

// Two short texts; anything much larger is not a file this store wrote.
constexpr qint64 kMaxFileBytes = 64 * 1024;
// Another process of the application family may be writing at the same moment.
constexpr auto kLockWait = 2s;

#ifdef Q_OS_UNIX
bool writeAll(int fd, const QByteArray &data)
{
    const char *cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, cursor, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        cursor += written;
        left -= written;
    }
    return true;
}

// The temporary file is created private (mkstemp: 0600, and fchmod in case of an odd umask)
// before a single secret byte is written, then renamed over the old file.
bool replacePrivateFile(const QString &path, const QByteArray &data)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    // Make the rename itself durable.
    const int directory =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}
#else
bool replacePrivateFile(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data) != data.size())
        return false;
    return file.commit();
}
#endif

} // namespace

FileSecretStore::FileSecretStore(QString path)
    : m_path(std::move(path))
{}

FileSecretStore::FileSecretStore()
    : FileSecretStore(AppPaths::secretsFilePath())
{}

std::optional<QJsonObject> FileSecretStore::load() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray content = file.read(kMaxFileBytes + 1);
    if (content.size() > kMaxFileBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(content);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

bool FileSecretStore::store(const QJsonObject &items) const
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    return replacePrivateFile(m_path, QJsonDocument(items).toJson(QJsonDocument::Compact));
}

bool FileSecretStore::keychainSave(const QString &value, const QString &account)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QLockFile lock(m_path + QLatin1String(".lock"));
    if (!lock.tryLock(kLockWait))
        return false;
    // A damaged file holds nothing usable: it is replaced rather than kept.
    QJsonObject items = load().value_or(QJsonObject());
    items.insert(account, value);
    return store(items);
}

std::optional<QString> FileSecretStore::keychainRead(const QString &account)
{
    const auto items = load();
    if (!items)
        return std::nullopt;
    const QJsonValue value = items->value(account);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

void FileSecretStore::keychainDelete(const QString &account)
{
    if (!QFileInfo::exists(m_path))
        return;
    QLockFile lock(m_path + QLatin1String(".lock"));
    if (!lock.tryLock(kLockWait))
        return;
    QJsonObject items = load().value_or(QJsonObject());
    items.remove(account);
    store(items);
}

} // namespace clipvane
