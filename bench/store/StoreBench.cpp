// Figures for the local library: opening a store of 100,000 records (time and peak resident
// memory), reading one page of 600 records, wiping every synced record, saving one page.
#include "PlainRows.h"
#include "VideoStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <sys/resource.h>

using namespace clipvane;

namespace {

constexpr int kRecords = 100000;
constexpr int kPage = 600;
constexpr char kOpenOnce[] = "--open-once";
constexpr char kPlainLoadOnce[] = "--plain-load-once";

// Resident-set figures of this process in MiB, from /proc/self/status ("VmHWM", "VmRSS").
double statusMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

QString randomID(QRandomGenerator &random)
{
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_");
    QString id(11, Qt::Uninitialized);
    for (QChar &c : id)
        c = alphabet.at(random.bounded(int(alphabet.size())));
    return id;
}

Video randomVideo(QRandomGenerator &random, int index)
{
    static const QStringList words = {u"How"_qs,     u"to"_qs,       u"build"_qs,  u"a"_qs,    u"guitar"_qs,
                                      u"amp"_qs,     u"—"_qs,        u"review"_qs, u"Köln"_qs, u"live"_qs,
                                      u"session"_qs, u"tutorial"_qs, u"(2019)"_qs, u"part"_qs, u"3"_qs,
                                      u"the"_qs,     u"best"_qs,     u"of"_qs,     u"jazz"_qs, u"„Zugabe“"_qs};
    static const QStringList sources = {u"ios"_qs, u"telegram"_qs, u"web"_qs, u"share"_qs};
    static const QStringList owners = {u"anna@example.com"_qs, u"ben@example.org"_qs};

    const QString id = randomID(random) + QString::number(index, 36);
    QStringList title;
    for (int i = 0, n = 3 + random.bounded(9); i < n; ++i)
        title.append(words.at(random.bounded(int(words.size()))));
    const int seconds = random.bounded(4 * 3600);
    const QString duration = seconds >= 3600 ? u"%1:%2:%3"_qs.arg(seconds / 3600)
                                                   .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                                   .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                                             : u"%1:%2"_qs.arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    const QString date = u"%1-%2-%3"_qs.arg(2006 + random.bounded(20))
                             .arg(1 + random.bounded(12), 2, 10, QLatin1Char('0'))
                             .arg(1 + random.bounded(28), 2, 10, QLatin1Char('0'));
    const qint64 created = 1'200'000'000'000 + qint64(random.bounded(600'000'000)) * 1000;
    Video video(id, title.join(QLatin1Char(' ')), u"https://www.youtube.com/watch?v="_qs + id, date, duration,
                random.bounded(20) == 0, sources.at(random.bounded(int(sources.size()))), created, created + 5000,
                random.bounded(50) == 0 ? u"needsPatch"_qs : u"synced"_qs);
    if (random.bounded(10) == 0) {
        video.ownerEmail = owners.at(random.bounded(int(owners.size())));
        video.readOnly = true;
    }
    return video;
}

// One store file of kRecords records, written once per run; benchmarks that change it work
// on a ScratchCopy. CLIPVANE_BENCH_STORE names a file to keep (and reuse) between runs, for
// profiling the open on its own: bench_store --open-once <file>.
const QString &storePath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString kept = qEnvironmentVariable("CLIPVANE_BENCH_STORE");
        const QString file = kept.isEmpty() ? dir.filePath(QStringLiteral("library.sqlite")) : kept;
        if (!kept.isEmpty() && QFile::exists(kept))
            return file;
        QString error;
        auto store = VideoStore::open(file, &error);
        if (!store)
            qFatal("%s", qPrintable(error));
        QRandomGenerator random(20240601);
        for (int i = 0; i < kRecords; ++i)
            store->insert(randomVideo(random, i));
        if (!store->save(&error))
            qFatal("%s", qPrintable(error));
        return file;
    }();
    return path;
}

std::unique_ptr<VideoStore> openOrDie(const QString &path)
{
    QString error;
    auto store = VideoStore::open(path, &error);
    if (!store)
        qFatal("%s", qPrintable(error));
    return store;
}

// A private copy of the store file, so that what a benchmark removes or saves (a store also
// writes its pending changes when it is closed) never reaches the next one.
class ScratchCopy
{
public:
    ScratchCopy()
        : m_path(m_dir.filePath(QStringLiteral("library.sqlite")))
    {
        if (!QFile::copy(storePath(), m_path))
            qFatal("cannot copy the store");
    }
    const QString &path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// What a row of the list reads from a record.
qint64 readRow(const Video &video)
{
    return video.title.size() + video.yearText().size() + video.durationSeconds() + video.source.size() +
           video.ownerEmail.size() + int(video.excluded) + int(video.isPending());
}

void BM_Open100k(benchmark::State &state)
{
    const QString &path = storePath();
    qsizetype loaded = 0;
    for (auto _ : state) {
        auto store = openOrDie(path);
        loaded = store->all().size();
        benchmark::DoNotOptimize(loaded);
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.counters["records"] = double(loaded);
}
BENCHMARK(BM_Open100k)->Unit(benchmark::kMillisecond)->Iterations(5);

// The open again, in a fresh copy of this program, so that the peak resident memory is that
// of a process that did nothing but open the store (as the application does at start-up).
// Beside it, a plain SQLite load of the same file into a vector, also in a fresh process: the
// open should stay within one and a half times that.
void BM_Open100kFreshProcess(benchmark::State &state)
{
    const QString &path = storePath();
    std::vector<double> opens;
    QList<QByteArray> figures;
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kOpenOnce), path});
        if (!child.waitForFinished(60000) || child.exitCode() != 0) {
            state.SkipWithError("the measuring process failed");
            return;
        }
        figures = child.readAllStandardOutput().trimmed().split(' ');
        opens.push_back(figures.value(0).toDouble());
    }
    std::sort(opens.begin(), opens.end());
    const double plain = bench::medianOfFreshRuns(QCoreApplication::applicationFilePath(),
                                                  QString::fromLatin1(kPlainLoadOnce), path, int(opens.size()));
    state.counters["open_ms"] = opens[opens.size() / 2];
    state.counters["plain_load_ms"] = plain;
    state.counters["open_per_plain_load"] = opens[opens.size() / 2] / plain;
    state.counters["peak_rss_MiB"] = figures.value(1).toDouble();
    state.counters["rss_before_open_MiB"] = figures.value(2).toDouble();
    state.counters["rss_after_open_MiB"] = figures.value(3).toDouble();
    state.counters["open_cpu_ms"] = figures.value(4).toDouble();
}
BENCHMARK(BM_Open100kFreshProcess)->Unit(benchmark::kMillisecond)->Iterations(5);

double cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

int openOnce(const QString &path)
{
    const double before = statusMiB("VmRSS:");
    const double cpuBefore = cpuMilliseconds();
    QElapsedTimer timer;
    timer.start();
    auto store = openOrDie(path);
    const double milliseconds = double(timer.nsecsElapsed()) / 1e6;
    const double openCpuMilliseconds = cpuMilliseconds() - cpuBefore;
    std::printf("%.1f %.1f %.1f %.1f %.1f\n", milliseconds, statusMiB("VmHWM:"), before, statusMiB("VmRSS:"),
                openCpuMilliseconds);
    return store->all().size() == kRecords ? 0 : 1;
}

void BM_PageRead600ById(benchmark::State &state)
{
    const auto store = openOrDie(storePath());
    const QList<const Video *> &all = store->all();
    QStringList ids;
    QRandomGenerator random(7);
    for (int i = 0; i < kPage; ++i)
        ids.append(all.at(random.bounded(int(all.size())))->youtubeID);
    for (auto _ : state) {
        qint64 sum = 0;
        for (const QString &id : std::as_const(ids))
            sum += readRow(*store->find(id));
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PageRead600ById)->Unit(benchmark::kMicrosecond);

void BM_PageRead600FromAll(benchmark::State &state)
{
    const auto store = openOrDie(storePath());
    const QList<const Video *> &all = store->all();
    for (auto _ : state) {
        qint64 sum = 0;
        for (qsizetype i = all.size() / 2; i < all.size() / 2 + kPage; ++i)
            sum += readRow(*all.at(i));
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_PageRead600FromAll)->Unit(benchmark::kMicrosecond);

void BM_WipeSynced100k(benchmark::State &state)
{
    qsizetype left = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const ScratchCopy copy;
        auto store = openOrDie(copy.path());
        state.ResumeTiming();
        store->remove(store->synced());
        left = store->all().size();
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.counters["records_left"] = double(left);
}
BENCHMARK(BM_WipeSynced100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RemoveOneByOne100k(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const ScratchCopy copy;
        auto store = openOrDie(copy.path());
        const QList<const Video *> doomed = store->synced();
        state.ResumeTiming();
        for (const Video *video : doomed)
            store->remove(video);
        benchmark::DoNotOptimize(store->all().size());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RemoveOneByOne100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SavePage600(benchmark::State &state)
{
    const ScratchCopy copy;
    auto store = openOrDie(copy.path());
    const QList<const Video *> all = store->all();
    qsizetype next = 0;
    for (auto _ : state) {
        for (int i = 0; i < kPage; ++i, ++next) {
            store->update(all.at(next % all.size())->youtubeID, [](Video &video) {
                ++video.updatedAt;
                return true;
            });
        }
        if (!store->save())
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SavePage600)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], kOpenOnce) == 0)
        return openOnce(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], kPlainLoadOnce) == 0)
        return bench::plainLoadOnce(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
