#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

namespace clipvane {

// The engine's source of time, so tests can set it.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds since 1970-01-01 00:00 UTC.
    virtual qint64 nowMs() const = 0;

    // Today's date in UTC: the date of nowMs().
    QDate todayUtc() const { return QDateTime::fromMSecsSinceEpoch(nowMs(), QTimeZone::utc()).date(); }
};

} // namespace clipvane
