// Two devices signed in to one account make random interleaved edits while their cycles run
// against the real service; once both have synced twice without further edits, both stores
// hold exactly the service's library and nothing is pending.

#include "APIClient.h"
#include "LibrarySession.h"
#include "LinkParser.h"
#include "MemorySecretStore.h"
#include "NetworkWatch.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "SystemClock.h"
#include "Video.h"
#include "VideoStore.h"
#include "WaitForTask.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace clipvane;
using namespace clipvane::test;

namespace {

// One installation of the application: its own store, settings and keychain.
struct Device
{
    Device(const QString &name, const QUrl &base, QNetworkAccessManager &network, const QString &token)
        : name(name)
    {
        LibrarySession::Options options;
        options.apiBase = base;
        options.storePath = dir.filePath(u"library.sqlite"_qs);
        options.groupSettingsPath = dir.filePath(u"group.ini"_qs);
        options.standardSettingsPath = dir.filePath(u"standard.ini"_qs);
        options.secrets = &secrets;
        options.network = &network;
        options.clock = &clock;
        options.networkWatch = &watch;
        // Only the test starts cycles; edits never start one by themselves here.
        options.debounce = std::chrono::hours(1);
        QString error;
        library = LibrarySession::open(options, &error);
        if (!library)
            qFatal("device %s: %s", qPrintable(name), qPrintable(error));
        store = &library->store();
        engine = &library->engine();
        engine->signIn(token, u"both@example.com"_qs);
    }

    // Runs one whole cycle, and the follow-up a kick during it asked for.
    void syncToEnd()
    {
        QCoro::waitFor(engine->sync());
        QTRY_VERIFY_WITH_TIMEOUT(!engine->syncing(), 60000);
    }

    QString name;
    QTemporaryDir dir;
    MemorySecretStore secrets;
    SystemClock clock;
    NetworkWatch watch;
    std::unique_ptr<LibrarySession> library;
    VideoStore *store = nullptr;
    SyncEngine *engine = nullptr;
};

// The fields both sides must agree on, as one comparable text.
QString describe(const QString &id, const QString &title, const QString &url, const QString &date,
                 const QString &duration, bool excluded, qint64 createdAt, qint64 updatedAt)
{
    return u"%1|%2|%3|%4|%5|%6|%7|%8"_qs.arg(id, title, url, date, duration, excluded ? u"x"_qs : u"-"_qs)
        .arg(createdAt)
        .arg(updatedAt);
}

QStringList describeStore(const VideoStore &store)
{
    QStringList rows;
    for (const Video *video : store.all())
        rows.append(describe(video->youtubeID, video->title, video->url, video->uploadDate, video->duration,
                             video->excluded, video->createdAt, video->updatedAt));
    rows.sort();
    return rows;
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
            if (!page) {
                qWarning() << "page failed:" << page.error().description();
                return {};
            }
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
                rows.append(describe(video.youtubeID, video.title, video.url, video.uploadDate, video.duration,
                                     video.excluded, video.createdAt, video.updatedAt));
        rows.sort();
        return rows;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // No metadata lookups: every video keeps the service's placeholder title, and no
        // background retry changes a row while the test compares.
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
        Device laptop(u"laptop"_qs, base, m_network, token);
        Device phone(u"phone"_qs, base, m_network, token);
        QTRY_VERIFY_WITH_TIMEOUT(!laptop.engine->syncing() && !phone.engine->syncing(), 60000);

        // A small pool of videos, so both devices keep touching the same ones.
        QStringList pool;
        for (int i = 0; i < 10; ++i)
            pool.append(u"conv%1"_qs.arg(seed % 100000 * 10 + quint32(i), 7, 10, QLatin1Char('0')));

        for (int step = 0; step < 160; ++step) {
            Device &device = random.bounded(2) == 0 ? laptop : phone;
            const QList<Video *> records = device.store->all();
            Video *some = records.isEmpty() ? nullptr : records.at(random.bounded(int(records.size())));
            switch (random.bounded(7)) {
            case 0:
            case 1:
                device.engine->addVideo(shortLink(pool.at(random.bounded(int(pool.size())))));
                device.store->save();
                break;
            case 2:
                device.engine->toggleExcluded(some);
                break;
            case 3:
                if (some)
                    device.engine->applyEdit(some, u"Title %1"_qs.arg(step), u"20%1-01-01"_qs.arg(10 + step % 15),
                                             u"%1:00"_qs.arg(step % 60));
                break;
            case 4:
                device.engine->markDeleted(some);
                break;
            case 5:
                // A cycle that runs on while the next edits happen.
                device.engine->syncNow();
                break;
            case 6:
                QTest::qWait(random.bounded(25));
                break;
            }
        }

        QTRY_VERIFY_WITH_TIMEOUT(!laptop.engine->syncing() && !phone.engine->syncing(), 60000);
        for (int round = 0; round < 2; ++round) {
            for (Device *device : {&laptop, &phone}) {
                device->syncToEnd();
                QVERIFY2(!device->engine->hasError(),
                         qPrintable(device->name + u": "_qs + device->engine->lastError()));
            }
        }

        const QStringList expected = serviceLibrary(token);
        for (Device *device : {&laptop, &phone}) {
            QVERIFY2(device->store->pending().isEmpty(), qPrintable(device->name));
            const QStringList held = describeStore(*device->store);
            for (const QString &row : expected)
                if (!held.contains(row))
                    qWarning().noquote() << device->name << "lacks" << row;
            for (const QString &row : held)
                if (!expected.contains(row))
                    qWarning().noquote() << device->name << "has extra" << row;
            QCOMPARE(held, expected);
        }
    }
};

QTEST_GUILESS_MAIN(TwoDeviceConvergenceTest)
#include "TwoDeviceConvergenceTest.moc"
