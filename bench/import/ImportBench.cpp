// Prints: an import of a file of 10,000 video links into a library of 100,000 (wall time, the
// store's saves, peak RSS of the import alone), beside a plain SQLite insert of 10,000 rows into
// a table of 100,000 in one transaction; then the push of those 10,000 to a real
// clipvane-service (wall time, requests), beside bare add requests sent one after another.
//
//   ImportBench [LIBRARY] [LINKS]       (default 100000 10000)

#include "APIClient.h"
#include "GroupSettings.h"
#include "LinkImport.h"
#include "LocalEdits.h"
#include "MemorySecretStore.h"
#include "NetworkWatch.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "SystemClock.h"
#include "Video.h"
#include "VideoStore.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <sqlite3.h>

using namespace clipvane;
using namespace Qt::StringLiterals;

namespace {

constexpr int kBareRequests = 300;

long statusKb(const char *field)
{
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Starts the peak RSS over from the current RSS, so the next peak is the import's own.
void resetPeak()
{
    QFile clear(u"/proc/self/clear_refs"_qs);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QString idOf(const char *prefix, int i)
{
    return QString::fromLatin1(prefix) + QString::number(i).rightJustified(10, u'0');
}

// Child mode: the library of count synced videos, written once.
int fill(const QString &path, int count)
{
    QString error;
    auto store = VideoStore::open(path, &error);
    if (!store)
        return 1;
    for (int i = 0; i < count; ++i) {
        const QString id = idOf("L", i);
        store->insert(Video(id, u"Video "_qs + id, u"https://youtu.be/"_qs + id, u"2024-01-01"_qs, u"3:33"_qs, false,
                            u"local"_qs, 1, 1, SyncStateRaw::synced));
    }
    return store->save(&error) ? 0 : 1;
}

// A plain SQLite insert of rows into a table that holds rows already, in one transaction, on the
// store's journal and sync settings.
double plainInsert(const QString &path, int existing, int rows)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;", nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT NULL UNIQUE, title TEXT NOT NULL,"
                 " url TEXT NOT NULL, upload_date TEXT NOT NULL, sync_state TEXT NOT NULL)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO videos (youtube_id, title, url, upload_date, sync_state) VALUES (?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    const auto insertRows = [&](const char *prefix, int count) {
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (int i = 0; i < count; ++i) {
            const QByteArray id = idOf(prefix, i).toLatin1();
            const QByteArray url = "https://youtu.be/" + id;
            sqlite3_bind_text(insert, 1, id.constData(), int(id.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, "Fetching title…", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 3, url.constData(), int(url.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 4, "2024-01-01", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 5, "needsAdd", -1, SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    };
    insertRows("L", existing);
    QElapsedTimer timer;
    timer.start();
    insertRows("N", rows);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return seconds;
}

// Bare add requests as the push sends them, inFlight at a time: the least a push costs.
double bareAdds(QNetworkAccessManager &network, const QString &apiBase, const QString &token, int count, int inFlight,
                const char *prefix)
{
    QElapsedTimer timer;
    timer.start();
    int sent = 0;
    int done = 0;
    QEventLoop loop;
    std::function<void()> sendNext = [&] {
        QNetworkRequest request(QUrl(apiBase + u"/upsert.php"_qs));
        request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_qs);
        const QJsonObject body{{u"url"_qs, u"https://youtu.be/"_qs + idOf(prefix, sent++)}, {u"title"_qs, u""_qs}};
        QNetworkReply *reply = network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            reply->deleteLater();
            if (++done == count)
                loop.quit();
            else if (sent < count)
                sendNext();
        });
    };
    for (int i = 0; i < std::min(inFlight, count); ++i)
        sendNext();
    loop.exec();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == u"--fill")
        return fill(arguments.value(2), arguments.value(3).toInt());
    const int libraryCount = arguments.size() > 1 ? arguments.value(1).toInt() : 100000;
    const int linkCount = arguments.size() > 2 ? arguments.value(2).toInt() : 10000;

    QTemporaryDir dir;
    const QString storePath = dir.filePath(u"library.sqlite"_qs);
    QProcess filler;
    filler.start(QCoreApplication::applicationFilePath(), {u"--fill"_qs, storePath, QString::number(libraryCount)});
    if (!filler.waitForFinished(600000) || filler.exitCode() != 0) {
        std::fprintf(stderr, "filling the library failed\n");
        return 1;
    }
    const QString linksPath = dir.filePath(u"links.txt"_qs);
    {
        QFile links(linksPath);
        if (!links.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < linkCount; ++i)
            links.write("- watched https://www.youtube.com/watch?v=" + idOf("N", i).toLatin1() + "&t=1 today\n");
    }

    test::ServiceProcess service(QStringLiteral(CLIPVANE_SERVICE_BINARY));
    if (!service.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(service.error()));
        return 1;
    }
    const QString token = service.token(u"bench@example.com"_qs);
    MemorySecretStore secrets;
    secrets.keychainSave(token, SecretKeys::token);
    QNetworkAccessManager network;
    int requests = 0;
    QObject::connect(&network, &QNetworkAccessManager::finished, &network, [&requests] { ++requests; });
    APIClient api(QUrl(service.apiBase()), secrets, network);

    QString error;
    auto store = VideoStore::open(storePath, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    GroupSettings group(dir.filePath(u"group.ini"_qs));
    QSettings standard(dir.filePath(u"standard.ini"_qs), QSettings::IniFormat);
    SystemClock clock;
    NetworkWatch watch;
    // No debounced cycle of its own: the push is started and timed below.
    SyncEngine engine(*store, api, secrets, group, standard, clock, watch, std::chrono::hours(1));

    int saves = 0;
    QObject::connect(store.get(), &VideoStore::saved, store.get(), [&saves] { ++saves; });
    const long loadedKb = statusKb("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    LinkImport import(engine.edits(), {linksPath});
    ImportSummary summary;
    QEventLoop importLoop;
    QObject::connect(&import, &LinkImport::finished, &importLoop, [&](const ImportSummary &done) {
        summary = done;
        importLoop.quit();
    });
    import.start();
    importLoop.exec();
    const double importWall = double(timer.nsecsElapsed()) / 1e9;
    const long importPeakKb = statusKb("VmHWM:");
    if (summary.added != linkCount) {
        std::fprintf(stderr, "the import added %d of %d\n", summary.added, linkCount);
        return 1;
    }
    const double plain = plainInsert(dir.filePath(u"plain.sqlite"_qs), libraryCount, linkCount);
    std::printf("import of %d links into a library of %d: %.3f s wall, %d saves of the store\n", linkCount,
                libraryCount, importWall, saves);
    std::printf("  plain SQLite insert of %d rows into a table of %d, one transaction: %.3f s; import %.1fx that\n",
                linkCount, libraryCount, plain, importWall / plain);
    std::printf("  RSS with the library loaded %.1f MB; peak during the import %.1f MB (+%.1f MB)\n",
                double(loadedKb) / 1024, double(importPeakKb) / 1024, double(importPeakKb - loadedKb) / 1024);

    requests = 0;
    timer.restart();
    QCoro::waitFor(engine.sync());
    const double pushWall = double(timer.nsecsElapsed()) / 1e9;
    const int pushRequests = requests;
    if (engine.hasError() || !store->pending().isEmpty()) {
        std::fprintf(stderr, "the push failed: %s (%lld pending)\n", qPrintable(engine.lastError()),
                     qlonglong(store->pending().size()));
        return 1;
    }
    std::printf("push of %d added videos (and the pull of them) to clipvane-service: %.2f s wall, %d requests\n",
                linkCount, pushWall, pushRequests);
    for (const auto &[inFlight, prefix] : {std::pair{1, "B"}, std::pair{SyncEngine::kAddsInFlight, "C"}}) {
        const double bare = bareAdds(network, service.apiBase(), token, kBareRequests, inFlight, prefix);
        std::printf("  %d bare add requests, %d in flight: %.2f s, %.3f ms each; at that rate %d take %.2f s\n",
                    kBareRequests, inFlight, bare, bare * 1000 / kBareRequests, linkCount,
                    bare * linkCount / kBareRequests);
    }
    return 0;
}
