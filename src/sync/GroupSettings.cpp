#include "GroupSettings.h"

#include "SettingsKeys.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace clipvane {

namespace {

const QString kLockSuffix = QStringLiteral(".lock");
// A change holds the lock for milliseconds; a lock file this old whose holder let go is left over.
constexpr qint64 kLeftBehindMs = 1000;
const QString kCopyName = QStringLiteral("group-%1.ini");
constexpr int kMinPauseMs = 1;
constexpr int kMaxPauseMs = 8;

// Text of a decimal signed 64-bit number: an optional sign and ASCII digits, nothing else.
qint64 readCursor(const QVariant &value)
{
    if (value.typeId() != QMetaType::QString)
        return SettingsDefaults::syncCursor;
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = value.toString();
    if (!decimal.match(text).hasMatch())
        return SettingsDefaults::syncCursor;
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    return ok ? number : SettingsDefaults::syncCursor;
}

std::optional<bool> readBoolean(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

// The inbox as another process left it. A one-element list reads back as plain text; anything
// that is not text (a number or blob written by a stranger) is not a list of links.
QStringList readLinks(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    return {};
}

// QLockFile judges a lock by its holder's process ID, which the system may have given to
// another program of the same name since the holder was killed. The holder also keeps the
// kernel's lock on the file, which ends with the process: a file older than any change takes
// whose kernel lock is free was left by a holder that is gone.
bool holderIsGone(const QString &path)
{
    const QFileInfo file(path);
    if (!file.exists() || file.lastModified().msecsTo(QDateTime::currentDateTime()) < kLeftBehindMs)
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// QLockFile's own wait doubles its pause after every miss, so a waiter among busy writers can
// miss its turn for seconds. Changes take a millisecond or two: short, uneven pauses give
// every waiter its turn soon.
bool acquire(QLockFile &lock, const QString &path, std::chrono::milliseconds wait)
{
    QDeadlineTimer deadline(wait);
    for (;;) {
        if (lock.tryLock(0))
            return true;
        if (lock.error() == QLockFile::PermissionError || deadline.hasExpired())
            return false;
        if (holderIsGone(path))
            lock.removeStaleLockFile();
        QThread::msleep(QRandomGenerator::global()->bounded(kMinPauseMs, kMaxPauseMs));
    }
}

// The private copies are written and read once: a memory-backed folder (the session's runtime
// folder, else the system's shared-memory one) spares the disk the flushes QSettings makes
// when it writes.
QString scratchTemplate()
{
    QString base = QDir::tempPath();
    for (const QString &candidate : {qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/dev/shm")}) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isDir() && QFileInfo(candidate).isWritable()) {
            base = candidate;
            break;
        }
    }
    return QDir(base).filePath(QStringLiteral("clipvane-group-XXXXXX"));
}

} // namespace

GroupSettings::GroupSettings(QString path, std::chrono::milliseconds lockWait)
    : m_path(std::move(path))
    , m_lockWait(lockWait)
{}

GroupSettings::~GroupSettings() = default;

QString GroupSettings::nextCopyPath() const
{
    // One private folder for the object's lifetime: making and removing a folder per access
    // costs more than all the rest of a read.
    if (!m_scratch || !m_scratch->isValid() || !QFileInfo(m_scratch->path()).isDir()) {
        m_scratch = std::make_unique<QTemporaryDir>(scratchTemplate());
        if (!m_scratch->isValid()) {
            m_lastError = m_scratch->errorString();
            return {};
        }
    }
    return m_scratch->filePath(kCopyName.arg(++m_copies));
}

bool GroupSettings::transact(Access access, const std::function<bool(QSettings &)> &body) const
{
    m_lastError.clear();
    const QFileInfo target(m_path);
    if (access == Access::change && !QDir().mkpath(target.absolutePath())) {
        m_lastError =
            QCoreApplication::translate("GroupSettings", "Couldn't create the folder of the shared settings.");
        return false;
    }
    // QSettings takes this lock file while it writes the file, so a writer that goes through
    // QSettings directly is kept out as well.
    QLockFile lock(m_path + kLockSuffix);
    if (access == Access::change && !acquire(lock, m_path + kLockSuffix, m_lockWait)) {
        m_lastError =
            QCoreApplication::translate("GroupSettings", "The shared settings are in use by another process.");
        return false;
    }

    // QSettings keeps parsed files in a process-wide cache that it trusts while the size and
    // the modification time look unchanged; two writes within one clock tick can leave both
    // unchanged. A fresh copy under a new name is always read from disk.
    const QString copy = nextCopyPath();
    if (copy.isEmpty())
        return false;
    const auto removeCopy = qScopeGuard([&copy] { QFile::remove(copy); });
    // A plain copy: QFile::copy would also flush the scratch file to disk.
    if (target.exists()) {
        QFile original(m_path);
        QFile scratchCopy(copy);
        if (!original.open(QIODevice::ReadOnly) || !scratchCopy.open(QIODevice::WriteOnly) ||
            scratchCopy.write(original.readAll()) < 0 || !scratchCopy.flush()) {
            m_lastError = original.error() != QFileDevice::NoError ? original.errorString() : scratchCopy.errorString();
            return false;
        }
    }

    {
        QSettings settings(copy, QSettings::IniFormat);
        if (!body(settings) || access == Access::read)
            return true;
        settings.sync();
        if (settings.status() == QSettings::AccessError) {
            m_lastError = QCoreApplication::translate("GroupSettings", "Couldn't write the shared settings.");
            return false;
        }
    }

    QFile written(copy);
    if (!written.open(QIODevice::ReadOnly)) {
        m_lastError = written.errorString();
        return false;
    }
    const QByteArray bytes = written.readAll();
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        m_lastError = out.errorString();
        return false;
    }
    return true;
}

qint64 GroupSettings::syncCursor() const
{
    qint64 cursor = SettingsDefaults::syncCursor;
    transact(Access::read, [&](QSettings &settings) {
        cursor = readCursor(settings.value(SettingsKeys::syncCursor));
        return false;
    });
    return cursor;
}

bool GroupSettings::setSyncCursor(qint64 cursor, const QString &store)
{
    return transact(Access::change, [&](QSettings &settings) {
        settings.setValue(SettingsKeys::syncCursor, QString::number(cursor));
        settings.setValue(SettingsKeys::cursorStore, store);
        settings.remove(SettingsKeys::familyRefresh);
        return true;
    });
}

QString GroupSettings::familyRev() const
{
    QString revision = QString::fromUtf16(SettingsDefaults::familyRev);
    transact(Access::read, [&](QSettings &settings) {
        const QVariant value = settings.value(SettingsKeys::familyRev);
        if (value.typeId() == QMetaType::QString)
            revision = value.toString();
        return false;
    });
    return revision;
}

GroupSettings::PullState GroupSettings::pullState() const
{
    PullState state;
    transact(Access::read, [&](QSettings &settings) {
        state.cursor = readCursor(settings.value(SettingsKeys::syncCursor));
        const QVariant revision = settings.value(SettingsKeys::familyRev);
        if (revision.typeId() == QMetaType::QString)
            state.familyRev = revision.toString();
        state.familyRefreshPending =
            readBoolean(settings.value(SettingsKeys::familyRefresh)).value_or(SettingsDefaults::familyRefresh);
        if (const QVariant store = settings.value(SettingsKeys::cursorStore); store.typeId() == QMetaType::QString)
            state.store = store.toString();
        return false;
    });
    return state;
}

bool GroupSettings::setPullState(const PullState &state)
{
    return transact(Access::change, [&](QSettings &settings) {
        settings.setValue(SettingsKeys::syncCursor, QString::number(state.cursor));
        settings.setValue(SettingsKeys::familyRev, state.familyRev);
        settings.setValue(SettingsKeys::cursorStore, state.store);
        if (state.familyRefreshPending)
            settings.setValue(SettingsKeys::familyRefresh, true);
        else
            settings.remove(SettingsKeys::familyRefresh);
        return true;
    });
}

bool GroupSettings::claimCursors(const QString &store)
{
    return transact(Access::change, [&](QSettings &settings) {
        if (settings.contains(SettingsKeys::cursorStore))
            return false;
        settings.setValue(SettingsKeys::cursorStore, store);
        return true;
    });
}

bool GroupSettings::restartForFamilyRev(const QString &familyRev, const QString &store)
{
    return transact(Access::change, [&](QSettings &settings) {
        settings.setValue(SettingsKeys::familyRev, familyRev);
        settings.setValue(SettingsKeys::cursorStore, store);
        settings.setValue(SettingsKeys::syncCursor, QString::number(SettingsDefaults::syncCursor));
        settings.setValue(SettingsKeys::familyRefresh, true);
        return true;
    });
}

bool GroupSettings::familyRefreshPending() const
{
    bool pending = SettingsDefaults::familyRefresh;
    transact(Access::read, [&](QSettings &settings) {
        pending = readBoolean(settings.value(SettingsKeys::familyRefresh)).value_or(SettingsDefaults::familyRefresh);
        return false;
    });
    return pending;
}

bool GroupSettings::removeCursors()
{
    return transact(Access::change, [&](QSettings &settings) {
        settings.remove(SettingsKeys::syncCursor);
        settings.remove(SettingsKeys::familyRev);
        settings.remove(SettingsKeys::cursorStore);
        return true;
    });
}

QString GroupSettings::libraryAccount() const
{
    QString email;
    transact(Access::read, [&](QSettings &settings) {
        const QVariant value = settings.value(SettingsKeys::libraryAccount);
        if (value.typeId() == QMetaType::QString)
            email = value.toString();
        return false;
    });
    return email;
}

bool GroupSettings::setLibraryAccount(const QString &email)
{
    return transact(Access::change, [&](QSettings &settings) {
        settings.setValue(SettingsKeys::libraryAccount, email);
        return true;
    });
}

bool GroupSettings::widgetVisible() const
{
    bool visible = SettingsDefaults::widgetVisible;
    transact(Access::read, [&](QSettings &settings) {
        visible = readBoolean(settings.value(SettingsKeys::widgetVisible)).value_or(SettingsDefaults::widgetVisible);
        return false;
    });
    return visible;
}

bool GroupSettings::setWidgetVisible(bool visible)
{
    return transact(Access::change, [&](QSettings &settings) {
        settings.setValue(SettingsKeys::widgetVisible, visible);
        return true;
    });
}

QStringList GroupSettings::shareInbox() const
{
    QStringList links;
    transact(Access::read, [&](QSettings &settings) {
        links = readLinks(settings.value(SettingsKeys::shareInbox));
        return false;
    });
    return links;
}

QStringList GroupSettings::takeShareInbox()
{
    // Most cycles find the inbox empty: a look without the lock settles that cheaply.
    if (shareInbox().isEmpty())
        return {};
    QStringList links;
    const bool done = transact(Access::change, [&](QSettings &settings) {
        links = readLinks(settings.value(SettingsKeys::shareInbox));
        if (links.isEmpty())
            return false;
        settings.setValue(SettingsKeys::shareInbox, QStringList());
        return true;
    });
    // Links read but not emptied stay in the file; taking them now would add them twice.
    return done ? links : QStringList();
}

bool GroupSettings::appendToShareInbox(const QStringList &links)
{
    if (links.isEmpty())
        return true;
    return transact(Access::change, [&](QSettings &settings) {
        settings.setValue(SettingsKeys::shareInbox, readLinks(settings.value(SettingsKeys::shareInbox)) + links);
        return true;
    });
}

} // namespace clipvane
