// The raw limits on the 100,000 rows the other benchmarks use (the profile of
// clipvane-fill-profile): a plain SQLite load and insert, a plain Qt JSON parse, a plain scan
// and sort. Each figure is the median of a few runs. With --plain-load-once PATH it loads one
// file and prints the milliseconds, for measurements in a fresh process.
#include "AppPaths.h"
#include "PlainRows.h"
#include "ProfileFill.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sqlite3.h>

using namespace clipvane;
using namespace clipvane::bench;

namespace {

constexpr int kRecords = 100000;
constexpr int kRuns = 5;
constexpr char kLoadOnce[] = "--plain-load-once";

void print(const char *name, double milliseconds)
{
    std::printf("%-58s %8.1f ms\n", name, milliseconds);
}

// The rows as the service's pull sends them: one array of objects with snake-case keys.
QByteArray asJson(const std::vector<PlainRow> &rows)
{
    QJsonArray videos;
    for (const PlainRow &row : rows) {
        videos.append(QJsonObject{{u"youtube_id"_qs, row.youtubeID},
                                  {u"title"_qs, row.title},
                                  {u"url"_qs, row.url},
                                  {u"upload_date"_qs, row.uploadDate},
                                  {u"duration"_qs, row.duration},
                                  {u"excluded"_qs, row.excluded},
                                  {u"source"_qs, row.source},
                                  {u"created_at"_qs, row.createdAt},
                                  {u"updated_at"_qs, row.updatedAt},
                                  {u"owner_email"_qs, row.ownerEmail},
                                  {u"read_only"_qs, row.readOnly}});
    }
    return QJsonDocument(QJsonObject{{u"videos"_qs, videos}}).toJson(QJsonDocument::Compact);
}

std::vector<PlainRow> parseJson(const QByteArray &json)
{
    std::vector<PlainRow> rows;
    const QJsonArray videos = QJsonDocument::fromJson(json).object().value(u"videos").toArray();
    rows.reserve(size_t(videos.size()));
    for (const QJsonValue &value : videos) {
        const QJsonObject video = value.toObject();
        rows.push_back({video.value(u"youtube_id").toString(), video.value(u"title").toString(),
                        video.value(u"url").toString(), video.value(u"upload_date").toString(),
                        video.value(u"duration").toString(), video.value(u"excluded").toBool(),
                        video.value(u"source").toString(), video.value(u"created_at").toInteger(),
                        video.value(u"updated_at").toInteger(), QString(), video.value(u"owner_email").toString(),
                        video.value(u"read_only").toBool()});
    }
    return rows;
}

// Every row into a new file: one transaction, one prepared statement, the store's columns.
bool plainInsert(const std::vector<PlainRow> &rows, const QString &path)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db,
                           "CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT NULL UNIQUE, title TEXT, "
                           "url TEXT, upload_date TEXT, duration TEXT, excluded INTEGER, source TEXT, created_at "
                           "INTEGER, updated_at INTEGER, sync_state TEXT, owner_email TEXT, read_only INTEGER);"
                           "BEGIN",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt *insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO videos VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", -1,
                                  &insert, nullptr) == SQLITE_OK;
    const auto text = [&](int index, const QString &value) {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(insert, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    };
    for (size_t i = 0; ok && i < rows.size(); ++i) {
        const PlainRow &row = rows[i];
        text(1, row.youtubeID);
        text(2, row.title);
        text(3, row.url);
        text(4, row.uploadDate);
        text(5, row.duration);
        sqlite3_bind_int(insert, 6, row.excluded);
        text(7, row.source);
        sqlite3_bind_int64(insert, 8, row.createdAt);
        sqlite3_bind_int64(insert, 9, row.updatedAt);
        text(10, row.syncState);
        text(11, row.ownerEmail);
        sqlite3_bind_int(insert, 12, row.readOnly);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The first screen's work done plainly: the rows a default list shows, newest first.
qsizetype plainScanAndSort(const std::vector<PlainRow> &rows)
{
    std::vector<const PlainRow *> kept;
    kept.reserve(rows.size());
    for (const PlainRow &row : rows) {
        if (!row.excluded && row.syncState != u"needsDelete")
            kept.push_back(&row);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const PlainRow *a, const PlainRow *b) {
        if (a->uploadDate != b->uploadDate)
            return a->uploadDate > b->uploadDate;
        return a->createdAt > b->createdAt;
    });
    return qsizetype(kept.size());
}

qsizetype plainSearch(const std::vector<PlainRow> &rows, const QString &word)
{
    qsizetype found = 0;
    for (const PlainRow &row : rows)
        found += row.title.contains(word, Qt::CaseInsensitive) ? 1 : 0;
    return found;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], kLoadOnce) == 0)
        return plainLoadOnce(QString::fromLocal8Bit(argv[2]));
    QCoreApplication application(argc, argv);
    AppPaths::initialiseApplicationNames();
    QTemporaryDir profile;
    bench::fillSignedInProfile(profile.path(), kRecords);
    const QString store = profile.filePath(u"data/library.sqlite"_qs);

    std::vector<PlainRow> rows = plainLoad(store);
    if (rows.size() != size_t(kRecords)) {
        std::fprintf(stderr, "baseline: the filled library has %zu rows\n", rows.size());
        return 1;
    }
    std::printf("raw limits on %d rows, median of %d runs\n", kRecords, kRuns);
    print("plain SQLite load, fresh process",
          medianOfFreshRuns(QCoreApplication::applicationFilePath(), QString::fromLatin1(kLoadOnce), store, kRuns));

    QTemporaryDir scratch;
    int file = 0;
    print("plain SQLite insert (one transaction, one statement)", medianMilliseconds(kRuns, [&] {
              plainInsert(rows, scratch.filePath(QString::number(file++) + u".sqlite"_qs));
          }));

    const QByteArray json = asJson(rows);
    print("plain Qt JSON parse into rows", medianMilliseconds(kRuns, [&] { parseJson(json); }));
    print("plain scan and stable sort, newest first", medianMilliseconds(kRuns, [&] { plainScanAndSort(rows); }));
    print("plain search of every title for one word",
          medianMilliseconds(kRuns, [&] { plainSearch(rows, u"jazz"_qs); }));
    return 0;
}
