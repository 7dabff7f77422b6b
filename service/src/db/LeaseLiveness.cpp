#include "db/LeaseLiveness.h"

#include <algorithm>

namespace clipvane::service {

LeaseLiveness::LeaseLiveness(std::function<qint64()> clock, StillLeased stillLeased)
    : m_clock(std::move(clock))
    , m_stillLeased(std::move(stillLeased))
{}

std::optional<qint64> LeaseLiveness::oldestLive(SqlConnection &db, const std::vector<qint64> &stamps)
{
    std::lock_guard lock(m_mutex);
    // Leases swept away since are forgotten, so the set stays as small as the lease table.
    std::erase_if(m_gone, [&](qint64 stamp) { return !std::binary_search(stamps.begin(), stamps.end(), stamp); });
    const auto oldest = [&]() -> std::optional<qint64> {
        for (const qint64 stamp : stamps)
            if (!m_gone.count(stamp))
                return stamp;
        return std::nullopt;
    };
    const std::optional<qint64> candidate = oldest();
    const qint64 now = m_clock();
    const bool fresh = m_readAt && now >= *m_readAt && now - *m_readAt < kRecheckMs;
    if (!candidate || fresh)
        return candidate;
    // The snapshot held these leases before pg_stat_activity is read (its first use in the
    // transaction), so a lease whose connection is missing there belongs to one that ended;
    // whether it ended without committing, a fresh look at the leases tells.
    std::vector<qint64> ended;
    auto missing = db.prepare("SELECT l.stamp FROM stamp_leases l WHERE NOT EXISTS (SELECT 1 FROM "
                              "pg_stat_activity a WHERE a.pid = l.backend_pid AND a.backend_start = l.backend_start)");
    while (missing.step())
        ended.push_back(missing.int64(0));
    if (!ended.empty())
        for (const qint64 stamp : m_stillLeased(ended))
            m_gone.insert(stamp);
    m_readAt = now;
    ++m_reads;
    return oldest();
}

quint64 LeaseLiveness::reads() const
{
    std::lock_guard lock(m_mutex);
    return m_reads;
}

} // namespace clipvane::service
