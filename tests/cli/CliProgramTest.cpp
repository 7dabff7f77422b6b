// clipvane-cli: what it accepts and refuses before it touches any file, and the program against a
// real clipvane-service, as a script would use them: every edit reaches the service and comes
// back to a second device, one writer at a time, a kill never loses the library, and failures
// end with a message and a non-zero status.

#include "APIClient.h"
#include "CliArguments.h"
#include "FakeHttpServer.h"
#include "LinkParser.h"
#include "MemorySecretStore.h"
#include "ServiceProcess.h"
#include "StoreLock.h"
#include "WaitForTask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

using namespace clipvane;
using namespace clipvane::test;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A library as `list --json` prints it, keyed by ID, without the fields only one side sets.
QMap<QString, QJsonObject> byID(const QJsonArray &records)
{
    QMap<QString, QJsonObject> map;
    for (const QJsonValue &value : records) {
        QJsonObject record = value.toObject();
        record.remove(u"created_at"_qs);
        map.insert(record.value(u"youtube_id"_qs).toString(), record);
    }
    return map;
}

CliArguments accepted(const QStringList &arguments)
{
    auto parsed = CliArguments::parse(arguments);
    if (const QString *error = std::get_if<QString>(&parsed))
        qFatal("refused %s: %s", qPrintable(arguments.join(u' ')), qPrintable(*error));
    return std::get<CliArguments>(parsed);
}

} // namespace

class CliProgramTest : public QObject
{
    Q_OBJECT

private:
    FakeHttpServer m_oembed;
    std::unique_ptr<ServiceProcess> m_service;
    QTemporaryDir m_profiles;
    int m_nextProfile = 0;

    void start(QProcess &process, const QString &profile, const QStringList &arguments, const QString &api = {})
    {
        process.start(QStringLiteral(CLIPVANE_CLI_BINARY),
                      QStringList{u"--profile"_qs, profile, u"--api"_qs, api.isEmpty() ? m_service->apiBase() : api} +
                          arguments);
    }

    Run cli(const QString &profile, const QStringList &arguments, const QString &api = QString())
    {
        QProcess process;
        start(process, profile, arguments, api);
        Run run;
        if (!process.waitForFinished(120000))
            return run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QJsonArray list(const QString &profile, const QStringList &options = {u"--all"_qs})
    {
        return QJsonDocument::fromJson(cli(profile, QStringList{u"list"_qs, u"--json"_qs} + options).out.toUtf8())
            .array();
    }

    QString signedInProfile(const QString &email)
    {
        const QString profile = m_profiles.filePath(QString::number(++m_nextProfile));
        const Run run = cli(profile, {u"signin"_qs, u"--token"_qs, m_service->token(email), u"--email"_qs, email});
        if (run.exitCode != 0)
            qWarning() << "signin failed:" << run.err;
        return profile;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The service asks this fake for titles instead of YouTube.
        m_oembed.setHandler([](const RecordedRequest &request) {
            QString url;
            for (const auto &[name, value] : request.queryItems())
                if (name == u"url")
                    url = value;
            const QString id = youtubeID(url).value_or(u"?"_qs);
            return FakeReply::json(QJsonDocument(QJsonObject{{u"title"_qs, u"Title of "_qs + id}}).toJson());
        });
        QVERIFY(m_oembed.start());
        QProcessEnvironment environment;
        environment.insert(u"CLIPVANE_OEMBED_BASE"_qs, m_oembed.url(u"/oembed"_qs).toString());
        m_service = std::make_unique<ServiceProcess>(QStringLiteral(CLIPVANE_SERVICE_BINARY), environment);
        QVERIFY2(m_service->start(), qPrintable(m_service->error()));
    }

    void editsReachTheServiceAndASecondDevice()
    {
        const QString laptop = signedInProfile(u"one@example.com"_qs);
        QVERIFY(cli(laptop, {u"status"_qs}).out.contains(u"Signed in:        yes, as one@example.com"_qs));
        // The library is the user's alone, whatever the umask.
        for (const QString &path : {laptop + u"/data"_qs, laptop + u"/config"_qs}) {
            const QFileDevice::Permissions others =
                QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::ExeGroup | QFileDevice::ExeOther;
            QVERIFY2(QFileInfo::exists(path) && !(QFileInfo(path).permissions() & others), qPrintable(path));
            for (const QFileInfo &file : QDir(path).entryInfoList(QDir::Files))
                QVERIFY2(!(file.permissions() & others), qPrintable(file.filePath()));
        }
        // One text without a video is named; the others are still added.
        Run run = cli(laptop, {u"add"_qs, u"https://youtu.be/aaaaaaaaaaa"_qs, u"no video here"_qs,
                               u"https://www.youtube.com/watch?v=bbbbbbbbbbb&t=10"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"no YouTube video in “no video here”"_qs));
        QCOMPARE(run.out, u"Added aaaaaaaaaaa\nAdded bbbbbbbbbbb\n"_qs);
        const QJsonArray records = list(laptop);
        QCOMPARE(records.size(), 2);
        const QJsonObject added = records.at(0).toObject();
        QCOMPARE(added.keys(), (QStringList{u"created_at"_qs, u"duration"_qs, u"excluded"_qs, u"owner_email"_qs,
                                            u"read_only"_qs, u"source"_qs, u"sync_state"_qs, u"title"_qs,
                                            u"updated_at"_qs, u"upload_date"_qs, u"url"_qs, u"youtube_id"_qs}));
        QCOMPARE(added.value(u"sync_state"_qs).toString(), u"needsAdd"_qs);
        run = cli(laptop, {u"sync"_qs});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, u"Synced: 2 videos, 0 pending.\n"_qs);
        QCOMPARE(list(laptop).at(0)[u"title"_qs].toString(), u"Title of aaaaaaaaaaa"_qs);
        // Edits are written at once and sent by the next sync.
        QCOMPARE(cli(laptop, {u"edit"_qs, u"aaaaaaaaaaa"_qs, u"--title"_qs, u"My title"_qs, u"--date"_qs,
                              u"2019/05/06"_qs, u"--length"_qs, u"1:02:03"_qs})
                     .exitCode,
                 0);
        QCOMPARE(cli(laptop, {u"exclude"_qs, u"bbbbbbbbbbb"_qs}).out, u"Excluded bbbbbbbbbbb\n"_qs);
        QCOMPARE(cli(laptop, {u"exclude"_qs, u"bbbbbbbbbbb"_qs}).out, u"bbbbbbbbbbb is already excluded.\n"_qs);
        QCOMPARE(list(laptop, {}).size(), 1);
        QCOMPARE(list(laptop, {u"--excluded"_qs}).size(), 1);
        run = cli(laptop, {u"edit"_qs, u"zzzzzzzzzzz"_qs, u"--title"_qs, u"x"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"no video with the ID “zzzzzzzzzzz”"_qs));
        QCOMPARE(cli(laptop, {u"sync"_qs}).exitCode, 0);
        // A second device signing in to the same account gets the library as the service has it.
        const QString phone = signedInProfile(u"one@example.com"_qs);
        QMap<QString, QJsonObject> laptopLibrary = byID(list(laptop));
        QCOMPARE(byID(list(phone)), laptopLibrary);
        const QJsonObject edited = laptopLibrary.value(u"aaaaaaaaaaa"_qs);
        QCOMPARE(QStringList({edited[u"title"_qs].toString(), edited[u"upload_date"_qs].toString(),
                              edited[u"duration"_qs].toString()}),
                 QStringList({u"My title"_qs, u"2019/05/06"_qs, u"1:02:03"_qs}));
        QVERIFY(laptopLibrary.value(u"bbbbbbbbbbb"_qs)[u"excluded"_qs].toBool());
        // A deletion waits for the next sync; including again is written at once. Both reaching
        // another device is the engine's convergence, tested with two devices.
        QCOMPARE(cli(phone, {u"delete"_qs, u"aaaaaaaaaaa"_qs}).out,
                 u"Deleted aaaaaaaaaaa; the next sync deletes it on the service.\n"_qs);
        QCOMPARE(cli(phone, {u"include"_qs, u"bbbbbbbbbbb"_qs}).out, u"Included bbbbbbbbbbb again\n"_qs);
        QCOMPARE(list(phone, {}).size(), 1);
        // A video added and deleted before any sync never reaches the service.
        QCOMPARE(cli(laptop, {u"add"_qs, u"https://youtu.be/ccccccccccc"_qs}).exitCode, 0);
        QCOMPARE(cli(laptop, {u"delete"_qs, u"ccccccccccc"_qs}).out, u"Deleted ccccccccccc\n"_qs);
        QCOMPARE(list(laptop).size(), 2);
    }

    void oneWriterAtATime()
    {
        const QString profile = signedInProfile(u"two@example.com"_qs);
        QString error;
        auto held = StoreLock::acquire(profile + u"/data/library.sqlite"_qs, &error);
        QVERIFY2(held, qPrintable(error));
        for (const QStringList &write : {QStringList{u"add"_qs, u"https://youtu.be/ddddddddddd"_qs},
                                         QStringList{u"sync"_qs}, QStringList{u"signout"_qs}}) {
            const Run run = cli(profile, write);
            QCOMPARE(run.exitCode, 3);
            QVERIFY2(run.err.contains(u"The library is in use by another Clipvane process"_qs), qPrintable(run.err));
        }
        // Readers and the inbox need no lock.
        QCOMPARE(
            cli(profile, {u"share"_qs, u"https://youtu.be/ddddddddddd"_qs, u"https://youtu.be/eeeeeeeeeee"_qs}).out,
            u"Queued 2 links.\n"_qs);
        const Run status = cli(profile, {u"status"_qs});
        QCOMPARE(status.exitCode, 0);
        QVERIFY(status.out.contains(u"Signed in:        yes"_qs) && status.out.contains(u"Queued links:     2\n"_qs));
        QCOMPARE(list(profile).size(), 0);
        // Once the holder is gone, even without cleaning up after itself (a crash leaves the
        // lock file naming it; its process ID may already belong to another live program of
        // the same name), the next cycle takes the queued links in.
        held.reset();
        QFile stale(StoreLock::lockPath(profile + u"/data/library.sqlite"_qs));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                    QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
        stale.close();
        QCOMPARE(cli(profile, {u"sync"_qs}).out, u"Synced: 2 videos, 0 pending.\n"_qs);
        QVERIFY(cli(profile, {u"status"_qs}).out.contains(u"Queued links:     0\n"_qs));
        // A holder killed while taking the lock can leave an empty lock file: it holds nothing.
        QVERIFY(stale.open(QIODevice::WriteOnly | QIODevice::Truncate));
        stale.close();
        QCOMPARE(cli(profile, {u"sync"_qs}).exitCode, 0);
    }

    void failuresSayWhyAndKeepTheLibrary()
    {
        const QString profile = signedInProfile(u"three@example.com"_qs);
        // Links the library refuses are named with the reason, by add and by share alike.
        const QString foreign = u"https://youtu.be/x-abcdef1"_qs;
        const QString tooLong = u"https://youtu.be/"_qs + QString(257, u'a');
        for (const QString &command : {u"add"_qs, u"share"_qs}) {
            const Run refused = cli(profile, {command, foreign, tooLong});
            QCOMPARE(refused.exitCode, 1);
            QCOMPARE(refused.out, QString());
            QVERIFY2(
                refused.err.contains(u"not added “https://youtu.be/x-abcdef1”: A video ID can't begin with “x-”."_qs) &&
                    refused.err.contains(u"longer than 256 characters"_qs),
                qPrintable(refused.err));
        }
        QCOMPARE(cli(profile, {u"add"_qs, u"https://youtu.be/fffffffffff"_qs}).exitCode, 0);
        // A service that cannot be reached: the edit stays pending.
        Run run = cli(profile, {u"sync"_qs}, u"http://127.0.0.1:1/api"_qs);
        QCOMPARE(run.exitCode, 1);
        QVERIFY(!run.err.trimmed().isEmpty());
        QCOMPARE(list(profile).at(0).toObject().value(u"sync_state"_qs).toString(), u"needsAdd"_qs);
        // An address that would send the token in clear across a network is refused.
        run = cli(profile, {u"sync"_qs}, u"http://example.com/api"_qs);
        QCOMPARE(run.exitCode, 2);
        // A token the service does not know changes nothing: the sign-in that works stays.
        run = cli(profile, {u"signin"_qs, u"--token"_qs, u"not-a-token"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"the service refused the token"_qs));
        QVERIFY(cli(profile, {u"status"_qs}).out.contains(u"Signed in:        yes, as three@example.com\n"_qs));
        QCOMPARE(cli(profile, {u"sync"_qs}).exitCode, 0);
        QCOMPARE(list(profile).at(0).toObject().value(u"title"_qs).toString(), u"Title of fffffffffff"_qs);
        // Signed out, nothing syncs; the library stays.
        QCOMPARE(cli(profile, {u"signout"_qs}).exitCode, 0);
        run = cli(profile, {u"sync"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"not signed in"_qs));
        QCOMPARE(list(profile).size(), 1);
    }

    // A service that trickles its answer is given up (its deadline shortened here), the command
    // ends with a message and a non-zero status, and the library is free for the next writer.
    void tricklingServiceReleasesTheLibrary()
    {
        const QString profile = signedInProfile(u"four@example.com"_qs);
        FakeHttpServer trickling;
        trickling.setDefaultReply(FakeReply::trickle(QByteArray(4096, ' ') + "{}", 1, std::chrono::milliseconds(200)));
        QVERIFY(trickling.start());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"CLIPVANE_API_DEADLINE_MS"_qs, u"1500"_qs);
        process.setProcessEnvironment(environment);
        start(process, profile, {u"sync"_qs}, trickling.url(u"/api"_qs).toString());
        const bool ended = process.waitForFinished(30000);
        if (!ended)
            process.kill(), process.waitForFinished();
        QVERIFY(ended);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(u"Timed out"_qs));
        QVERIFY(trickling.chunkedBytesSent() < 4096);
        QCOMPARE(cli(profile, {u"add"_qs, u"https://youtu.be/ggggggggggg"_qs}).exitCode, 0);
    }

    // Killed at moments of the full pull that follows a family change: whatever the moment, the
    // library still holds every video it had, and the next completed sync brings it to what the
    // service holds.
    void familyChangeKilledMidPullKeepsTheLibrary()
    {
        constexpr int kOwnVideos = 3000;
        constexpr int kSharedVideos = 3;
        constexpr int kKills = 12;
        const auto link = [](const QString &prefix, int serial) {
            return u"https://youtu.be/%1%2"_qs.arg(prefix).arg(serial, 10, 10, QLatin1Char('0'));
        };
        const QString member = signedInProfile(u"member@example.com"_qs);
        QStringList add{u"add"_qs};
        for (int i = 0; i < kOwnVideos; ++i)
            add.append(link(u"m"_qs, i));
        QCOMPARE(cli(member, add).exitCode, 0);
        QCOMPARE(cli(member, {u"sync"_qs}).exitCode, 0);
        QCOMPARE(list(member).size(), kOwnVideos);
        // The owner shares a library with the member: the member's family revision changes.
        MemorySecretStore ownerSecrets;
        ownerSecrets.keychainSave(m_service->token(u"owner@example.com"_qs), SecretKeys::token);
        QNetworkAccessManager network;
        APIClient owner(QUrl(m_service->apiBase()), ownerSecrets, network);
        for (int i = 0; i < kSharedVideos; ++i)
            QVERIFY(waitForTask(owner.upsert(link(u"o"_qs, i), {})).ok());
        QVERIFY(waitForTask(owner.familyAction(u"add"_qs, u"member@example.com"_qs)).ok());
        // Kills spread over the pull: some before it starts, most in its middle.
        int killed = 0;
        for (int attempt = 0; attempt < kKills; ++attempt) {
            QProcess sync;
            start(sync, member, {u"sync"_qs});
            QVERIFY(sync.waitForStarted());
            QThread::msleep(40 + 40 * attempt);
            sync.kill();
            QVERIFY(sync.waitForFinished());
            killed += sync.exitStatus() == QProcess::CrashExit ? 1 : 0;
            const qsizetype stored = list(member).size();
            QVERIFY2(stored >= kOwnVideos,
                     qPrintable(u"%1 of %2 after kill %3"_qs.arg(stored).arg(kOwnVideos).arg(attempt)));
        }
        QVERIFY(killed > 0);
        QCOMPARE(cli(member, {u"sync"_qs}).exitCode, 0);
        QCOMPARE(list(member).size(), kOwnVideos + kSharedVideos);
    }

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

QTEST_GUILESS_MAIN(CliProgramTest)
#include "CliProgramTest.moc"
