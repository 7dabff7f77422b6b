#pragma once

#include <QString>
#include <chrono>
#include <memory>

class QLockFile;

namespace clipvane {

// The right to change the local library: one process of the application family at a time
// (the application, or a clipvane-cli command that writes). Held from acquire() until
// destroyed. A lock left behind by a process that died is taken over.
class StoreLock
{
public:
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

    // Takes the lock beside the store at storePath, waiting up to `wait` for another holder to
    // let go. Null, with a message for the user, when another live process holds it or the lock
    // file cannot be written.
    static std::unique_ptr<StoreLock> acquire(const QString &storePath, QString *error,
                                              std::chrono::milliseconds wait = {});

    static QString lockPath(const QString &storePath);

private:
    explicit StoreLock(std::unique_ptr<QLockFile> file);

    std::unique_ptr<QLockFile> m_file;
};

} // namespace clipvane
