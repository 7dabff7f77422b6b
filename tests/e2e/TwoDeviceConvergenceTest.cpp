// Two devices of one account edit at random while syncing with the real service; after two quiet
// syncs each, both stores hold exactly the service's library and nothing is pending.

#include "APIClient.h"
#include "LinkParser.h"
#include "MemorySecretStore.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "Video.h"
#include "VideoStore.h"
#include "WaitForTask.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QTest>
#include <memory>

using namespace clipvane;
using namespace clipvane::test;

namespace {

// One installation of the application; only the test starts its cycles.
struct Device : TestLibrary
{
    Device(const QString &name, const QUrl &base, const QString &token)
        : TestLibrary(base, std::chrono::hours(1))
        , name(name)
    {
        engine.signIn(token, u"both@example.com"_qs);
    }

    // Runs one whole cycle, and the follow-up a kick during it asked for.
    void syncToEnd()
    {
        QCoro::waitFor(engine.sync());
        QTRY_VERIFY_WITH_TIMEOUT(!engine.syncing(), 60000);
    }

    QString name;
    VideoStore &store = session->store();
    SyncEngine &engine = session->engine();
};

// The fields both sides must agree on, as one comparable text (of a stored or a served video).
template<typename V> QString describe(const V &video)
{
    return u"%1|%2|%3|%4|%5|%6|%7|%8"_qs
        .arg(video.youtubeID, video.title, video.url, video.uploadDate, video.duration,
             video.excluded ? u"x"_qs : u"-"_qs)
        .arg(video.createdAt)
        .arg(video.updatedAt);
}

} // namespace

class TwoDeviceConvergenceTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServiceProcess> m_service;
    QNetworkAccessManager m_network;

    // The service's library, read page by page from the start: the latest row of every ID.
    QStringList serviceLibrary(const QString &token)
    {
        MemorySecretStore secrets;
        secrets.keychainSave(token, SecretKeys::token);
        APIClient client(QUrl(m_service->apiBase()), secrets, m_network);
        QMap<QString, APIVideo> latest;
        qint64 since = 0;
        qint64 afterID = 0;
        for (;;) {
            const ApiResult<VideoPage> page = waitForTask(client.videos(since, afterID, SyncEngine::kPageLimit));
            if (!page)
                return {u"page failed: "_qs + page.error().description()};
            for (const APIVideo &video : page->videos)
                latest.insert(video.youtubeID, video);
            if (page->objectCount < SyncEngine::kPageLimit)
                break;
            since = page->videos.last().updatedAt;
            afterID = page->videos.last().id;
        }
        QStringList rows;
        for (const APIVideo &video : std::as_const(latest))
            if (!video.deleted)
                rows.append(describe(video));
        rows.sort();
        return rows;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // No metadata lookups: titles stay the service's placeholder and no retry changes a row.
        QProcessEnvironment environment;
        environment.insert(u"CLIPVANE_OEMBED_BASE"_qs, u"http://127.0.0.1:1/oembed"_qs);
        m_service = std::make_unique<ServiceProcess>(QStringLiteral(CLIPVANE_SERVICE_BINARY), environment);
        QVERIFY2(m_service->start(), qPrintable(m_service->error()));
    }

    void randomEditsConverge_data()
    {
        QTest::addColumn<quint32>("seed");
        const quint32 given = quint32(qEnvironmentVariableIntValue("CLIPVANE_TEST_SEED"));
        const quint32 first = given != 0 ? given : quint32(QDateTime::currentMSecsSinceEpoch());
        for (quint32 round = 0; round < 3; ++round)
            QTest::addRow("seed %u", first + round) << first + round;
    }

    void randomEditsConverge()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        const QString email = u"user%1@example.com"_qs.arg(seed);
        const QString token = m_service->token(email);
        QVERIFY(!token.isEmpty());
        const QUrl base(m_service->apiBase());
        Device laptop(u"laptop"_qs, base, token);
        Device phone(u"phone"_qs, base, token);
        QTRY_VERIFY_WITH_TIMEOUT(!laptop.engine.syncing() && !phone.engine.syncing(), 60000);

        // A small pool of videos, so both devices keep touching the same ones.
        QStringList pool;
        for (int i = 0; i < 10; ++i)
            pool.append(u"conv%1"_qs.arg(seed % 100000 * 10 + quint32(i), 7, 10, QLatin1Char('0')));

        for (int step = 0; step < 160; ++step) {
            Device &device = random.bounded(2) == 0 ? laptop : phone;
            const QList<const Video *> records = device.store.all();
            const Video *some = records.isEmpty() ? nullptr : records.at(random.bounded(int(records.size())));
            const QString id = some ? some->youtubeID : QString();
            LocalEdits &edits = device.engine.edits();
            switch (random.bounded(7)) {
            case 0:
            case 1:
                edits.add(shortLink(pool.at(random.bounded(int(pool.size())))));
                break;
            case 2:
                edits.setExcluded(id, some && !some->excluded);
                break;
            case 3:
                edits.edit(id, u"Title %1"_qs.arg(step), u"20%1-01-01"_qs.arg(10 + step % 15),
                           u"%1:00"_qs.arg(step % 60));
                break;
            case 4:
                edits.remove(id);
                break;
            case 5:
                // A cycle that runs on while the next edits happen.
                device.engine.syncNow();
                break;
            case 6:
                QTest::qWait(random.bounded(25));
                break;
            }
        }

        QTRY_VERIFY_WITH_TIMEOUT(!laptop.engine.syncing() && !phone.engine.syncing(), 60000);
        for (int round = 0; round < 2; ++round) {
            for (Device *device : {&laptop, &phone}) {
                device->syncToEnd();
                QVERIFY2(!device->engine.hasError(), qPrintable(device->name + u": "_qs + device->engine.lastError()));
            }
        }

        const QStringList expected = serviceLibrary(token);
        for (Device *device : {&laptop, &phone}) {
            QVERIFY2(device->store.pending().isEmpty(), qPrintable(device->name));
            QStringList held;
            for (const Video *video : device->store.all())
                held.append(describe(*video));
            held.sort();
            QCOMPARE(held, expected);
        }
    }
};

QTEST_GUILESS_MAIN(TwoDeviceConvergenceTest)
#include "TwoDeviceConvergenceTest.moc"
