// What clipvane-cli accepts and refuses before it touches any file.

#include "CliArguments.h"

#include <QTest>

using namespace clipvane;

namespace {

CliArguments accepted(const QStringList &arguments)
{
    auto parsed = CliArguments::parse(arguments);
    if (const QString *error = std::get_if<QString>(&parsed))
        qFatal("refused %s: %s", qPrintable(arguments.join(u' ')), qPrintable(*error));
    return std::get<CliArguments>(parsed);
}

} // namespace

class CliArgumentsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void globalOptionsGoAnywhereAndValuesTakeBothForms()
    {
        const CliArguments list =
            accepted(u"list --profile=/tmp/p --sort title --json --api http://127.0.0.1:1/api"_qs.split(u' '));
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
        QTest::addColumn<QString>("arguments"); // split at spaces
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *arguments, const QString &error) {
            QTest::newRow(name) << QString::fromUtf8(arguments) << error;
        };
        row("nothing", "", u"no command given"_qs);
        row("unknown command", "frob", u"unknown command “frob”"_qs);
        row("unknown option", "list --colour", u"unknown option “--colour”"_qs);
        row("short option", "list -j", u"unknown option “-j”"_qs);
        row("option of another command", "add https://youtu.be/abc --title T", u"add does not take --title"_qs);
        row("value missing", "list --search", u"option --search needs a value"_qs);
        row("flag with value", "list --json=yes", u"option --json takes no value"_qs);
        row("twice", "list --year 2020 --year=2021", u"option --year given twice"_qs);
        row("no links", "share", u"share needs at least one link"_qs);
        row("no ID", "delete", u"delete needs a video ID"_qs);
        row("two IDs", "exclude a b", u"exclude takes one video ID"_qs);
        row("operand to sync", "sync now", u"sync takes no arguments"_qs);
        row("signin without token", "signin --email a@b.c", u"signin needs --token"_qs);
        row("empty token", "signin --token=", u"signin needs --token"_qs);
        row("edit of nothing", "edit x", u"edit needs at least one of --title, --date and --length"_qs);
        row("sort", "list --sort Title", u"--sort takes newest, oldest, title or longest"_qs);
        row("all with a filter", "list --all --excluded",
            u"--all lists every record as stored; it does not combine with --search, --year, --sort or --excluded"_qs);
    }

    void refusesWhatACommandCannotUse()
    {
        QFETCH(QString, arguments);
        auto parsed = CliArguments::parse(arguments.split(u' ', Qt::SkipEmptyParts));
        QVERIFY(std::holds_alternative<QString>(parsed));
        QTEST(std::get<QString>(parsed), "error");
    }
};

QTEST_GUILESS_MAIN(CliArgumentsTest)
#include "CliArgumentsTest.moc"
