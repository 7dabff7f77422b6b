#include "domain/MetadataWorker.h"

#include <algorithm>
#include <cstdio>

namespace clipvane::service {

namespace {
constexpr int kBatch = 20;
constexpr auto kIdleRecheck = std::chrono::minutes(5); // clock jumps and missed wakes heal by themselves
constexpr auto kErrorPause = std::chrono::seconds(5);
} // namespace

MetadataWorker::MetadataWorker(Library &library)
    : m_library(library)
    , m_idleRecheck(kIdleRecheck)
{}

MetadataWorker::~MetadataWorker()
{
    stop();
}

void MetadataWorker::start()
{
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void MetadataWorker::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_condition.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void MetadataWorker::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_condition.notify_all();
}

void MetadataWorker::run()
{
    for (;;) {
        std::chrono::milliseconds pause = m_idleRecheck;
        try {
            const qint64 now = m_library.wallNow();
            const int perCall = m_library.metadataBatchLimit();
            const std::vector<PendingMetadata> due = m_library.dueMetadata(now, std::max(kBatch, perCall));
            for (size_t start = 0; start < due.size(); start += size_t(perCall)) {
                {
                    std::lock_guard lock(m_mutex);
                    if (m_stopping)
                        return;
                }
                const auto from = due.begin() + qsizetype(start);
                m_library.retryMetadata({from, from + qsizetype(std::min(due.size() - start, size_t(perCall)))});
            }
            if (const auto due = m_library.nextMetadataDue()) {
                const qint64 wait = *due - m_library.wallNow();
                pause = std::min<std::chrono::milliseconds>(m_idleRecheck,
                                                            std::chrono::milliseconds(std::max<qint64>(wait, 0)));
            }
        } catch (const std::exception &error) {
            std::fprintf(stderr, "metadata worker: %s\n", error.what());
            pause = kErrorPause;
        }
        std::unique_lock lock(m_mutex);
        m_condition.wait_for(lock, pause, [this] { return m_stopping || m_woken; });
        if (m_stopping)
            return;
        m_woken = false;
    }
}

} // namespace clipvane::service
