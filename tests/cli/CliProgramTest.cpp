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
#include "TerminalText.h"
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
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

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

// Whether a terminal would show every character of the text as itself: nothing it acts on
// (controls) and nothing that hides or reorders what follows (format characters, separators).
bool plainOnTerminal(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == u'\n' || !(c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                               c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph);
    });
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
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
    // A service that answers with texts meant to take over a terminal.
    FakeHttpServer m_hostile;
    std::unique_ptr<ServiceProcess> m_service;
    QTemporaryDir m_profiles;
    int m_nextProfile = 0;

    // setUp: before the start (environment, standard input, a modifier of the child process).
    using SetUp = std::function<void(QProcess &)>;

    void start(QProcess &process, const QString &profile, const QStringList &arguments, const QString &api = {},
               const SetUp &setUp = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Commands fail at once on a held library unless a test asks for the wait.
        environment.insert(u"CLIPVANE_LOCK_WAIT_MS"_qs, u"0"_qs);
        process.setProcessEnvironment(environment);
        if (setUp)
            setUp(process);
        process.start(QStringLiteral(CLIPVANE_CLI_BINARY),
                      QStringList{u"--profile"_qs, profile, u"--api"_qs, api.isEmpty() ? m_service->apiBase() : api} +
                          arguments);
    }

    Run cli(const QString &profile, const QStringList &arguments, const QString &api = QString(),
            const SetUp &setUp = {})
    {
        QProcess process;
        start(process, profile, arguments, api, setUp);
        return finish(process);
    }

    static Run finish(QProcess &process)
    {
        Run run;
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(120000))
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
        m_hostile.setHandler([](const RecordedRequest &request) {
            if (request.path == "/api/family.php" && request.method == "GET")
                return FakeReply::json(QJsonDocument(QJsonObject{
                                                         {u"members"_qs, QJsonArray{u"m\u202e@x.org"_qs}},
                                                         {u"shared_with_me"_qs, QJsonArray{u"o\x1b]0;x\x07@x.org"_qs}},
                                                         {u"declined"_qs, QJsonArray{u"d\u009b@x.org"_qs}},
                                                     })
                                           .toJson());
            if (request.path != "/api/videos.php")
                return FakeReply::json("{}");
            const QJsonObject video{
                {u"id"_qs, 1},
                {u"youtube_id"_qs, u"ab\x1b[2Jcd"_qs},
                {u"title"_qs, u"T\x1b[2J\u202eevil\u009b"_qs},
                {u"url"_qs, u"https://youtu.be/abcdefghijk"_qs},
                {u"upload_date"_qs, u"2020\x1b[K-01-01"_qs},
                {u"duration"_qs, u"1:00\u2028"_qs},
                {u"updated_at"_qs, 1},
                {u"owner_email"_qs, u"o\x1b]0;x\x07@x.org"_qs},
                {u"read_only"_qs, 1},
            };
            return FakeReply::json(QJsonDocument(QJsonObject{{u"now"_qs, 2},
                                                             {u"family_rev"_qs, u"7\x1b[2J"_qs},
                                                             {u"total"_qs, 1},
                                                             {u"videos"_qs, QJsonArray{video}}})
                                       .toJson());
        });
        QVERIFY(m_hostile.start());
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
        QCOMPARE(added.keys(),
                 (QStringList{u"created_at"_qs, u"duration"_qs, u"excluded"_qs, u"owner_email"_qs, u"position"_qs,
                              u"read_only"_qs, u"source"_qs, u"sync_state"_qs, u"title"_qs, u"updated_at"_qs,
                              u"upload_date"_qs, u"url"_qs, u"watched"_qs, u"youtube_id"_qs}));
        QCOMPARE(added.value(u"watched"_qs), QJsonValue(false));
        QCOMPARE(added.value(u"position"_qs), QJsonValue(0));
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
        // A lost library comes back whole, and the sync says it fetched everything again.
        const QMap<QString, QJsonObject> beforeLoss = byID(list(laptop));
        for (const QString &suffix : {u""_qs, u"-wal"_qs, u"-shm"_qs})
            QFile::remove(laptop + u"/data/library.sqlite"_qs + suffix);
        run = cli(laptop, {u"sync"_qs});
        QVERIFY2(run.exitCode == 0 && run.err.contains(u"fetching all of it again"_qs), qPrintable(run.err));
        QCOMPARE(byID(list(laptop)).keys(), beforeLoss.keys());
        // A second device signing in to the same account gets the library as the service has it.
        const QString phone = signedInProfile(u"one@example.com"_qs);
        QMap<QString, QJsonObject> laptopLibrary = byID(list(laptop));
        QCOMPARE(byID(list(phone)), laptopLibrary);
        const QJsonObject edited = laptopLibrary.value(u"aaaaaaaaaaa"_qs);
        QCOMPARE(QStringList({edited[u"title"_qs].toString(), edited[u"upload_date"_qs].toString(),
                              edited[u"duration"_qs].toString()}),
                 QStringList({u"My title"_qs, u"2019/05/06"_qs, u"1:02:03"_qs}));
        QVERIFY(laptopLibrary.value(u"bbbbbbbbbbb"_qs)[u"excluded"_qs].toBool());
        // Each device's change of its own fields survives the other's: the laptop's watched mark,
        // the phone's title and position of the same video, in whichever order they arrive.
        QCOMPARE(cli(laptop, {u"mark"_qs, u"aaaaaaaaaaa"_qs, u"--watched"_qs}).out,
                 u"Marked aaaaaaaaaaa as watched.\n"_qs);
        QCOMPARE(cli(phone, {u"edit"_qs, u"aaaaaaaaaaa"_qs, u"--title"_qs, u"Phone title"_qs}).exitCode, 0);
        QCOMPARE(cli(phone, {u"mark"_qs, u"aaaaaaaaaaa"_qs, u"--position"_qs, u"95"_qs}).out,
                 u"Marked aaaaaaaaaaa to resume at 95 seconds.\n"_qs);
        for (const QString &device : {laptop, phone, laptop})
            QCOMPARE(cli(device, {u"sync"_qs}).exitCode, 0);
        laptopLibrary = byID(list(laptop));
        QCOMPARE(byID(list(phone)), laptopLibrary);
        const QJsonObject marked = laptopLibrary.value(u"aaaaaaaaaaa"_qs);
        QCOMPARE(marked[u"title"_qs].toString(), u"Phone title"_qs);
        QCOMPARE(marked[u"watched"_qs], QJsonValue(true));
        QCOMPARE(marked[u"position"_qs], QJsonValue(95));
        run = cli(laptop, {u"mark"_qs, u"zzzzzzzzzzz"_qs, u"--unwatched"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"no video with the ID “zzzzzzzzzzz”"_qs));
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

    void terminalText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const QString &text, const QString &shown) {
            QTest::newRow(name) << text << shown;
        };
        row("window title", u"\x1b]0;owned\x07"_qs, u"\\x1b]0;owned\\x07"_qs);
        row("screen cleared", u"a\x1b[2J\x1b[H"_qs, u"a\\x1b[2J\\x1b[H"_qs);
        row("line breaks and tabs", u"a\r\nb\tc"_qs, u"a\\x0d\\x0ab\\x09c"_qs);
        row("NUL and DEL", QString(QChar(0)) + u"\x7f"_qs, u"\\x00\\x7f"_qs);
        row("C1 control sequence introducer", u"\u009b2J\u0085"_qs, u"\\x9b2J\\x85"_qs);
        row("right-to-left override", u"evil\u202egpj.exe"_qs, u"evil\\u202egpj.exe"_qs);
        row("isolates, zero width, BOM", u"\u2066a\u2069\u200b\ufeff"_qs, u"\\u2066a\\u2069\\u200b\\ufeff"_qs);
        row("line separator", u"a\u2028b"_qs, u"a\\u2028b"_qs);
        row("tag character", QString::fromUcs4(U"a\U000E0041"), u"a\\U000e0041"_qs);
        row("half a character", QString(QChar(0xD800)) + u"x"_qs, u"\\ud800x"_qs);
        row("letters, emoji and backslashes stay", QString::fromUcs4(U"Ünïcode — 日本 \\x1b 😀"),
            QString::fromUcs4(U"Ünïcode — 日本 \\x1b 😀"));
    }

    void terminalText()
    {
        QFETCH(QString, text);
        QTEST(TerminalText::shown(text), "shown");
    }

    // Texts from the service and the command line reach the terminal escaped in every command's
    // words, and exactly in --json.
    void hostileTextsReachTheTerminalEscaped()
    {
        const QString profile = m_profiles.filePath(QString::number(++m_nextProfile));
        const QString api = m_hostile.url(u"/api"_qs).toString();
        writeFile(profile + u".token"_qs, "hostile-token\n");
        Run run = cli(
            profile,
            {u"signin"_qs, u"--token-file"_qs, profile + u".token"_qs, u"--email"_qs, u"me\x1b]0;t\x07@x.org"_qs}, api);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QString title = u"T\x1b[2J\u202eevil\u009b"_qs;
        const QString link = u"https://youtu.be/\x1b[31mred\x07"_qs;
        const QList<Run> runs{run,
                              cli(profile, {u"list"_qs}, api),
                              cli(profile, {u"status"_qs}, api),
                              cli(profile, {u"family"_qs}, api),
                              cli(profile, {u"add"_qs, link}, api),
                              cli(profile, {u"edit"_qs, u"\x1b[2J"_qs, u"--title"_qs, u"x"_qs}, api)};
        for (const Run &each : runs)
            QVERIFY2(plainOnTerminal(each.out) && plainOnTerminal(each.err), qPrintable(each.out + each.err));
        QVERIFY2(runs.at(1).out.contains(u"T\\x1b[2J\\u202eevil\\x9b"_qs), qPrintable(runs.at(1).out));
        QVERIFY(runs.at(1).out.startsWith(u"ab\\x1b[2Jcd  "_qs));
        QVERIFY(runs.at(1).out.contains(u"[shared by o\\x1b]0;x\\x07@x.org]"_qs));
        QVERIFY(runs.at(2).out.contains(u"Family revision:  7\\x1b[2J\n"_qs));
        QVERIFY(runs.at(3).out.contains(u"Shared with me:\n  o\\x1b]0;x\\x07@x.org\n"_qs));
        QVERIFY(runs.at(4).err.contains(u"youtu.be/\\x1b[31mred\\x07"_qs));
        const QJsonArray records = list(profile);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.at(0)[u"title"_qs].toString(), title);
        QCOMPARE(records.at(0)[u"owner_email"_qs].toString(), u"o\x1b]0;x\x07@x.org"_qs);
    }

    // The token comes from a file or standard input, so it never shows in the process list;
    // what cannot be a token is refused before anything changes.
    void tokenFromFileOrStandardInput()
    {
        const QString api = m_hostile.url(u"/api"_qs).toString();
        const QString profile = m_profiles.filePath(QString::number(++m_nextProfile));
        const QString file = profile + u".token"_qs;
        m_hostile.clearRequests();
        const auto signIn = [&](const QStringList &how) { return cli(profile, QStringList{u"signin"_qs} + how, api); };
        struct Refusal
        {
            QByteArray content; // null: no file
            QString because;
        };
        for (const Refusal &refusal :
             {Refusal{QByteArray(), u"cannot be read"_qs}, Refusal{"\n", u"holds no token"_qs},
              Refusal{"a\nb\n", u"holds more than a token"_qs}, Refusal{"two words", u"holds more than a token"_qs},
              Refusal{QByteArray(20000, 'a'), u"holds more than a token"_qs}}) {
            QFile::remove(file);
            if (!refusal.content.isNull())
                writeFile(file, refusal.content);
            const Run run = signIn({u"--token-file"_qs, file});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains(refusal.because), qPrintable(run.err));
        }
        QCOMPARE(m_hostile.requestCount(), 0);
        writeFile(file, "from-file\r\n");
        QCOMPARE(signIn({u"--token-file"_qs, file}).exitCode, 0);
        QProcess piped;
        start(piped, profile, {u"signin"_qs, u"--token"_qs, u"-"_qs}, api);
        piped.write("from-stdin\n");
        piped.closeWriteChannel();
        const Run fromInput = finish(piped);
        QVERIFY2(fromInput.exitCode == 0 && fromInput.err.isEmpty(), qPrintable(fromInput.err));
        const Run inArguments = signIn({u"--token"_qs, u"in-arguments"_qs});
        QCOMPARE(inArguments.exitCode, 0);
        QVERIFY(inArguments.err.contains(u"visible to other users of this computer"_qs));
        QSet<QByteArray> sent;
        for (const RecordedRequest &request : m_hostile.requests())
            sent.insert(request.header("Authorization"));
        QCOMPARE(sent, (QSet<QByteArray>{"Bearer from-file", "Bearer from-stdin", "Bearer in-arguments"}));
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

    // A writer finding the library held waits, says so, and goes on once the holder lets go.
    void aWriterWaitsForABriefHolder()
    {
        const QString profile = m_profiles.filePath(QString::number(++m_nextProfile));
        QString error;
        auto held = StoreLock::acquire(profile + u"/data/library.sqlite"_qs, &error);
        QVERIFY2(held, qPrintable(error));
        QProcess add;
        start(add, profile, {u"add"_qs, u"https://youtu.be/ggggggggggg"_qs}, {}, [](QProcess &process) {
            QProcessEnvironment environment = process.processEnvironment();
            environment.insert(u"CLIPVANE_LOCK_WAIT_MS"_qs, u"600000"_qs);
            process.setProcessEnvironment(environment);
        });
        add.setReadChannel(QProcess::StandardError);
        QByteArray said;
        while (!said.contains("waiting up to 600 seconds") && add.waitForReadyRead(60000))
            said += add.readAllStandardError();
        QVERIFY2(said.contains("in use by another Clipvane process (") && said.contains("; waiting up to 600 seconds"),
                 said.constData());
        held.reset();
        const Run run = finish(add);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Added ggggggggggg\n"_qs);
    }

    // Each reason a change cannot be made has its own status, and nothing is said to be done
    // that did not reach the disk.
    void unwritableLibraryAndFailedSaveSayWhy()
    {
        const QString profile = m_profiles.filePath(QString::number(++m_nextProfile));
        QCOMPARE(cli(profile, {u"add"_qs, u"https://youtu.be/hhhhhhhhhhh"_qs}).exitCode, 0);

        // A full disk: the shared-memory index of the open store fits, a save of many records
        // does not.
        QStringList add{u"add"_qs};
        for (int i = 0; i < 2000; ++i)
            add.append(u"https://youtu.be/full%1"_qs.arg(i, 7, 10, QLatin1Char('0')));
        Run run = cli(profile, add, {}, [](QProcess &process) {
            process.setChildProcessModifier([] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{64 * 1024, 64 * 1024};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        });
        QCOMPARE(run.exitCode, 5);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith(u"clipvane-cli: The library could not be saved: "_qs), qPrintable(run.err));
        QCOMPARE(list(profile).size(), 1);

        // A library this user may read but not write, as the superuser's is to anyone else.
        const bool superuser = ::geteuid() == 0;
        const auto setModes = [&](bool writable) {
            const QFileDevice::Permissions read =
                QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
            const QFileDevice::Permissions enter =
                QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
            const QFileDevice::Permissions write = writable ? QFileDevice::WriteOwner : QFileDevice::Permissions();
            for (const QString &folder : {m_profiles.path(), profile, profile + u"/data"_qs}) {
                QVERIFY(QFile::setPermissions(folder, read | enter | write));
                for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files))
                    QVERIFY(QFile::setPermissions(file.filePath(), read | write));
            }
        };
        setModes(false);
        run = cli(profile, {u"add"_qs, u"https://youtu.be/iiiiiiiiiii"_qs}, {}, [superuser](QProcess &process) {
            if (superuser)
                process.setChildProcessModifier([] {
                    constexpr uid_t kNobody = 65534;
                    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                        ::_exit(99);
                });
        });
        setModes(true);
        QCOMPARE(run.exitCode, 4);
        QVERIFY2(run.err.contains(u"The library cannot be written"_qs), qPrintable(run.err));
        QCOMPARE(list(profile).size(), 1);
    }

    // Declining a shared library takes its videos out of the member's at the next sync, and the
    // owner is listed as declined.
    void declinedLibraryLeavesAtTheNextSync()
    {
        const QString member = signedInProfile(u"kin@example.com"_qs);
        MemorySecretStore ownerSecrets;
        ownerSecrets.keychainSave(m_service->token(u"sharer@example.com"_qs), SecretKeys::token);
        QNetworkAccessManager network;
        APIClient owner(QUrl(m_service->apiBase()), ownerSecrets, network);
        QVERIFY(waitForTask(owner.upsert(u"https://youtu.be/jjjjjjjjjjj"_qs, {})).ok());
        QVERIFY(waitForTask(owner.familyAction(u"add"_qs, u"kin@example.com"_qs)).ok());
        QCOMPARE(cli(member, {u"family"_qs, u"add"_qs, u"sharer@example.com"_qs}).exitCode, 0);
        QCOMPARE(cli(member, {u"sync"_qs}).exitCode, 0);
        QCOMPARE(list(member).size(), 1);
        QCOMPARE(cli(member, {u"family"_qs}).out,
                 u"People who can see my library:\n  sharer@example.com\nShared with me:\n  sharer@example.com\n"_qs);

        Run run = cli(member, {u"family"_qs, u"decline"_qs, u"sharer@example.com"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out,
                 u"Declined the library of sharer@example.com; its videos leave this library at the next sync.\n"_qs);
        QCOMPARE(cli(member, {u"sync"_qs}).exitCode, 0);
        QCOMPARE(list(member).size(), 0);
        const QJsonObject lists =
            QJsonDocument::fromJson(cli(member, {u"family"_qs, u"--json"_qs}).out.toUtf8()).object();
        QCOMPARE(lists.value(u"shared_with_me"_qs).toArray(), QJsonArray());
        QCOMPARE(lists.value(u"declined"_qs).toArray(), QJsonArray{u"sharer@example.com"_qs});
        QCOMPARE(cli(member, {u"family"_qs, u"remove"_qs, u"sharer@example.com"_qs}).exitCode, 0);
        QCOMPARE(cli(member, {u"family"_qs, u"unblock"_qs, u"sharer@example.com"_qs}).exitCode, 0);
        QCOMPARE(cli(member, {u"family"_qs}).out, u"People who can see my library:\n  No one yet.\n"_qs);

        // The service's refusal is said and ends in failure; signed out, nothing is asked.
        run = cli(member, {u"family"_qs, u"decline"_qs, u"not an address"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"That didn't work \u2014 check the address and try again."_qs));
        QCOMPARE(cli(member, {u"signout"_qs}).exitCode, 0);
        run = cli(member, {u"family"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(u"not signed in"_qs));
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

    // Files of links into a library: a summary on out, each refusal with its file and line and each
    // unreadable file on err; the status says whether every file was read. The import saves and
    // leaves the push to the next sync, as add does.
    void importSaysWhatCameOfEachFile()
    {
        const QString profile = signedInProfile(u"importer@example.com"_qs);
        QCOMPARE(cli(profile, {u"add"_qs, u"https://youtu.be/iiiiiiiiiii"_qs}).exitCode, 0);
        const QString playlist = m_profiles.filePath(u"playlist.csv"_qs);
        writeFile(playlist, "Video ID,Playlist Video Creation Timestamp\niiiiiiiiiii,1\njjjjjjjjjjj,2\nx-kkkkkkkk,3\n");
        const QString notes = m_profiles.filePath(u"notes.md"_qs);
        writeFile(notes, "- https://youtu.be/jjjjjjjjjjj\n- https://youtu.be/lllllllllll\n");
        const QString empty = m_profiles.filePath(u"empty.txt"_qs);
        writeFile(empty, "no links\n");

        Run run = cli(profile, {u"import"_qs, playlist, notes});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, u"Added 2 videos. 2 already in your library. 1 not added.\n"_qs);
        QCOMPARE(run.err, u"clipvane-cli: %1:4: not added “https://www.youtube.com/watch?v=x-kkkkkkkk”: "
                          "A video ID can't begin with “x-”.\n"_qs.arg(playlist));
        QCOMPARE(list(profile).size(), 3);

        run = cli(profile, {u"import"_qs, u"--json"_qs, notes, empty});
        QCOMPARE(run.exitCode, 1);
        const QJsonObject summary = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(summary.value(u"added"_qs).toInt(), 0);
        QCOMPARE(summary.value(u"already_there"_qs).toInt(), 2);
        const QJsonArray unreadable = summary.value(u"unreadable"_qs).toArray();
        QCOMPARE(unreadable.size(), 1);
        QCOMPARE(unreadable.at(0)[u"reason"_qs].toString(), u"No video links in %1."_qs.arg(empty));

        QCOMPARE(cli(profile, {u"sync"_qs}).exitCode, 0);
        for (const QJsonValue &video : list(profile))
            QCOMPARE(video[u"sync_state"_qs].toString(), u"synced"_qs);
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

    // sync --follow against a fake service: with a change stream it takes in a video another
    // device added, a cycle and a line for it, and lets go of the library on SIGTERM; against a
    // service of an earlier release it says so after its one sync.
    void syncFollow_data()
    {
        QTest::addColumn<bool>("live");
        QTest::newRow("live changes") << true;
        QTest::newRow("an earlier service") << false;
    }
    void syncFollow()
    {
        QFETCH(bool, live);
        const QString profile = signedInProfile(u"follow@example.com"_qs);
        // Beyond any clock the real service reported to the sign-in's sync, below 2^53.
        constexpr qint64 kBase = 4000000000000000;
        std::mutex mutex;
        QJsonArray videos;
        const auto feed = std::make_shared<ReplyFeed>();
        FakeHttpServer service;
        service.setHandler([&](const RecordedRequest &request) {
            if (request.path == "/api/events.php")
                return live ? FakeReply::eventStream(feed) : FakeReply::json(R"({"error":"not found"})", 404);
            std::lock_guard lock(mutex);
            return FakeReply::json(QJsonDocument(QJsonObject{{u"now"_qs, kBase + videos.size()},
                                                             {u"family_rev"_qs, u"0"_qs},
                                                             {u"total"_qs, videos.size()},
                                                             {u"videos"_qs, videos}})
                                       .toJson());
        });
        QVERIFY(service.start());

        QProcess process;
        start(process, profile, {u"sync"_qs, u"--follow"_qs}, service.url(u"/api"_qs).toString());
        if (!live) {
            const Run run = finish(process);
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.out, u"Synced: 0 videos, 0 pending.\n"_qs);
            QVERIFY2(run.err.contains(u"the service does not offer live changes"_qs), qPrintable(run.err));
            return;
        }
        QString out;
        const auto printed = [&](const QString &line) {
            return QTest::qWaitFor(
                [&] {
                    out += QString::fromUtf8(process.readAllStandardOutput());
                    return out.contains(line);
                },
                30000);
        };
        QVERIFY(printed(u"Synced: 0 videos, 0 pending.\n"_qs));
        QVERIFY(QTest::qWaitFor([&] { return feed->openConnections() == 1; }, 30000));
        {
            std::lock_guard lock(mutex);
            // One raw string a line: moc does not read raw strings across lines.
            videos.append(
                QJsonDocument::fromJson(R"({"id": 1, "youtube_id": "fffffffffff", "title": "Added elsewhere", )"
                                        R"("url": "https://youtu.be/fffffffffff", "upload_date": "2020-01-02", )"
                                        R"("duration": "3:00", "excluded": 0, "deleted": 0, "source": "web", )"
                                        R"("created_at": 1000, "owner_email": "", "read_only": 0, )"
                                        R"("updated_at": 4000000000000001})")
                    .object());
        }
        feed->write("event: change\ndata: {\"now\":" + QByteArray::number(kBase + 1) + "}\n\n");
        QVERIFY2(printed(u"Synced: 1 video, 0 pending.\n"_qs), qPrintable(out));
        process.terminate();
        const Run run = finish(process);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(out + run.out, u"Synced: 0 videos, 0 pending.\nSynced: 1 video, 0 pending.\n"_qs);
        // The library was let go: a writer takes it at once.
        QCOMPARE(cli(profile, {u"exclude"_qs, u"fffffffffff"_qs}).exitCode, 0);
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
        row("no files", "import --json", u"import needs at least one file"_qs);
        row("no ID", "delete", u"delete needs a video ID"_qs);
        row("two IDs", "exclude a b", u"exclude takes one video ID"_qs);
        row("operand to sync", "sync now", u"sync takes no arguments"_qs);
        row("follow beyond sync", "list --follow", u"list does not take --follow"_qs);
        const QString noToken = u"signin needs --token-file FILE, --token - (standard input) or --token T"_qs;
        row("signin without token", "signin --email a@b.c", noToken);
        row("empty token", "signin --token=", noToken);
        row("token twice over", "signin --token - --token-file t",
            u"signin takes --token or --token-file, not both"_qs);
        const QString family =
            u"family takes no arguments, or add, remove, decline or unblock and an e-mail address"_qs;
        row("family action without address", "family decline", family);
        row("family of another action", "family block a@b.c", family);
        row("edit of nothing", "edit x", u"edit needs at least one of --title, --date and --length"_qs);
        row("sort", "list --sort Title", u"--sort takes newest, oldest, title or longest"_qs);
        const QString markOne = u"mark needs one of --watched, --unwatched and --position SECONDS"_qs;
        row("mark of nothing", "mark x", markOne);
        row("mark both ways", "mark x --watched --unwatched", markOne);
        row("mark twice over", "mark x --watched --position 5", markOne);
        const QString seconds = u"--position takes whole seconds from 0 to 360000"_qs;
        row("negative position", "mark x --position -5", seconds);
        row("position not a number", "mark x --position=1:30", seconds);
        row("absurd position", "mark x --position 360001", seconds);
        row("position for another command", "edit x --position 5", u"edit does not take --position"_qs);
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
