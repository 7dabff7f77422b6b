#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

namespace clipvane {

// The right to change the local library: one process of the application family at a time
// (the application, or a clipvane-cli command that writes). Held from acquire() until
// destroyed.
//
// The lock is the kernel's lock on the lock file, which ends with the process that holds it:
// a process that crashed or was killed leaves no lock behind, even when its process ID has
// since been given to another program. The file names the holder for messages only.
class StoreLock
{
public:
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

    enum class Failure {
        none,
        inUse,       // another live process holds the lock
        notWritable, // the folder or the lock file cannot be written (permissions, a read-only disk)
        other,
    };

    // Takes the lock beside the store at storePath, waiting up to `wait` for another holder to
    // let go; waiting, when there is a wait, is called once as the wait begins, with the holder
    // as its lock file names it ("clipvane, pid 42"; empty when it names none). Null, with a message for the user and
    // the kind of failure, when another live process holds it or the lock file cannot be written.
    static std::unique_ptr<StoreLock> acquire(const QString &storePath, QString *error,
                                              std::chrono::milliseconds wait = {}, Failure *failure = nullptr,
                                              const std::function<void(const QString &holder)> &waiting = {});

    static QString lockPath(const QString &storePath);

private:
    explicit StoreLock(int fd);

    int m_fd;
};

} // namespace clipvane
