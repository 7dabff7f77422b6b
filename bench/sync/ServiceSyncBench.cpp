// Prints: a first sync of a 100,000-video library from a real clipvane-service into an empty
// store (wall time for client and service together, client CPU and peak RSS, service peak
// RSS), then the time of a sync with nothing to do. The service runs as its own process on
// this machine; the library is written beforehand by a child process, so neither the filling
// nor the service counts towards the client's memory.
//
// Each figure stands beside a plain baseline measured in the same run: the first sync beside
// the least any client must spend on those pages (a plain JSON parse of each page and a plain
// SQLite insert of its rows, one transaction per page as the store saves them), the sync with
// nothing to do beside one bare request for the same empty page.
//
//   ServiceSyncBench [COUNT]            (default 100000)

#include "APIClient.h"
#include "GroupSettings.h"
#include "LibraryFill.h"
#include "MemorySecretStore.h"
#include "NetworkWatch.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "SystemClock.h"
#include "VideoStore.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <algorithm>
#include <cstdio>
#include <sqlite3.h>
#include <sys/resource.h>
#include <vector>

using namespace clipvane;
using namespace Qt::StringLiterals;

namespace {

constexpr int kNoOpRounds = 30;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// VmHWM of another process, in kB; 0 when unknown.
long peakRssKbOf(qint64 pid)
{
    QFile status(u"/proc/%1/status"_qs.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Child mode: writes the library and prints the owner's token.
int fill(const QString &dataDir, int count)
{
    const auto storage = service::Storage::open(service::Storage::sqliteIn(dataDir));
    service::Accounts accounts(*storage);
    const QString token = accounts.issueToken(u"bench@example.com"_qs);
    service::bench::fillLibrary(*storage, *accounts.authenticate(token), count, 1000);
    std::printf("%s\n", qPrintable(token));
    return 0;
}

QByteArray get(QNetworkAccessManager &network, const QUrl &url, const QString &token)
{
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    QNetworkReply *reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

// Every page of the library as the service sends it, paged as the engine pages.
QList<QByteArray> fetchPages(QNetworkAccessManager &network, const QString &apiBase, const QString &token)
{
    QList<QByteArray> pages;
    qint64 since = 0;
    qint64 afterID = 0;
    for (;;) {
        QUrl url(apiBase + u"/videos.php"_qs);
        url.setQuery(QUrlQuery{{u"since"_qs, QString::number(since)},
                               {u"after_id"_qs, QString::number(afterID)},
                               {u"limit"_qs, QString::number(SyncEngine::kPageLimit)}});
        pages.append(get(network, url, token));
        const QJsonArray rows = QJsonDocument::fromJson(pages.last()).object().value(u"videos"_qs).toArray();
        if (rows.size() < SyncEngine::kPageLimit)
            return pages;
        since = rows.last()[u"updated_at"_qs].toInteger();
        afterID = rows.last()[u"id"_qs].toInteger();
    }
}

void bindText(sqlite3_stmt *statement, int index, const QJsonObject &row, QLatin1String key)
{
    const QByteArray text = row.value(key).toString().toUtf8();
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

// The least a client must spend on the pages: parse each once, insert its rows through one
// prepared statement in one transaction, on the store's journal and sync settings.
double plainParseAndInsert(const QList<QByteArray> &pages, const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;", nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT NULL UNIQUE, title TEXT NOT NULL,"
                 " url TEXT NOT NULL, upload_date TEXT NOT NULL, duration TEXT NOT NULL, excluded INTEGER NOT NULL,"
                 " source TEXT NOT NULL, created_at INTEGER NOT NULL, updated_at INTEGER NOT NULL,"
                 " sync_state TEXT NOT NULL, owner_email TEXT NOT NULL, read_only INTEGER NOT NULL)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO videos (youtube_id, title, url, upload_date, duration, excluded, source,"
                       " created_at, updated_at, sync_state, owner_email, read_only)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 'synced', ?, ?)",
                       -1, &insert, nullptr);

    QElapsedTimer timer;
    timer.start();
    for (const QByteArray &page : pages) {
        const QJsonArray rows = QJsonDocument::fromJson(page).object().value(u"videos"_qs).toArray();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (const QJsonValue &value : rows) {
            const QJsonObject row = value.toObject();
            bindText(insert, 1, row, "youtube_id"_L1);
            bindText(insert, 2, row, "title"_L1);
            bindText(insert, 3, row, "url"_L1);
            bindText(insert, 4, row, "upload_date"_L1);
            bindText(insert, 5, row, "duration"_L1);
            sqlite3_bind_int64(insert, 6, row.value("excluded"_L1).toInteger());
            bindText(insert, 7, row, "source"_L1);
            sqlite3_bind_int64(insert, 8, row.value("created_at"_L1).toInteger());
            sqlite3_bind_int64(insert, 9, row.value("updated_at"_L1).toInteger());
            bindText(insert, 10, row, "owner_email"_L1);
            sqlite3_bind_int64(insert, 11, row.value("read_only"_L1).toInteger());
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == u"--fill")
        return fill(arguments.value(2), arguments.value(3).toInt());
    const int count = arguments.size() > 1 ? arguments.value(1).toInt() : 100000;

    QTemporaryDir data;
    QElapsedTimer timer;
    timer.start();
    QProcess filler;
    filler.start(QCoreApplication::applicationFilePath(), {u"--fill"_qs, data.path(), QString::number(count)});
    if (!filler.waitForFinished(600000) || filler.exitCode() != 0) {
        std::fprintf(stderr, "filling the library failed: %s\n", filler.readAllStandardError().constData());
        return 1;
    }
    const QString token = QString::fromUtf8(filler.readAllStandardOutput()).trimmed();
    std::printf("library of %d videos written in %.1f s\n", count, double(timer.elapsed()) / 1000);

    test::ServiceProcess service(QStringLiteral(CLIPVANE_SERVICE_BINARY), {}, data.path());
    if (!service.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(service.error()));
        return 1;
    }

    QTemporaryDir client;
    MemorySecretStore secrets;
    secrets.keychainSave(token, SecretKeys::token);
    QNetworkAccessManager network;
    APIClient api(QUrl(service.apiBase()), secrets, network);
    QString error;
    auto store = VideoStore::open(client.filePath(u"library.sqlite"_qs), &error);
    GroupSettings group(client.filePath(u"group.ini"_qs));
    QSettings standard(client.filePath(u"standard.ini"_qs), QSettings::IniFormat);
    SystemClock clock;
    NetworkWatch watch;
    SyncEngine engine(*store, api, secrets, group, standard, clock, watch);

    const double cpuBefore = cpuSeconds();
    timer.restart();
    QCoro::waitFor(engine.sync());
    const double firstWall = double(timer.nsecsElapsed()) / 1e9;
    const double firstCpu = cpuSeconds() - cpuBefore;
    if (engine.hasError() || store->all().size() != count) {
        std::fprintf(stderr, "the first sync failed: %s (%lld videos)\n", qPrintable(engine.lastError()),
                     qlonglong(store->all().size()));
        return 1;
    }
    const long clientPeakKb = peakRssKb();
    // Fetched after the sync, so the pages held here do not count towards the client's memory.
    QTemporaryDir plain;
    const QList<QByteArray> pages = fetchPages(network, service.apiBase(), token);
    const double limit = plainParseAndInsert(pages, plain.filePath(u"plain.sqlite"_qs));
    std::printf("first sync of %d videos: %.2f s wall (target <= 10 s), client CPU %.2f s, %.0f videos/s\n", count,
                firstWall, firstCpu, count / firstWall);
    std::printf("  limit (plain JSON parse + SQLite insert of the same %lld pages): %.2f s; wall %.1fx, client CPU "
                "%.1fx the limit (target <= 2.0x)\n",
                qlonglong(pages.size()), limit, firstWall / limit, firstCpu / limit);
    std::printf("client peak RSS: %.1f MB (target <= 150 MB)\n", double(clientPeakKb) / 1024);

    std::vector<double> rounds;
    for (int round = 0; round < kNoOpRounds; ++round) {
        timer.restart();
        QCoro::waitFor(engine.sync());
        rounds.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (engine.hasError()) {
            std::fprintf(stderr, "a sync with nothing to do failed: %s\n", qPrintable(engine.lastError()));
            return 1;
        }
    }
    std::sort(rounds.begin(), rounds.end());

    // The same request the idle sync makes, alone.
    std::vector<double> bare;
    QUrl emptyPage(service.apiBase() + u"/videos.php"_qs);
    emptyPage.setQuery(QUrlQuery{{u"since"_qs, QString::number(group.syncCursor())},
                                 {u"after_id"_qs, u"0"_qs},
                                 {u"limit"_qs, QString::number(SyncEngine::kPageLimit)}});
    for (int round = 0; round < kNoOpRounds; ++round) {
        timer.restart();
        get(network, emptyPage, token);
        bare.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(bare.begin(), bare.end());
    std::printf("sync with nothing to do: median %.1f ms, slowest %.1f ms over %d (target <= 3 ms); one bare request "
                "for the same page: median %.2f ms\n",
                rounds[rounds.size() / 2], rounds.back(), kNoOpRounds, bare[bare.size() / 2]);
    std::printf("service peak RSS: %.1f MB\n", double(peakRssKbOf(service.processId())) / 1024);
    return 0;
}
