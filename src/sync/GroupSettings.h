#pragma once

#include "SettingsKeys.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

class QSettings;
class QTemporaryDir;

namespace clipvane {

// The settings file shared by every process of the application family: the pull cursor, the
// family revision, the widget flag and the inbox of links queued by other processes.
//
// Every access re-reads the file, and every change reads and writes it under one lock file
// beside it (the one QSettings itself takes when writing), so a link appended by another
// process between a read and a write is never lost. Changes replace the file atomically, so a
// plain read needs no lock and never sees half a file. Nothing is cached between calls: what
// another process wrote is seen at once.
class GroupSettings
{
public:
    // How long a call waits for another process to finish its change.
    static constexpr std::chrono::milliseconds kLockWait{5000};

    explicit GroupSettings(QString path, std::chrono::milliseconds lockWait = kLockWait);
    ~GroupSettings();

    const QString &path() const { return m_path; }

    // The pull cursor; absent or not a decimal signed 64-bit number: 0.
    qint64 syncCursor() const;
    // The cursor of a completed pull into the store of that generation; it also ends a family
    // refresh, in the same change.
    bool setSyncCursor(qint64 cursor, const QString &store);

    // The family revision of the last pull; absent: "0".
    QString familyRev() const;
    // Stores a new family revision, starts the cursor (of the store of that generation) over and
    // marks a family refresh as under way, in one change.
    bool restartForFamilyRev(const QString &familyRev, const QString &store);
    // A full pull for a new family revision has begun and not yet completed: the records it
    // has not delivered are still those of the earlier revision. Kept across a crash and a
    // sign-out; absent or not a Boolean: false.
    bool familyRefreshPending() const;
    // The three values a pull starts from, in one read.
    struct PullState
    {
        qint64 cursor = SettingsDefaults::syncCursor;
        QString familyRev = QString::fromUtf16(SettingsDefaults::familyRev);
        bool familyRefreshPending = SettingsDefaults::familyRefresh;
        // The generation of the store the cursor describes; empty when a release that did not
        // record it wrote the cursor.
        QString store;
    };
    PullState pullState() const;
    // Puts back the values a pull starts from, for the store of that generation (a library
    // kept for an account coming back).
    bool setPullState(const PullState &state);
    // Forgets the cursor and the family revision (sign-out).
    bool removeCursors();
    // Records that the cursor describes the store of that generation, when nothing is recorded
    // yet (a cursor written by an earlier release, for the store it found).
    bool claimCursors(const QString &store);

    // The account whose records the local store holds (its e-mail address); empty when unknown.
    // It outlives a sign-out, as the records do.
    QString libraryAccount() const;
    bool setLibraryAccount(const QString &email);

    // The service's widget flag; absent or not a Boolean: true.
    bool widgetVisible() const;
    bool setWidgetVisible(bool visible);

    // The links waiting in the inbox, left in place.
    QStringList shareInbox() const;
    // Reads and empties the inbox in one step under the lock. Empty when the lock could not be
    // taken: the links then stay queued for the next call.
    QStringList takeShareInbox();
    // Appends links to the inbox under the lock. False (and nothing written) on failure.
    bool appendToShareInbox(const QStringList &links);

    // What went wrong in the last call that failed.
    const QString &lastError() const { return m_lastError; }

private:
    // Runs body on a private copy of the file; with a change, under the lock, writing the copy
    // back atomically when body returns true. False when the file could not be read or written.
    enum class Access { read, change };
    bool transact(Access access, const std::function<bool(QSettings &)> &body) const;
    // A name for the next private copy, never used before by this object; empty on failure.
    QString nextCopyPath() const;

    QString m_path;
    std::chrono::milliseconds m_lockWait;
    mutable QString m_lastError;
    mutable std::unique_ptr<QTemporaryDir> m_scratch;
    mutable quint64 m_copies = 0;
};

} // namespace clipvane
