#include "PlainRows.h"

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <sqlite3.h>

namespace clipvane::bench {

namespace {

QString column(sqlite3_stmt *statement, int index)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, index)),
                             sqlite3_column_bytes(statement, index));
}

} // namespace

std::vector<PlainRow> plainLoad(const QString &path)
{
    std::vector<PlainRow> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt *count = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM videos", -1, &count, nullptr) == SQLITE_OK &&
        sqlite3_step(count) == SQLITE_ROW)
        rows.reserve(size_t(sqlite3_column_int64(count, 0)));
    sqlite3_finalize(count);
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT youtube_id, title, url, upload_date, duration, excluded, source, created_at, "
                           "updated_at, sync_state, owner_email, read_only FROM videos ORDER BY id",
                           -1, &select, nullptr) == SQLITE_OK) {
        while (sqlite3_step(select) == SQLITE_ROW) {
            rows.push_back({column(select, 0), column(select, 1), column(select, 2), column(select, 3),
                            column(select, 4), sqlite3_column_int(select, 5) != 0, column(select, 6),
                            sqlite3_column_int64(select, 7), sqlite3_column_int64(select, 8), column(select, 9),
                            column(select, 10), sqlite3_column_int(select, 11) != 0});
        }
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}

int plainLoadOnce(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    const std::vector<PlainRow> rows = plainLoad(path);
    std::printf("%.1f\n", double(clock.nsecsElapsed()) / 1e6);
    return rows.empty() ? 1 : 0;
}

double medianOfFreshRuns(const QString &program, const QString &flag, const QString &path, int runs)
{
    std::vector<double> figures;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.start(program, {flag, path});
        if (!child.waitForFinished(60000) || child.exitCode() != 0)
            return -1;
        figures.push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

double medianMilliseconds(int runs, const std::function<void()> &work)
{
    std::vector<double> figures;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        figures.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

} // namespace clipvane::bench
