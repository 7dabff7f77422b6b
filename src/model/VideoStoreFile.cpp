#include "VideoStore.h"

#include "SqliteDatabase.h"
#include "SqliteStatement.h"
#include "SqliteTransaction.h"
#include "StoreSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>

// The store's file itself: where it lives, the facts kept beside the records, and whole copies.

namespace clipvane {

QString VideoStore::path() const
{
    return QString::fromUtf8(sqlite3_db_filename(m_database->handle(), "main"));
}

QString VideoStore::meta(const QString &key) const
{
    SqliteStatement select(m_database->handle(), StoreSchema::selectMeta());
    select.bind(1, key);
    return select.next() ? select.text(0) : QString();
}

bool VideoStore::setMeta(const QString &key, const QString &value, QString *error)
{
    SqliteStatement upsert(m_database->handle(), StoreSchema::upsertMeta());
    upsert.bind(1, key);
    upsert.bind(2, value);
    if (upsert.run())
        return true;
    if (error)
        *error = m_database->errorText();
    return false;
}

bool VideoStore::copyTo(const QString &path, const QList<std::pair<QString, QString>> &facts, QString *error)
{
    const auto fail = [&](const QString &cause) {
        if (error)
            *error = QCoreApplication::translate("VideoStore", "The library could not be copied to %1: %2")
                         .arg(QDir::toNativeSeparators(path), cause);
        return false;
    };
    if (!save(error))
        return false;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(QStringLiteral("its folder cannot be created"));
    // Written under a name of its own and moved into place whole: a copy cut short by a crash
    // or a full disk is never taken for a kept library.
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    {
        SqliteStatement vacuum(m_database->handle(), "VACUUM INTO ?1");
        vacuum.bind(1, partial);
        if (!vacuum.run())
            return fail(m_database->errorText());
    }
    {
        SqliteDatabase copy;
        if (!copy.open(partial, false) || !copy.execute("PRAGMA synchronous = FULL"))
            return fail(copy.errorText());
        SqliteTransaction transaction(copy);
        SqliteStatement upsert(copy.handle(), StoreSchema::upsertMeta());
        QList<std::pair<QString, QString>> all = facts;
        all.append({QStringLiteral("generation"), QString::fromLatin1(QUuid::createUuid().toRfc4122().toHex())});
        for (const auto &[key, value] : std::as_const(all)) {
            upsert.bind(1, key);
            upsert.bind(2, value);
            if (!upsert.run())
                return fail(copy.errorText());
        }
        if (!transaction.commit())
            return fail(copy.errorText());
    }
    // rename() replaces an older copy in one step: there is always one whole copy at path.
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    return true;
}

} // namespace clipvane
