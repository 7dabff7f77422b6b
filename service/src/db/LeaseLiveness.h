#pragma once

#include "db/SqlConnection.h"

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace clipvane::service {

// Which stamp leases of a PostgreSQL database may still belong to a running transaction, for
// the pull's "now" (see PgStorage). Whether a lease's connection is gone is read from
// pg_stat_activity at most once a second per instance, however many pulls ask; in between a
// lease not known to be gone counts as live, which only holds a pull back for that moment. A
// lease once seen gone stays gone: its connection never comes back.
//
// A connection missing from pg_stat_activity may have ended by committing, which deletes its
// lease, after the caller's snapshot was taken: that snapshot holds the lease but not the
// rows. Such a lease is gone only when a look taken after the connection ended still finds it
// (then no commit removed it); until then it holds the caller back.
class LeaseLiveness
{
public:
    // Of the given stamps, those whose leases exist now, read in a snapshot of its own.
    using StillLeased = std::function<std::vector<qint64>(const std::vector<qint64> &)>;

    // clock: milliseconds, as the storage's wall clock.
    LeaseLiveness(std::function<qint64()> clock, StillLeased stillLeased);

    // The smallest of the stamps (the leases the caller's snapshot holds, smallest first) that
    // may still be live. Reads pg_stat_activity in the caller's transaction when due.
    std::optional<qint64> oldestLive(SqlConnection &db, const std::vector<qint64> &stamps);

    // For tests of cost: the times pg_stat_activity was read.
    quint64 reads() const;

private:
    static constexpr qint64 kRecheckMs = 1000;

    std::function<qint64()> m_clock;
    StillLeased m_stillLeased;
    mutable std::mutex m_mutex;
    std::optional<qint64> m_readAt;
    std::set<qint64> m_gone; // stamps of leases whose connection ended
    quint64 m_reads = 0;
};

} // namespace clipvane::service
