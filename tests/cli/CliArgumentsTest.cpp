// What clipvane-cli accepts and refuses before it touches any file.

#include "CliArguments.h"

#include <QTest>

using namespace clipvane;

class CliArgumentsTest : public QObject
{
    Q_OBJECT

private:
    static CliArguments accepted(const QStringList &arguments)
    {
        auto parsed = CliArguments::parse(arguments);
        if (const QString *error = std::get_if<QString>(&parsed))
            qFatal("refused %s: %s", qPrintable(arguments.join(u' ')), qPrintable(*error));
        return std::get<CliArguments>(parsed);
    }

private Q_SLOTS:
    void globalOptionsGoAnywhereAndValuesTakeBothForms()
    {
        const CliArguments list = accepted({u"list"_qs, u"--profile=/tmp/p"_qs, u"--sort"_qs, u"title"_qs, u"--json"_qs,
                                            u"--api"_qs, u"http://127.0.0.1:1/api"_qs});
        QCOMPARE(list.command, u"list"_qs);
        QCOMPARE(list.profile, u"/tmp/p"_qs);
        QCOMPARE(list.api, u"http://127.0.0.1:1/api"_qs);
        QCOMPARE(list.sort, u"title"_qs);
        QVERIFY(list.json);

        // Operands that look like options after "--", and values that start with a dash.
        const CliArguments edit =
            accepted({u"--profile"_qs, u"p"_qs, u"edit"_qs, u"--title"_qs, u"-- dashes --"_qs, u"--"_qs, u"-abc"_qs});
        QCOMPARE(edit.operands, QStringList{u"-abc"_qs});
        QCOMPARE(edit.title, u"-- dashes --"_qs);
        QVERIFY(!edit.date.has_value());

        // An empty value is a value: an edit may clear a field.
        QCOMPARE(accepted({u"edit"_qs, u"x"_qs, u"--length="_qs}).length, QString());
        QVERIFY(accepted({u"--help"_qs}).help);
        QVERIFY(accepted({u"nonsense"_qs, u"-h"_qs}).help);
    }

    void refusesWhatACommandCannotUse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("nothing") << QStringList{} << u"no command given"_qs;
        QTest::newRow("unknown command") << QStringList{u"frob"_qs} << u"unknown command “frob”"_qs;
        QTest::newRow("unknown option") << QStringList{u"list"_qs, u"--colour"_qs} << u"unknown option “--colour”"_qs;
        QTest::newRow("short option") << QStringList{u"list"_qs, u"-j"_qs} << u"unknown option “-j”"_qs;
        QTest::newRow("option of another command")
            << QStringList{u"add"_qs, u"https://youtu.be/abc"_qs, u"--title"_qs, u"T"_qs}
            << u"add does not take --title"_qs;
        QTest::newRow("value missing") << QStringList{u"list"_qs, u"--search"_qs}
                                       << u"option --search needs a value"_qs;
        QTest::newRow("flag with value") << QStringList{u"list"_qs, u"--json=yes"_qs}
                                         << u"option --json takes no value"_qs;
        QTest::newRow("twice") << QStringList{u"list"_qs, u"--year"_qs, u"2020"_qs, u"--year=2021"_qs}
                               << u"option --year given twice"_qs;
        QTest::newRow("no links") << QStringList{u"share"_qs} << u"share needs at least one link"_qs;
        QTest::newRow("no ID") << QStringList{u"delete"_qs} << u"delete needs a video ID"_qs;
        QTest::newRow("two IDs") << QStringList{u"exclude"_qs, u"a"_qs, u"b"_qs} << u"exclude takes one video ID"_qs;
        QTest::newRow("operand to sync") << QStringList{u"sync"_qs, u"now"_qs} << u"sync takes no arguments"_qs;
        QTest::newRow("signin without token")
            << QStringList{u"signin"_qs, u"--email"_qs, u"a@b.c"_qs} << u"signin needs --token"_qs;
        QTest::newRow("empty token") << QStringList{u"signin"_qs, u"--token="_qs} << u"signin needs --token"_qs;
        QTest::newRow("edit of nothing") << QStringList{u"edit"_qs, u"x"_qs}
                                         << u"edit needs at least one of --title, --date and --length"_qs;
        QTest::newRow("sort") << QStringList{u"list"_qs, u"--sort"_qs, u"Title"_qs}
                              << u"--sort takes newest, oldest, title or longest"_qs;
        QTest::newRow("all with a filter") << QStringList{u"list"_qs, u"--all"_qs, u"--excluded"_qs}
                                           << u"--all lists every record as stored; it does not combine with --search, "
                                              u"--year, --sort or --excluded"_qs;
    }

    void refusesWhatACommandCannotUse()
    {
        QFETCH(QStringList, arguments);
        auto parsed = CliArguments::parse(arguments);
        QVERIFY(std::holds_alternative<QString>(parsed));
        QTEST(std::get<QString>(parsed), "error");
    }
};

QTEST_GUILESS_MAIN(CliArgumentsTest)
#include "CliArgumentsTest.moc"
