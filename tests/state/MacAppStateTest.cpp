#include "MacAppState.h"
#include "SettingsKeys.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using namespace clipvane;

using StateChange = std::function<void(MacAppState &)>;
Q_DECLARE_METATYPE(StateChange)

class MacAppStateTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("standard.ini")), QSettings::IniFormat);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        settings()->clear();
    }

    void autoplayPersistsAcrossLaunches_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("not a Boolean") << QVariant(QStringLiteral("yes please")) << false;
        QTest::newRow("a number") << QVariant(1) << false;
    }

    void autoplayPersistsAcrossLaunches()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, expected);
        if (stored.isValid()) {
            auto writer = settings();
            writer->setValue(SettingsKeys::autoplayOnSelect, stored);
        }
        {
            auto standard = settings();
            MacAppState state(*standard);
            QCOMPARE(state.autoplayOnSelect(), expected);
            state.setAutoplayOnSelect(!expected);
        }
        // A relaunch reads what the last assignment wrote.
        auto standard = settings();
        MacAppState relaunched(*standard);
        QCOMPARE(relaunched.autoplayOnSelect(), !expected);
    }

    void assigningTheSameAutoplayStillWritesIt()
    {
        auto standard = settings();
        MacAppState state(*standard);
        QSignalSpy changed(&state, &MacAppState::autoplayOnSelectChanged);
        state.setAutoplayOnSelect(false);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(settings()->value(SettingsKeys::autoplayOnSelect).toBool(), false);
        QVERIFY(settings()->contains(SettingsKeys::autoplayOnSelect));
    }

    void activeFilters_data()
    {
        QTest::addColumn<StateChange>("change");
        QTest::addColumn<bool>("active");
        QTest::newRow("fresh") << StateChange([](MacAppState &) {}) << false;
        QTest::newRow("search") << StateChange([](MacAppState &s) { s.setSearch(QStringLiteral("cat")); }) << true;
        QTest::newRow("year") << StateChange([](MacAppState &s) { s.setYear(QStringLiteral("2021")); }) << true;
        QTest::newRow("excluded") << StateChange([](MacAppState &s) { s.setShowExcluded(true); }) << true;
        QTest::newRow("only a hidden owner")
            << StateChange([](MacAppState &s) { s.setHiddenOwners({QStringLiteral("a@b.c")}); }) << true;
        QTest::newRow("only the sort") << StateChange([](MacAppState &s) { s.setSort(SortMode::title); }) << false;
        QTest::newRow("browse mode and selection") << StateChange([](MacAppState &s) {
            s.setBrowsing(true);
            s.setSelectedID(QStringLiteral("dQw4w9WgXcQ"));
        }) << false;
    }

    void activeFilters()
    {
        QFETCH(StateChange, change);
        QFETCH(bool, active);
        auto standard = settings();
        MacAppState state(*standard);
        change(state);
        QCOMPARE(state.hasActiveFilters(), active);
    }

    void clearFiltersChangesFourFieldsInOrder()
    {
        auto standard = settings();
        MacAppState state(*standard);
        state.setSearch(QStringLiteral("cat"));
        state.setYear(QStringLiteral("2021"));
        state.setSort(SortMode::title);
        state.setShowExcluded(true);
        state.setHiddenOwners({QStringLiteral("a@b.c")});
        state.setBrowsing(true);
        state.setSelectedID(QStringLiteral("dQw4w9WgXcQ"));

        QStringList order;
        const auto note = [&order](const char *name) { return [&order, name] { order << QLatin1String(name); }; };
        connect(&state, &MacAppState::searchChanged, this, note("search"));
        connect(&state, &MacAppState::yearChanged, this, note("year"));
        connect(&state, &MacAppState::showExcludedChanged, this, note("showExcluded"));
        connect(&state, &MacAppState::hiddenOwnersChanged, this, note("hiddenOwners"));
        connect(&state, &MacAppState::sortChanged, this, note("sort"));
        connect(&state, &MacAppState::browsingChanged, this, note("browsing"));
        connect(&state, &MacAppState::selectedIDChanged, this, note("selectedID"));
        state.clearFilters();

        QCOMPARE(order, (QStringList{QStringLiteral("search"), QStringLiteral("year"), QStringLiteral("showExcluded"),
                                     QStringLiteral("hiddenOwners")}));
        QVERIFY(!state.hasActiveFilters());
        QCOMPARE(state.sort(), SortMode::title);
        QVERIFY(state.browsing());
        QCOMPARE(state.selectedID(), std::optional<QString>(QStringLiteral("dQw4w9WgXcQ")));
        const LibraryFilter filter = state.filter();
        QCOMPARE(filter, (LibraryFilter{.sort = SortMode::title}));
    }

    void filterCopiesTheFiveFields()
    {
        auto standard = settings();
        MacAppState state(*standard);
        state.setSearch(QStringLiteral("cat"));
        state.setYear(QStringLiteral("2021"));
        state.setSort(SortMode::longest);
        state.setShowExcluded(true);
        state.setHiddenOwners({QStringLiteral("a@b.c")});
        QCOMPARE(state.filter(), (LibraryFilter{.search = QStringLiteral("cat"),
                                                .year = QStringLiteral("2021"),
                                                .sort = SortMode::longest,
                                                .showExcluded = true,
                                                .hiddenOwners = {QStringLiteral("a@b.c")}}));
    }
};

QTEST_GUILESS_MAIN(MacAppStateTest)
#include "MacAppStateTest.moc"
