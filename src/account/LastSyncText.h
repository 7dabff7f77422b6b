#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace clipvane {

// The "Last sync" value: the date in the locale's abbreviated style (day, short month name and
// year, without the weekday) and the time in its short style, without seconds; "—" before the first sync.
class LastSyncText
{
public:
    static QString format(const QDateTime &lastSync, const QLocale &locale = QLocale());
    // The locale's long date pattern without the weekday and with the month name shortened.
    static QString abbreviatedDatePattern(const QLocale &locale);
};

} // namespace clipvane
