// Figures for the library list: the kept orders (LibraryIndex) against the plain filter.
// The locale comes from CLIPVANE_BENCH_LOCALE (default en_US), so the title order uses a real
// collation; run with CLIPVANE_BENCH_LOCALE=C for the case-folding fallback.

#include "LibraryFilter.h"
#include "LibraryIndex.h"
#include "SyncState.h"
#include "Video.h"

#include <QLocale>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

using namespace clipvane;

namespace {

const QStringList kWords{
    u"live"_qs,    u"Official"_qs, u"video"_qs,   u"Football"_qs, u"highlights"_qs, u"the"_qs,     u"best"_qs,
    u"of"_qs,      u"Tutorial"_qs, u"how"_qs,     u"to"_qs,       u"make"_qs,       u"bread"_qs,   u"café"_qs,
    u"Über"_qs,    u"naïve"_qs,    u"Piano"_qs,   u"guitar"_qs,   u"lesson"_qs,     u"news"_qs,    u"review"_qs,
    u"TRAILER"_qs, u"remix"_qs,    u"cover"_qs,   u"dance"_qs,    u"cooking"_qs,    u"travel"_qs,  u"vlog"_qs,
    u"game"_qs,    u"play"_qs,     u"full"_qs,    u"episode"_qs,  u"season"_qs,     u"Straße"_qs,  u"élan"_qs,
    u"niño"_qs,    u"Москва"_qs,   u"concert"_qs, u"set"_qs,      u"Jazz"_qs,       u"morning"_qs, u"walk"_qs,
};

// A library shaped like a large real one: mostly Latin titles with some accents and other
// scripts, dates over thirty years, a tenth excluded, a tenth shared, a few deletions pending.
struct Records
{
    std::vector<std::unique_ptr<Video>> owned;
    QList<const Video *> records;

    explicit Records(int count)
    {
        QRandomGenerator random(42);
        for (int i = 0; i < count; ++i) {
            QString title;
            const int words = 3 + random.bounded(7);
            for (int w = 0; w < words; ++w) {
                if (w > 0)
                    title += u' ';
                title += kWords[random.bounded(kWords.size())];
            }
            title += u" #"_qs + QString::number(random.bounded(100000));
            const QString date = QString::asprintf("%04d-%02d-%02d", 1995 + random.bounded(30), 1 + random.bounded(12),
                                                   1 + random.bounded(28));
            const QString duration = random.bounded(50) == 0
                                         ? QString()
                                         : QString::asprintf("%d:%02d", random.bounded(90), random.bounded(60));
            const QString state = random.bounded(100) == 0 ? SyncStateRaw::needsDelete : SyncStateRaw::synced;
            auto video = std::make_unique<Video>(QStringLiteral("id%1").arg(i), title, QString(), date, duration,
                                                 random.bounded(10) == 0, QString(),
                                                 qint64(1'600'000'000'000) + random.bounded(1'000'000'000), 0, state);
            if (random.bounded(10) == 0) {
                video->readOnly = true;
                video->ownerEmail = random.bounded(2) == 0 ? u"mum@example.com"_qs : u"dad@example.com"_qs;
            }
            records.append(video.get());
            owned.push_back(std::move(video));
        }
    }
};

const Records &library(int count)
{
    static Records small(10'000);
    static Records large(100'000);
    return count == 10'000 ? small : large;
}

const LibraryFilter kTwoWords{.search = u"live piano"_qs};

SortMode modeArg(const benchmark::State &state)
{
    return kAllSortModes[size_t(state.range(1))];
}

void prepareAll(LibraryIndex &index, const QList<const Video *> &records, quint64 revision)
{
    for (const SortMode mode : kAllSortModes)
        index.prepare(records, revision, mode);
}

// Typing in the search field: two words, orders kept.
void IndexTwoWordSearch(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    LibraryIndex index;
    prepareAll(index, lib.records, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(index.visible(lib.records, 1, kTwoWords));
}

// The user picks another sort order; the search is empty. Orders kept since the last change.
void IndexSortChange(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    LibraryIndex index;
    prepareAll(index, lib.records, 1);
    const LibraryFilter filter{.sort = modeArg(state)};
    for (auto _ : state)
        benchmark::DoNotOptimize(index.visible(lib.records, 1, filter));
}

// The same, but one record was edited just before: the kept orders are mended first.
void IndexSortChangeAfterEdit(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    LibraryIndex index;
    quint64 revision = 1;
    prepareAll(index, lib.records, revision);
    const LibraryFilter filter{.sort = modeArg(state)};
    // The bench owns its records: it changes one in place, as a sync changes the store's.
    auto *edited = const_cast<Video *>(lib.records[lib.records.size() / 2]);
    const QString original = edited->title;
    for (auto _ : state) {
        edited->title = (revision % 2 == 0) ? original : u"Edited "_qs + original;
        edited->uploadDate = (revision % 2 == 0) ? u"2001-01-01"_qs : u"2019-06-01"_qs;
        ++revision;
        benchmark::DoNotOptimize(index.visible(lib.records, revision, filter));
    }
    edited->title = original;
}

// First use of an order since the records were loaded: everything is built.
void IndexFirstUse(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    const LibraryFilter filter{.sort = modeArg(state)};
    for (auto _ : state) {
        auto index = std::make_unique<LibraryIndex>();
        benchmark::DoNotOptimize(index->visible(lib.records, 1, filter));
        state.PauseTiming(); // letting go of what was kept is not part of the figure
        index.reset();
        state.ResumeTiming();
    }
}

// First switch to another order after the list was shown in "Newest".
void IndexFirstSwitch(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    const LibraryFilter filter{.sort = modeArg(state)};
    for (auto _ : state) {
        state.PauseTiming();
        auto index = std::make_unique<LibraryIndex>();
        index->visible(lib.records, 1, LibraryFilter());
        state.ResumeTiming();
        benchmark::DoNotOptimize(index->visible(lib.records, 1, filter));
        state.PauseTiming();
        index.reset();
        state.ResumeTiming();
    }
}

// The plain filter, for reference: every call filters and sorts from scratch.
void ApplyTwoWordSearch(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kTwoWords.apply(lib.records));
}

void ApplySort(benchmark::State &state)
{
    const Records &lib = library(int(state.range(0)));
    const LibraryFilter filter{.sort = modeArg(state)};
    for (auto _ : state)
        benchmark::DoNotOptimize(filter.apply(lib.records));
}

void sizes(benchmark::internal::Benchmark *bench)
{
    bench->ArgNames({"records"})->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
}

void sizesAndModes(benchmark::internal::Benchmark *bench)
{
    bench->ArgNames({"records", "mode"})->Unit(benchmark::kMillisecond);
    for (const int count : {10'000, 100'000}) {
        for (int mode = 0; mode < int(kAllSortModes.size()); ++mode)
            bench->Args({count, mode});
    }
}

} // namespace

BENCHMARK(IndexTwoWordSearch)->Apply(sizes);
BENCHMARK(IndexSortChange)->Apply(sizesAndModes);
BENCHMARK(IndexSortChangeAfterEdit)->Apply(sizesAndModes);
BENCHMARK(IndexFirstSwitch)->Apply(sizesAndModes)->Iterations(5);
BENCHMARK(IndexFirstUse)->Apply(sizesAndModes)->Iterations(5);
BENCHMARK(ApplyTwoWordSearch)->Apply(sizes);
BENCHMARK(ApplySort)->Apply(sizesAndModes)->Iterations(5);

int main(int argc, char **argv)
{
    const QByteArray locale = qgetenv("CLIPVANE_BENCH_LOCALE");
    QLocale::setDefault(QLocale(locale.isEmpty() ? u"en_US"_qs : QString::fromLatin1(locale)));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
