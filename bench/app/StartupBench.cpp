// Start-up to the first painted main window, as a user waits for it: from starting the clipvane
// process to its first paint, for a new user (onboarding) and for a signed-in user whose library
// of 100,000 videos is painted in the list, with the application's resident memory at that
// moment (the web engine's own processes not included). Prints the median and slowest of
// several runs, and the largest resident size.
#include "AppPaths.h"
#include "ProfileFill.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace clipvane;

namespace {

constexpr int kRuns = 7;
constexpr int kRecords = 100000;

struct Run
{
    double milliseconds = 0;
    long long residentKilobytes = -1;
};

Run firstPaint(const QString &program, const QString &profile)
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
    QByteArray output;
    while (process.waitForReadyRead(30000)) {
        output += process.readAllStandardOutput();
        if (output.contains("first paint"))
            break;
    }
    Run run;
    run.milliseconds = clock.nsecsElapsed() / 1e6;
    process.waitForFinished(30000);
    output += process.readAllStandardOutput();
    const qsizetype at = output.indexOf("resident ");
    if (at >= 0)
        run.residentKilobytes = output.mid(at + 9).split(' ').value(0).toLongLong();
    return run;
}

void report(const char *name, const QString &program, const QString &profile)
{
    firstPaint(program, profile); // warms the file cache
    std::vector<double> runs;
    long long resident = -1;
    for (int i = 0; i < kRuns; ++i) {
        const Run run = firstPaint(program, profile);
        runs.push_back(run.milliseconds);
        resident = std::max(resident, run.residentKilobytes);
    }
    std::sort(runs.begin(), runs.end());
    std::printf("%-40s median %7.1f ms   slowest %7.1f ms   (%d runs)   resident %.1f MB\n", name,
                runs[runs.size() / 2], runs.back(), kRuns, resident / 1024.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    AppPaths::initialiseApplicationNames();
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(CLIPVANE_APP_BINARY);
    QTemporaryDir fresh;
    QTemporaryDir full;
    bench::fillSignedInProfile(full.path(), kRecords);
    report("start-up to first paint, onboarding", program, fresh.path());
    report("start-up to first paint, 100,000 videos", program, full.path());
    return 0;
}
