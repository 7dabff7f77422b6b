#include "AppState.h"
#include "SettingsKeys.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using namespace clipvane;

using StateChange = std::function<void(AppState &)>;
Q_DECLARE_METATYPE(StateChange)

class AppStateTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(m_dir.filePath(u"standard.ini"_qs), QSettings::IniFormat);
    }

private Q_SLOTS:
    void init() { settings()->clear(); }

    // Only a stored true turns autoplay (or hiding watched videos) on; every assignment is
    // written, and a relaunch reads it.
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
        struct Setting
        {
            QLatin1String key;
            bool (AppState::*read)() const;
            void (AppState::*write)(bool);
        };
        for (const Setting &setting :
             {Setting{SettingsKeys::autoplayOnSelect, &AppState::autoplayOnSelect, &AppState::setAutoplayOnSelect},
              Setting{SettingsKeys::hideWatched, &AppState::hideWatched, &AppState::setHideWatched}}) {
            settings()->clear();
            if (stored.isValid())
                settings()->setValue(setting.key, stored);
            for (const bool assigned : {expected, !expected}) {
                auto standard = settings();
                AppState state(*standard);
                QCOMPARE((state.*setting.read)(), expected);
                (state.*setting.write)(assigned);
                QVERIFY(settings()->contains(setting.key));
                QCOMPARE(settings()->value(setting.key).toBool(), assigned);
            }
            auto standard = settings();
            QCOMPARE((AppState(*standard).*setting.read)(), !expected);
        }
    }

    void activeFilters_data()
    {
        QTest::addColumn<StateChange>("change");
        QTest::addColumn<bool>("active");
        const auto row = [](const char *name, bool active, StateChange change) {
            QTest::newRow(name) << change << active;
        };
        row("fresh", false, [](AppState &) {});
        row("search", true, [](AppState &s) { s.setSearch(u"cat"_qs); });
        row("year", true, [](AppState &s) { s.setYear(u"2021"_qs); });
        row("excluded", true, [](AppState &s) { s.setShowExcluded(true); });
        row("only a hidden owner", true, [](AppState &s) { s.setHiddenOwners({u"a@b.c"_qs}); });
        row("only the sort", false, [](AppState &s) { s.setSort(SortMode::title); });
        row("browse mode and selection", false, [](AppState &s) {
            s.setBrowsing(true);
            s.setSelectedID(u"dQw4w9WgXcQ"_qs);
        });
    }
    void activeFilters()
    {
        QFETCH(StateChange, change);
        auto standard = settings();
        AppState state(*standard);
        change(state);
        QTEST(state.hasActiveFilters(), "active");
    }

    void clearFiltersChangesFourFieldsInOrder()
    {
        auto standard = settings();
        AppState state(*standard);
        state.setSearch(u"cat"_qs);
        state.setYear(u"2021"_qs);
        state.setSort(SortMode::title);
        state.setShowExcluded(true);
        state.setHiddenOwners({u"a@b.c"_qs});
        state.setBrowsing(true);
        state.setSelectedID(u"dQw4w9WgXcQ"_qs);

        QStringList order;
        const auto note = [&order](const char *name) { return [&order, name] { order << QLatin1String(name); }; };
        connect(&state, &AppState::searchChanged, this, note("search"));
        connect(&state, &AppState::yearChanged, this, note("year"));
        connect(&state, &AppState::showExcludedChanged, this, note("showExcluded"));
        connect(&state, &AppState::hiddenOwnersChanged, this, note("hiddenOwners"));
        connect(&state, &AppState::sortChanged, this, note("sort"));
        connect(&state, &AppState::browsingChanged, this, note("browsing"));
        connect(&state, &AppState::selectedIDChanged, this, note("selectedID"));
        state.clearFilters();

        QCOMPARE(order, (QStringList{u"search"_qs, u"year"_qs, u"showExcluded"_qs, u"hiddenOwners"_qs}));
        QCOMPARE(state.filter(), (LibraryFilter{.sort = SortMode::title}));
        QVERIFY(state.browsing());
        QCOMPARE(state.selectedID(), std::optional<QString>(u"dQw4w9WgXcQ"_qs));
    }
};

QTEST_GUILESS_MAIN(AppStateTest)
#include "AppStateTest.moc"
