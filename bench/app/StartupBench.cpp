// Start-up to the first painted main window, as a user waits for it: from starting the clipvane
// process to its first paint, for a new user (onboarding) and for a signed-in user whose library
// of 100,000 videos is painted in the list, with the application's resident memory at that
// moment and again once its player page has been asked for (the web engine's own processes
// counted apart). Prints the median and slowest of several runs, the largest resident sizes,
// and beside them a plain SQLite load of the same rows in a fresh process, measured in the same
// run: the library's start-up should stay within the onboarding start-up plus twice that load.
#include "AppPaths.h"
#include "PlainRows.h"
#include "ProfileFill.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>

using namespace clipvane;

namespace {

constexpr int kRuns = 7;
constexpr int kRecords = 100000;
constexpr char kLoadOnce[] = "--plain-load-once";
// Long enough after the first paint for the web engine to have started its processes.
constexpr int kSettleMs = 2500;

struct Run
{
    double milliseconds = 0;
    long long residentKilobytes = -1;
    long long settledKilobytes = -1;   // the application once its player page was asked for
    long long webEngineKilobytes = -1; // the web engine's own processes then
};

long long statusKilobytes(qint64 pid)
{
    QFile status(u"/proc/%1/status"_qs.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The processes started by pid and their descendants (the web engine's helpers).
QList<qint64> descendants(qint64 pid)
{
    QList<qint64> found;
    QList<qint64> parents{pid};
    while (!parents.isEmpty()) {
        const qint64 parent = parents.takeFirst();
        const QString tasks = u"/proc/%1/task"_qs.arg(parent);
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(tasks + u'/' + task + u"/children"_qs);
            if (!children.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &child : children.readAll().split(' ')) {
                if (const qint64 id = child.trimmed().toLongLong(); id > 0) {
                    found.append(id);
                    parents.append(id);
                }
            }
        }
    }
    return found;
}

Run firstPaint(const QString &program, const QString &profile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"CLIPVANE_PROFILE"_qs, profile);
    environment.insert(u"CLIPVANE_QUIT_AFTER_FIRST_PAINT"_qs, QString::number(kSettleMs));
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
    // Shortly before the application quits: its memory with the web engine running, and the
    // engine's processes apart.
    QThread::msleep(kSettleMs * 4 / 5);
    run.settledKilobytes = statusKilobytes(process.processId());
    long long engine = 0;
    for (const qint64 child : descendants(process.processId()))
        engine += std::max(0LL, statusKilobytes(child));
    run.webEngineKilobytes = engine;
    process.waitForFinished(30000);
    output += process.readAllStandardOutput();
    const qsizetype at = output.indexOf("resident ");
    if (at >= 0)
        run.residentKilobytes = output.mid(at + 9).split(' ').value(0).toLongLong();
    return run;
}

double report(const char *name, const QString &program, const QString &profile)
{
    firstPaint(program, profile); // warms the file cache
    std::vector<double> runs;
    Run largest;
    for (int i = 0; i < kRuns; ++i) {
        const Run run = firstPaint(program, profile);
        runs.push_back(run.milliseconds);
        largest.residentKilobytes = std::max(largest.residentKilobytes, run.residentKilobytes);
        largest.settledKilobytes = std::max(largest.settledKilobytes, run.settledKilobytes);
        largest.webEngineKilobytes = std::max(largest.webEngineKilobytes, run.webEngineKilobytes);
    }
    std::sort(runs.begin(), runs.end());
    std::printf("%-40s median %7.1f ms   slowest %7.1f ms   (%d runs)\n", name, runs[runs.size() / 2], runs.back(),
                kRuns);
    std::printf("%-40s resident at first paint %.1f MB, with the player started %.1f MB; web engine processes %.1f "
                "MB\n",
                "", largest.residentKilobytes / 1024.0, largest.settledKilobytes / 1024.0,
                largest.webEngineKilobytes / 1024.0);
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], kLoadOnce) == 0)
        return bench::plainLoadOnce(QString::fromLocal8Bit(argv[2]));
    QCoreApplication application(argc, argv);
    AppPaths::initialiseApplicationNames();
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(CLIPVANE_APP_BINARY);
    QTemporaryDir fresh;
    QTemporaryDir full;
    bench::fillSignedInProfile(full.path(), kRecords);
    const double plainLoad =
        bench::medianOfFreshRuns(QCoreApplication::applicationFilePath(), QString::fromLatin1(kLoadOnce),
                                 QDir(full.path()).filePath(u"data/library.sqlite"_qs), kRuns);
    const double onboarding = report("start-up to first paint, onboarding", program, fresh.path());
    const double library = report("start-up to first paint, 100,000 videos", program, full.path());
    std::printf("%-40s median %7.1f ms   (fresh process, same rows)\n", "plain SQLite load, 100,000 rows", plainLoad);
    std::printf("%-40s %7.1f ms = onboarding + %.1f plain loads (aim: at most 2)\n", "library start-up", library,
                (library - onboarding) / plainLoad);
    return 0;
}
