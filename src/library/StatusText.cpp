#include "StatusText.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cmath>

namespace clipvane::StatusText {

namespace {

// The context is the one lupdate files these texts under: the namespace's full name.
QString tr(const char *text)
{
    return QCoreApplication::translate("clipvane::StatusText", text);
}

constexpr double kPercent = 100;

} // namespace

QString searchPlaceholder(qsizetype count, const QLocale &locale)
{
    return tr("Search %1 videos").arg(locale.toString(qint64(count)));
}

QString countText(qsizetype visible, qsizetype count, const QLocale &locale)
{
    return tr("%1 of %2 videos").arg(locale.toString(qint64(visible)), locale.toString(qint64(count)));
}

Line syncLine(const Sync &sync, const QLocale &locale)
{
    if (sync.syncing) {
        if (!sync.fraction || sync.total < 1)
            return {tr("Syncing…")};
        const double share = std::isfinite(*sync.fraction) ? *sync.fraction : 0.0;
        const auto percent = qint64(std::trunc(std::clamp(share, 0.0, 1.0) * kPercent));
        return {tr("Downloading %1%").arg(percent)};
    }
    if (sync.error)
        return {*sync.error, true};
    if (sync.lastSync.isValid())
        return {tr("Synced %1").arg(shortTime(sync.lastSync.toLocalTime().time(), locale))};
    return {};
}

QString shortTime(const QTime &time, const QLocale &locale)
{
    // A few locales (the C locale among them) put seconds in their short format, which neither a
    // status line nor a settings row should tick through.
    static const QRegularExpression seconds(QStringLiteral("[:.]s{1,2}"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(seconds);
    return locale.toString(time, format);
}

QString downloadText(int received, int total, const QLocale &locale)
{
    if (total < 1)
        return tr("Downloading your library…");
    return tr("%1 of %2 videos").arg(locale.toString(received), locale.toString(total));
}

} // namespace clipvane::StatusText
