// Client-side cost of sync cycles (the fake server answers from pages prepared in advance) and
// of the shared settings. Prints the figures; peak resident memory is printed at the end.

#include "SyncHarness.h"

#include <QCoreApplication>
#include <QUrlQuery>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace clipvane;
using namespace clipvane::test;

namespace {

// CLIPVANE_BENCH_VIDEOS overrides the size for quick looks.
const int kLibrarySize =
    qEnvironmentVariableIsSet("CLIPVANE_BENCH_VIDEOS") ? qEnvironmentVariableIntValue("CLIPVANE_BENCH_VIDEOS") : 100000;

// Every page of a library of `count` videos, keyed by the query that asks for it.
QHash<QByteArray, QByteArray> pagesOf(int count)
{
    QHash<QByteArray, QByteArray> pages;
    qint64 since = 0;
    qint64 afterID = 0;
    for (int start = 0; start <= count; start += SyncEngine::kPageLimit) {
        QList<QJsonObject> videos;
        for (int i = start; i < std::min(count, start + SyncEngine::kPageLimit); ++i)
            videos.append(serverVideo(u"bench%1"_qs.arg(i, 6, 10, QLatin1Char('0')), 10000 + i, i + 1));
        const QByteArray query = "since=" + QByteArray::number(since) + "&after_id=" + QByteArray::number(afterID) +
                                 "&limit=" + QByteArray::number(SyncEngine::kPageLimit);
        pages.insert(query, pageBody(videos, 900000, count));
        if (videos.size() < SyncEngine::kPageLimit)
            break;
        since = videos.last().value(u"updated_at"_qs).toInteger();
        afterID = videos.last().value(u"id"_qs).toInteger();
    }
    return pages;
}

void BM_FirstSync100k(benchmark::State &state)
{
    const QHash<QByteArray, QByteArray> pages = pagesOf(kLibrarySize);
    for (auto _ : state) {
        state.PauseTiming();
        auto harness = std::make_unique<SyncHarness>();
        harness->server.setHandler([&pages](const RecordedRequest &request) {
            // A type the fake server does not compress: brotli at its highest level would cost
            // the server far more than the client spends on a page.
            FakeReply reply = FakeReply::json(pages.value(request.query, pageBody({}, 900000, 0)));
            reply.headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/octet-stream")});
            return reply;
        });
        state.ResumeTiming();
        harness->runCycle();
        state.PauseTiming();
        if (harness->store->all().size() != kLibrarySize || harness->engine->hasError())
            state.SkipWithError("the first sync did not bring the whole library");
        harness.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstSync100k)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_NothingToDo(benchmark::State &state)
{
    SyncHarness harness;
    for (auto _ : state)
        harness.runCycle();
}
BENCHMARK(BM_NothingToDo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShareInboxAppend(benchmark::State &state)
{
    QTemporaryDir dir;
    GroupSettings group(dir.filePath(u"group.ini"_qs));
    for (auto _ : state)
        group.appendToShareInbox({u"https://youtu.be/abcdef"_qs});
}
BENCHMARK(BM_ShareInboxAppend)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SyncCursorRead(benchmark::State &state)
{
    QTemporaryDir dir;
    GroupSettings group(dir.filePath(u"group.ini"_qs));
    group.setSyncCursor(123456789, QStringLiteral("store"));
    for (auto _ : state)
        benchmark::DoNotOptimize(group.syncCursor());
}
BENCHMARK(BM_SyncCursorRead)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %ld MiB (server pages included)\n", usage.ru_maxrss / 1024);
    return 0;
}
