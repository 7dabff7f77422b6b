#pragma once

#include <QString>
#include <functional>
#include <vector>

namespace clipvane::bench {

// The raw limits the benchmarks' figures stand beside: what a program does with the same rows
// when it does nothing but the one job, written plainly with the same libraries (SQLite, Qt).

// One row of the library table as plain values.
struct PlainRow
{
    QString youtubeID;
    QString title;
    QString url;
    QString uploadDate;
    QString duration;
    bool excluded = false;
    QString source;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    QString syncState;
    QString ownerEmail;
    bool readOnly = false;
};

// SELECT of every row of the library file at path into a vector (one prepared statement).
std::vector<PlainRow> plainLoad(const QString &path);

// The child-process side of a fresh-process measurement: loads path once and prints the
// milliseconds it took on stdout. Returns the exit status.
int plainLoadOnce(const QString &path);

// Runs program with arguments {flag, path} runs times, each in a fresh process, and returns the
// median of the milliseconds each printed; -1 when a run failed.
double medianOfFreshRuns(const QString &program, const QString &flag, const QString &path, int runs);

// The median milliseconds of runs calls of work.
double medianMilliseconds(int runs, const std::function<void()> &work);

} // namespace clipvane::bench
