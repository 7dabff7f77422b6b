// Start-up to the first painted main window, as a user waits for it: from starting the clipvane
// process to its first paint, for a new user (onboarding) and for a signed-in user whose library
// holds 100,000 videos. Prints the median and slowest of several runs.
#include "AppPaths.h"
#include "FileSecretStore.h"
#include "SecretStore.h"
#include "SettingsKeys.h"
#include "Video.h"
#include "VideoStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace clipvane;

namespace {

constexpr int kRuns = 7;
constexpr int kRecords = 100000;

double firstPaintMs(const QString &program, const QString &profile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"CLIPVANE_PROFILE"_qs, profile);
    environment.insert(u"CLIPVANE_QUIT_AFTER_FIRST_PAINT"_qs, u"1"_qs);
    // Nothing answers here: the sync that start-up kicks fails at once and costs nothing.
    environment.insert(u"CLIPVANE_API_BASE"_qs, u"http://127.0.0.1:9/api"_qs);
    environment.insert(u"QTWEBENGINE_DISABLE_SANDBOX"_qs, u"1"_qs);
    if (!environment.contains(u"DISPLAY"_qs))
        environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    while (process.waitForReadyRead(30000)) {
        if (process.readAllStandardOutput().contains("first paint"))
            break;
    }
    const double elapsed = clock.nsecsElapsed() / 1e6;
    process.waitForFinished(30000);
    return elapsed;
}

void fillSignedInProfile(const QString &profile)
{
    AppPaths::setProfile(profile);
    QString error;
    {
        auto store = VideoStore::open(AppPaths::storePath(), &error);
        for (int i = 0; i < kRecords; ++i) {
            const QString id = u"bench%1"_qs.arg(i, 6, 10, QLatin1Char('0'));
            store->insert(Video(id, u"Video number %1 about something"_qs.arg(i), u"https://youtu.be/"_qs + id,
                                u"20%1-0%2-1%3"_qs.arg(10 + i % 15).arg(1 + i % 9).arg(i % 10),
                                u"%1:%2"_qs.arg(i % 60).arg(i % 50 + 10), false, u"web"_qs, i, i,
                                SyncStateRaw::synced));
        }
        if (!store->save(&error))
            qFatal("bench: %s", qPrintable(error));
    }
    AppPaths::standardSettings()->setValue(SettingsKeys::onboarded, true);
    FileSecretStore secrets(AppPaths::secretsFilePath());
    secrets.keychainSave(u"bench-token"_qs, SecretKeys::token);
    AppPaths::setProfile(QString());
}

void report(const char *name, const QString &program, const QString &profile)
{
    firstPaintMs(program, profile); // warms the file cache
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i)
        runs.push_back(firstPaintMs(program, profile));
    std::sort(runs.begin(), runs.end());
    std::printf("%-40s median %7.1f ms   slowest %7.1f ms   (%d runs)\n", name, runs[runs.size() / 2], runs.back(),
                kRuns);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    AppPaths::initialiseApplicationNames();
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(CLIPVANE_APP_BINARY);
    QTemporaryDir fresh;
    QTemporaryDir full;
    fillSignedInProfile(full.path());
    report("start-up to first paint, onboarding", program, fresh.path());
    report("start-up to first paint, 100,000 videos", program, full.path());
    return 0;
}
