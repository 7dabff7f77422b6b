// Prints how long a video added through the service's HTTP API by one client takes to reach
// another client's library (its store) while that client holds the live change stream: p50 and
// p99 over N writes, beside the plain HTTP round trip of the same write measured in the same run.
// The reading client is the application's own library session, with the application's debounce
// unless --debounce says otherwise, so the figure is what a user sees between two devices.
//
//   LiveChangeBench [--writes N] [--debounce MS]
//                   [--write-api URL] [--read-api URL] [--token TOKEN]
//
// Without URLs it starts a clipvane-service of its own (SQLite in a temporary folder). With
// them it writes through the first and reads through the second (two instances sharing one
// PostgreSQL database, say); the token belongs to any user of that database (`clipvane-service
// token EMAIL --database URL`). CLIPVANE_BENCH_WRITE_API, CLIPVANE_BENCH_READ_API and
// CLIPVANE_BENCH_TOKEN stand in for the options. A service without the change stream ends the
// run with status 1.

#include "APIClient.h"
#include "ChangeStream.h"
#include "LibrarySession.h"
#include "MemorySecretStore.h"
#include "SecretStore.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "VideoStore.h"
#include "WaitForTask.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace clipvane;
using namespace Qt::StringLiterals;

namespace {

constexpr int kDefaultWrites = 100;
constexpr int kArrivalTimeoutMs = 30000;
constexpr int kOpenTimeoutMs = 15000;

struct Options
{
    int writes = kDefaultWrites;
    int debounceMs = int(SyncEngine::kDebounce.count());
    QString writeApi = qEnvironmentVariable("CLIPVANE_BENCH_WRITE_API");
    QString readApi = qEnvironmentVariable("CLIPVANE_BENCH_READ_API");
    QString token = qEnvironmentVariable("CLIPVANE_BENCH_TOKEN");
};

bool parse(const QStringList &arguments, Options &options)
{
    for (qsizetype i = 0; i + 1 < arguments.size(); i += 2) {
        const QString &name = arguments.at(i);
        const QString &value = arguments.at(i + 1);
        if (name == u"--writes")
            options.writes = std::max(1, value.toInt());
        else if (name == u"--debounce")
            options.debounceMs = std::max(0, value.toInt());
        else if (name == u"--write-api")
            options.writeApi = value;
        else if (name == u"--read-api")
            options.readApi = value;
        else if (name == u"--token")
            options.token = value;
        else
            return false;
    }
    return arguments.size() % 2 == 0;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = std::min(values.size() - 1, std::size_t(share * double(values.size() - 1) + 0.5));
    return values[at];
}

// An 11-character video ID of its own for each write of each run.
QString videoID(int run, int write)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
    quint64 value = quint64(run) * 100000 + quint64(write);
    QString id;
    for (int i = 0; i < 11; ++i) {
        id.append(QLatin1Char(alphabet[value % 64]));
        value /= 64;
    }
    return id;
}

// Runs the event loop until done() holds or the time is up; false then.
template<typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Options options;
    if (!parse(QCoreApplication::arguments().mid(1), options)) {
        std::fprintf(stderr, "usage: LiveChangeBench [--writes N] [--debounce MS] [--write-api URL] [--read-api URL] "
                             "[--token TOKEN]\n");
        return 2;
    }

    std::unique_ptr<test::ServiceProcess> service;
    if (options.writeApi.isEmpty() && options.readApi.isEmpty()) {
        QProcessEnvironment environment;
        // No metadata provider is reachable from a benchmark: ask one that refuses at once.
        environment.insert(u"CLIPVANE_OEMBED_BASE"_qs, u"http://127.0.0.1:9/oembed"_qs);
        service = std::make_unique<test::ServiceProcess>(QStringLiteral(CLIPVANE_SERVICE_BINARY), environment);
        if (!service->start()) {
            std::fprintf(stderr, "LiveChangeBench: the service did not start: %s\n", qPrintable(service->error()));
            return 1;
        }
        options.writeApi = options.readApi = service->apiBase();
        options.token = service->token(u"bench@example.com"_qs);
    } else {
        if (options.writeApi.isEmpty())
            options.writeApi = options.readApi;
        if (options.readApi.isEmpty())
            options.readApi = options.writeApi;
        if (options.token.isEmpty()) {
            std::fprintf(stderr, "LiveChangeBench: a service of your own needs --token (or CLIPVANE_BENCH_TOKEN)\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    QNetworkAccessManager network;
    MemorySecretStore secrets;
    secrets.keychainSave(options.token, SecretKeys::token);
    APIClient writer(QUrl(options.writeApi), secrets, network);

    LibrarySession::Options reading;
    reading.apiBase = QUrl(options.readApi);
    reading.storePath = dir.filePath(u"library.sqlite"_qs);
    reading.groupSettingsPath = dir.filePath(u"group.ini"_qs);
    reading.standardSettingsPath = dir.filePath(u"standard.ini"_qs);
    reading.secrets = &secrets;
    reading.network = &network;
    reading.debounce = std::chrono::milliseconds(options.debounceMs);
    reading.liveChanges = true;
    QString error;
    const std::unique_ptr<LibrarySession> session = LibrarySession::open(reading, &error);
    if (!session) {
        std::fprintf(stderr, "LiveChangeBench: %s\n", qPrintable(error));
        return 1;
    }
    SyncEngine &engine = session->engine();
    ChangeStream &stream = *session->changeStream();
    QCoro::waitFor(engine.sync());
    if (engine.hasError()) {
        std::fprintf(stderr, "LiveChangeBench: the reading client's sync failed: %s\n", qPrintable(engine.lastError()));
        return 1;
    }
    waitUntil([&] { return stream.state() != ChangeStream::State::connecting; }, kOpenTimeoutMs);
    if (stream.state() != ChangeStream::State::open) {
        std::fprintf(stderr,
                     stream.state() == ChangeStream::State::unavailable
                         ? "LiveChangeBench: %s has no live change stream (events.php is missing)\n"
                         : "LiveChangeBench: the change stream of %s did not open\n",
                     qPrintable(options.readApi));
        return 1;
    }

    const int run = int(QDateTime::currentSecsSinceEpoch() % 100000);
    std::vector<double> roundTrips;
    std::vector<double> arrivals;
    int missed = 0;
    for (int i = 0; i < options.writes; ++i) {
        const QString id = videoID(run, i);
        QElapsedTimer clock;
        clock.start();
        const auto written =
            test::waitForTask(writer.upsert(u"https://youtu.be/"_qs + id, u"Live change %1"_qs.arg(i)));
        const double roundTrip = double(clock.nsecsElapsed()) / 1e6;
        if (!written) {
            std::fprintf(stderr, "LiveChangeBench: write %d failed: %s\n", i,
                         qPrintable(written.error().description()));
            return 1;
        }
        if (!waitUntil([&] { return session->store().find(id) != nullptr; }, kArrivalTimeoutMs)) {
            ++missed;
            continue;
        }
        roundTrips.push_back(roundTrip);
        arrivals.push_back(double(clock.nsecsElapsed()) / 1e6);
        // The reading client's cycle ends before the next write, so each write is measured alone.
        waitUntil([&] { return !engine.syncing(); }, kArrivalTimeoutMs);
    }

    std::printf("A video added by one client, until it is in another client's library (%d writes, "
                "debounce %d ms; write through %s, read through %s)\n",
                options.writes, options.debounceMs, qPrintable(options.writeApi), qPrintable(options.readApi));
    std::printf("  %-44s p50 %9.1f ms   p99 %9.1f ms\n", "the write's HTTP round trip (baseline)",
                percentile(roundTrips, 0.5), percentile(roundTrips, 0.99));
    std::printf("  %-44s p50 %9.1f ms   p99 %9.1f ms\n", "in the other client's store (live stream)",
                percentile(arrivals, 0.5), percentile(arrivals, 0.99));
    std::printf("  %-44s %d\n", "writes that never arrived (30 s)", missed);
    return missed == 0 ? 0 : 1;
}
