// The library column with 100,000 videos, offscreen, as the user feels it: a keystroke in the
// search field to the repainted list, a change of the sort order to the repainted list, a
// repaint of a full window of rows with their thumbnails cached, and a page of scrolling to
// rows whose thumbnails are not cached (which must never wait for them). Build with the
// release preset.
#include "AppPaths.h"
#include "AppState.h"
#include "Fonts.h"
#include "LibraryColumn.h"
#include "LibraryListView.h"
#include "LibrarySession.h"
#include "MemorySecretStore.h"
#include "Palette.h"
#include "ProfileFill.h"
#include "ThumbCache.h"
#include "Video.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

using namespace clipvane;

namespace {

constexpr int kRecords = 100000;

// One library for every benchmark: filling 100,000 records takes longer than the runs.
struct Fixture
{
    Fixture()
    {
        bench::fillSignedInProfile(folder.path(), kRecords);
        AppPaths::setProfile(folder.path());
        // Thumbnails are asked of a proxy nobody answers: fetches fail at once, offline.
        network.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 9));
        ThumbCache::useNetwork(network);
        LibrarySession::Options options;
        options.apiBase = QUrl(QStringLiteral("http://127.0.0.1:9/api"));
        options.secrets = &secrets;
        options.network = &network;
        QString error;
        session = LibrarySession::open(options, &error);
        if (!session)
            qFatal("bench: %s", qPrintable(error));
        state = std::make_unique<AppState>(session->standard());
        list = std::make_unique<VisibleList>(*state, session->engine(), session->store());
        column = std::make_unique<LibraryColumn>(*state, session->engine(), *list);
        column->resize(300, 700);
        column->show();
        list->recompute();
        QCoreApplication::processEvents();
    }

    // What the event loop does after a keystroke or a menu choice: the list, then the paint.
    void settle()
    {
        list->recomputeIfChanged();
        column->listView().viewport()->repaint();
    }

    QTemporaryDir folder;
    MemorySecretStore secrets;
    QNetworkAccessManager network;
    std::unique_ptr<LibrarySession> session;
    std::unique_ptr<AppState> state;
    std::unique_ptr<VisibleList> list;
    std::unique_ptr<LibraryColumn> column;
};

// Made and destroyed in main, while the application object lives: its widgets must go first.
Fixture *g_fixture = nullptr;

Fixture &fixture()
{
    return *g_fixture;
}

void keystrokeToRepaint(benchmark::State &run)
{
    Fixture &f = fixture();
    // Typing "night drive" letter by letter, then starting again.
    const QString typed = QStringLiteral("night drive");
    qsizetype length = 0;
    for (auto _ : run) {
        length = length % typed.size() + 1;
        f.state->setSearch(typed.left(length));
        f.settle();
    }
    f.state->setSearch(QString());
    f.settle();
}

void twoWordKeystroke(benchmark::State &run)
{
    Fixture &f = fixture();
    bool longer = false;
    for (auto _ : run) {
        f.state->setSearch(longer ? QStringLiteral("jazz pian") : QStringLiteral("jazz piano"));
        longer = !longer;
        f.settle();
    }
    f.state->setSearch(QString());
    f.settle();
}

void sortChange(benchmark::State &run)
{
    Fixture &f = fixture();
    for (const SortMode mode : kAllSortModes) { // "after the first time"
        f.state->setSort(mode);
        f.settle();
    }
    int next = 0;
    for (auto _ : run) {
        f.state->setSort(kAllSortModes[size_t(next++ % int(kAllSortModes.size()))]);
        f.settle();
    }
    f.state->setSort(SortMode::newest);
    f.settle();
}

void paintWindowOfRows(benchmark::State &run)
{
    Fixture &f = fixture();
    LibraryListView &view = f.column->listView();
    view.verticalScrollBar()->setValue(0);
    QImage picture(320, 180, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::darkCyan);
    for (int row = 0; row < 30; ++row) {
        if (const auto url = f.list->model().videoAt(row)->thumbnailURL())
            ThumbCache::shared().store(picture, *url);
    }
    for (auto _ : run)
        view.viewport()->repaint();
    run.counters["rows"] = double(view.viewport()->height()) / 58;
}

void scrollByAPage(benchmark::State &run)
{
    Fixture &f = fixture();
    LibraryListView &view = f.column->listView();
    QScrollBar &bar = *view.verticalScrollBar();
    bar.setValue(0);
    for (auto _ : run) {
        bar.setValue(bar.value() + bar.pageStep() >= bar.maximum() ? 0 : bar.value() + bar.pageStep());
        view.viewport()->repaint();
    }
}

} // namespace

BENCHMARK(keystrokeToRepaint)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(twoWordKeystroke)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(sortChange)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(paintWindowOfRows)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(scrollByAPage)->Unit(benchmark::kMillisecond)->MinTime(1);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    AppPaths::initialiseApplicationNames();
    Palette::applyTo(application);
    Fonts::load();
    benchmark::Initialize(&argc, argv);
    const auto fixture = std::make_unique<Fixture>();
    g_fixture = fixture.get();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
