#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace clipvane::service {

// A fixed set of threads for work that may block (storage, outside services), so the
// event loop that reads and writes the sockets never waits on it.
class WorkerPool
{
public:
    explicit WorkerPool(int threads);
    ~WorkerPool(); // runs what is queued, then joins
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void post(std::function<void()> job);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads; // last: they use every member above
};

} // namespace clipvane::service
