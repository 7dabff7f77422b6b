#include "db/Storage.h"

#include "db/PgStorage.h"
#include "db/SqliteStorage.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <thread>

namespace clipvane::service {

WriteTransaction::WriteTransaction(Storage &storage, SqlConnection &db, qint64 wallNow)
    : db(db)
    , m_storage(storage)
    , m_wallNow(wallNow)
{}

qint64 WriteTransaction::stamp()
{
    if (!m_stamp)
        m_stamp = m_storage.takeStamp(*this);
    return *m_stamp;
}

void WriteTransaction::changedFor(qint64 accountId)
{
    stamp();
    if (std::find(m_changed.begin(), m_changed.end(), accountId) == m_changed.end())
        m_changed.push_back(accountId);
}

Storage::Reader::Reader(Storage &storage)
    : storage(storage)
    , connection(storage.beginRead())
    , workAtStart(storage.m_countReadWork ? connection->work() : 0)
{}

Storage::Reader::~Reader()
{
    if (storage.m_countReadWork) {
        try {
            storage.m_readWork += connection->work() - workAtStart;
        } catch (const SqlError &) {
            // A read that failed has no work worth counting.
        }
    }
    storage.endRead(std::move(connection));
}

Storage::Writer::Writer(Storage &storage, int attempt)
    : storage(storage)
    , connection(&storage.beginWrite(attempt))
{}

Storage::Writer::~Writer()
{
    if (open) {
        try {
            storage.rollback(*connection);
        } catch (const SqlError &) {
        }
    }
}

void Storage::Writer::commit(WriteTransaction &transaction)
{
    storage.commit(transaction);
    open = false;
    if (storage.m_changeObserver && !transaction.changedAccounts().empty() && transaction.usedStamp()) {
        try {
            storage.m_changeObserver(transaction.changedAccounts(), *transaction.usedStamp() + 1);
        } catch (const std::exception &) {
            // The write stands; its streams learn of it at their next pull.
        }
    }
}

void Storage::Writer::rollback()
{
    if (open) {
        open = false;
        storage.rollback(*connection);
    }
}

void Storage::backOff(int attempt)
{
    const int ceiling = std::min(1 << std::min(attempt, 6), 64); // milliseconds
    std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(ceiling * 1000)));
}

Storage::Storage(WallClock wallClock, Durability durability)
    : m_wallClock(std::move(wallClock))
    , m_durability(durability)
{}

Storage::~Storage() = default;

std::unique_ptr<Storage> Storage::open(const QString &database, WallClock wallClock, Durability durability)
{
    if (database.startsWith(u"postgresql://") || database.startsWith(u"postgres://"))
        return std::make_unique<PgStorage>(database.toStdString(), std::move(wallClock));
    if (database.startsWith(u"sqlite:") && database.size() > 7)
        return std::make_unique<SqliteStorage>(database.mid(7), std::move(wallClock), durability);
    throw SqlError("unknown database \"" + database.toStdString() + "\": give sqlite:PATH or a postgresql:// address");
}

QString Storage::sqliteIn(const QString &dataDir)
{
    // Every library in one folder: only the service's own user may look in, whatever the umask.
    if (!QDir().mkpath(dataDir))
        throw SqlError("cannot create the data folder " + dataDir.toStdString());
    if (!QFile::setPermissions(dataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        throw SqlError("cannot make " + dataDir.toStdString() + " private");
    return u"sqlite:"_qs + QDir(dataDir).filePath(QStringLiteral("clipvane-service.sqlite"));
}

qint64 Storage::wallNow() const
{
    return m_wallClock ? m_wallClock() : QDateTime::currentMSecsSinceEpoch();
}

} // namespace clipvane::service
