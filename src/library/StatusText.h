#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <optional>

namespace clipvane {

// The texts of the library column that follow the counts and the sync: the search field's
// placeholder, the status line and the empty library's progress. Numbers are grouped in the
// given locale ("1,250"), times are its short time.
namespace StatusText {

// What the status line shows of the sync.
struct Sync
{
    bool syncing = false;
    std::optional<double> fraction; // share of the pull received, when a total is known
    int total = 0;
    std::optional<QString> error;
    QDateTime lastSync;
};

struct Line
{
    QString text;
    bool isError = false;
    bool operator==(const Line &) const = default;
};

QString searchPlaceholder(qsizetype count, const QLocale &locale);
// "12 of 340 videos".
QString countText(qsizetype visible, qsizetype count, const QLocale &locale);
Line syncLine(const Sync &sync, const QLocale &locale);
// The empty library while the first sync runs.
QString downloadText(int received, int total, const QLocale &locale);
// The locale's short time, without seconds even where its short format has them.
QString shortTime(const QTime &time, const QLocale &locale);

} // namespace StatusText

} // namespace clipvane
