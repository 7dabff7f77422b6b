// Prints: a first sync of a 100,000-video library from a real clipvane-service into an empty
// store (wall time for client and service together, client CPU and peak RSS, service peak
// RSS), then the time of a sync with nothing to do. The service runs as its own process on
// this machine; the library is written beforehand by a child process, so neither the filling
// nor the service counts towards the client's memory.
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
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace clipvane;

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
    std::printf("first sync of %d videos: %.2f s wall (target <= 10 s), client CPU %.2f s, %.0f videos/s\n", count,
                firstWall, firstCpu, count / firstWall);
    std::printf("client peak RSS: %.1f MB (target <= 150 MB)\n", double(peakRssKb()) / 1024);

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
    std::printf("sync with nothing to do: median %.1f ms, slowest %.1f ms over %d (target <= 50 ms)\n",
                rounds[rounds.size() / 2], rounds.back(), kNoOpRounds);
    std::printf("service peak RSS: %.1f MB\n", double(peakRssKbOf(service.processId())) / 1024);
    return 0;
}
