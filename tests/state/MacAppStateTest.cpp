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
        return std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("standard.ini")), QSettings::IniFormat);
    }

private Q_SLOTS:
    void init() { settings()->clear(); }

    // Only a stored true turns autoplay on; whatever is assigned is written, even the value it
    // already had, and a relaunch reads it.
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
        row("search", true, [](MacAppState &s) { s.setSearch(QStringLiteral("cat")); });
        row("year", true, [](MacAppState &s) { s.setYear(QStringLiteral("2021")); });
        row("excluded", true, [](MacAppState &s) { s.setShowExcluded(true); });
        row("only a hidden owner", true, [](MacAppState &s) { s.setHiddenOwners({QStringLiteral("a@b.c")}); });
        row("only the sort", false, [](MacAppState &s) { s.setSort(SortMode::title); });
        row("browse mode and selection", false, [](MacAppState &s) {
            s.setBrowsing(true);
            s.setSelectedID(QStringLiteral("dQw4w9WgXcQ"));
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

    // Clearing the filters changes the four filter fields, in order, and keeps the sort, browse
    // mode and the selection.
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
        QCOMPARE(state.filter(), (LibraryFilter{.search = QStringLiteral("cat"),
                                                .year = QStringLiteral("2021"),
                                                .sort = SortMode::title,
                                                .showExcluded = true,
                                                .hiddenOwners = {QStringLiteral("a@b.c")}}));

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
        QCOMPARE(state.filter(), (LibraryFilter{.sort = SortMode::title}));
        QVERIFY(state.browsing());
        QCOMPARE(state.selectedID(), std::optional<QString>(QStringLiteral("dQw4w9WgXcQ")));
    }
};

QTEST_GUILESS_MAIN(MacAppStateTest)
#include "MacAppStateTest.moc"
