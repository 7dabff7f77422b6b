#include "MacAppState.h"
#include "SettingsKeys.h"

#include <QSettings>
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
        return std::make_unique<QSettings>(m_dir.filePath(u"standard.ini"_qs), QSettings::IniFormat);
    }

private Q_SLOTS:
    void init() { settings()->clear(); }

    // Only a stored true turns autoplay on; every assignment is written, and a relaunch reads it.
    void autoplayPersistsAcrossLaunches_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("not a Boolean") << QVariant(u"yes please"_qs) << false;
        QTest::newRow("a number") << QVariant(1) << false;
    }
    void autoplayPersistsAcrossLaunches()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, expected);
        if (stored.isValid())
            settings()->setValue(SettingsKeys::autoplayOnSelect, stored);
        for (const bool assigned : {expected, !expected}) {
            auto standard = settings();
            MacAppState state(*standard);
            QCOMPARE(state.autoplayOnSelect(), expected);
            state.setAutoplayOnSelect(assigned);
            QVERIFY(settings()->contains(SettingsKeys::autoplayOnSelect));
            QCOMPARE(settings()->value(SettingsKeys::autoplayOnSelect).toBool(), assigned);
        }
        auto standard = settings();
        QCOMPARE(MacAppState(*standard).autoplayOnSelect(), !expected);
    }

    void activeFilters_data()
    {
        QTest::addColumn<StateChange>("change");
        QTest::addColumn<bool>("active");
        const auto row = [](const char *name, bool active, StateChange change) {
            QTest::newRow(name) << change << active;
        };
        row("fresh", false, [](MacAppState &) {});
        row("search", true, [](MacAppState &s) { s.setSearch(u"cat"_qs); });
        row("year", true, [](MacAppState &s) { s.setYear(u"2021"_qs); });
        row("excluded", true, [](MacAppState &s) { s.setShowExcluded(true); });
        row("only a hidden owner", true, [](MacAppState &s) { s.setHiddenOwners({u"a@b.c"_qs}); });
        row("only the sort", false, [](MacAppState &s) { s.setSort(SortMode::title); });
        row("browse mode and selection", false, [](MacAppState &s) {
            s.setBrowsing(true);
            s.setSelectedID(u"dQw4w9WgXcQ"_qs);
        });
    }
    void activeFilters()
    {
        QFETCH(StateChange, change);
        auto standard = settings();
        MacAppState state(*standard);
        change(state);
        QTEST(state.hasActiveFilters(), "active");
    }

    void clearFiltersChangesFourFieldsInOrder()
    {
        auto standard = settings();
        MacAppState state(*standard);
        state.setSearch(u"cat"_qs);
        state.setYear(u"2021"_qs);
        state.setSort(SortMode::title);
        state.setShowExcluded(true);
        state.setHiddenOwners({u"a@b.c"_qs});
        state.setBrowsing(true);
        state.setSelectedID(u"dQw4w9WgXcQ"_qs);

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

        QCOMPARE(order, (QStringList{u"search"_qs, u"year"_qs, u"showExcluded"_qs, u"hiddenOwners"_qs}));
        QCOMPARE(state.filter(), (LibraryFilter{.sort = SortMode::title}));
        QVERIFY(state.browsing());
        QCOMPARE(state.selectedID(), std::optional<QString>(u"dQw4w9WgXcQ"_qs));
    }
};

QTEST_GUILESS_MAIN(MacAppStateTest)
#include "MacAppStateTest.moc"
