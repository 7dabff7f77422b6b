#pragma once

#include "domain/Library.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace clipvane::service {

// Fetches the metadata an add could not get, in its own thread, when each video's retry
// falls due. Filled videos are stamped, so clients receive them through the normal pull.
class MetadataWorker
{
public:
    explicit MetadataWorker(Library &library);
    ~MetadataWorker(); // stops and joins
    MetadataWorker(const MetadataWorker &) = delete;
    MetadataWorker &operator=(const MetadataWorker &) = delete;

    void start();
    void stop();
    // Something was queued: look again now.
    void wake();
    // How long the worker sleeps when nothing falls due (call before start).
    void setIdleRecheck(std::chrono::milliseconds recheck) { m_idleRecheck = recheck; }

private:
    void run();

    Library &m_library;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_stopping = false;
    bool m_woken = false;
    std::chrono::milliseconds m_idleRecheck;
    // Declared last: the thread uses every member above until it is joined.
    std::thread m_thread;
};

} // namespace clipvane::service
