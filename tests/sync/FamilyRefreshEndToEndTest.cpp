// clipvane-cli against the real clipvane-service, killed at moments of the full pull that
// follows a family change: whatever moment, the library still holds every video it had, and
// the next completed sync brings it to what the service holds.

#include "APIClient.h"
#include "FakeHttpServer.h"
#include "LinkParser.h"
#include "MemorySecretStore.h"
#include "ServiceProcess.h"
#include "WaitForTask.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

using namespace clipvane;
using namespace clipvane::test;

namespace {

const QString kMember = QStringLiteral("member@example.com");
const QString kOwner = QStringLiteral("owner@example.com");
constexpr int kOwnVideos = 3000;
constexpr int kSharedVideos = 3;
constexpr int kKills = 12;

QString link(const QString &prefix, int serial)
{
    return u"https://youtu.be/%1%2"_qs.arg(prefix).arg(serial, 10, 10, QLatin1Char('0'));
}

} // namespace

class FamilyRefreshEndToEndTest : public QObject
{
    Q_OBJECT

private:
    FakeHttpServer m_oembed;
    std::unique_ptr<ServiceProcess> m_service;
    QTemporaryDir m_profiles;

    QStringList cliArguments(const QString &profile, const QStringList &arguments) const
    {
        return QStringList{u"--profile"_qs, profile, u"--api"_qs, m_service->apiBase()} + arguments;
    }

    int cli(const QString &profile, const QStringList &arguments, QString *out = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral(CLIPVANE_CLI_BINARY), cliArguments(profile, arguments));
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        if (out != nullptr)
            *out = QString::fromUtf8(process.readAllStandardOutput());
        if (process.exitCode() != 0)
            qWarning() << arguments.first() << "failed:" << process.readAllStandardError();
        return process.exitCode();
    }

    // Every stored record, pending ones included.
    qsizetype storedVideos(const QString &profile)
    {
        QString out;
        if (cli(profile, {u"list"_qs, u"--json"_qs, u"--all"_qs}, &out) != 0)
            return -1;
        return QJsonDocument::fromJson(out.toUtf8()).array().size();
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

    void killedMidPullKeepsTheLibrary()
    {
        const QString member = m_profiles.filePath(u"member"_qs);
        QCOMPARE(cli(member, {u"signin"_qs, u"--token"_qs, m_service->token(kMember), u"--email"_qs, kMember}), 0);
        QStringList add{u"add"_qs};
        for (int i = 0; i < kOwnVideos; ++i)
            add.append(link(u"m"_qs, i));
        QCOMPARE(cli(member, add), 0);
        QCOMPARE(cli(member, {u"sync"_qs}), 0);
        QCOMPARE(storedVideos(member), kOwnVideos);

        // The owner shares a library with the member: the member's family revision changes.
        MemorySecretStore ownerSecrets;
        ownerSecrets.keychainSave(m_service->token(kOwner), SecretKeys::token);
        QNetworkAccessManager network;
        APIClient owner(QUrl(m_service->apiBase()), ownerSecrets, network);
        for (int i = 0; i < kSharedVideos; ++i)
            QVERIFY(waitForTask(owner.upsert(link(u"o"_qs, i), {})).ok());
        QVERIFY(waitForTask(owner.familyAction(u"add"_qs, kMember)).ok());

        // Kills spread over the pull: some before it starts, most in its middle.
        int killed = 0;
        for (int attempt = 0; attempt < kKills; ++attempt) {
            QProcess sync;
            sync.start(QStringLiteral(CLIPVANE_CLI_BINARY), cliArguments(member, {u"sync"_qs}));
            QVERIFY(sync.waitForStarted());
            QThread::msleep(40 + 40 * attempt);
            sync.kill();
            QVERIFY(sync.waitForFinished());
            killed += sync.exitStatus() == QProcess::CrashExit ? 1 : 0;
            const qsizetype stored = storedVideos(member);
            QVERIFY2(stored >= kOwnVideos,
                     qPrintable(u"%1 of %2 after kill %3"_qs.arg(stored).arg(kOwnVideos).arg(attempt)));
        }
        QVERIFY(killed > 0);

        QCOMPARE(cli(member, {u"sync"_qs}), 0);
        QCOMPARE(storedVideos(member), kOwnVideos + kSharedVideos);
    }
};

QTEST_GUILESS_MAIN(FamilyRefreshEndToEndTest)
#include "FamilyRefreshEndToEndTest.moc"
