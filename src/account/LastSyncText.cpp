#include "LastSyncText.h"

#include "StatusText.h"

#include <QRegularExpression>

namespace clipvane {

QString LastSyncText::abbreviatedDatePattern(const QLocale &locale)
{
    QString pattern = locale.dateFormat(QLocale::LongFormat);
    // The weekday with the separator that follows it ("dddd, " or "dddd ") or precedes it.
    static const QRegularExpression weekday(QStringLiteral("dddd[,.]?\\s*|,?\\s*dddd"));
    pattern.remove(weekday);
    pattern.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return pattern.trimmed();
}

QString LastSyncText::format(const QDateTime &lastSync, const QLocale &locale)
{
    if (!lastSync.isValid())
        return QStringLiteral("\u2014");
    const QDateTime local = lastSync.toLocalTime();
    return locale.toString(local.date(), abbreviatedDatePattern(locale)) + QLatin1Char(' ') +
           StatusText::shortTime(local.time(), locale);
}

} // namespace clipvane
