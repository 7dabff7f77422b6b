#include "AppPaths.h"
#include "BoundedWait.h"
#include "FileSecretStore.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace clipvane;
using namespace std::chrono_literals;

namespace {

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

class SecretStoreTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name = u"secrets.json"_qs) const { return m_dir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void fileRoundTrip()
    {
        const QString nested = path(u"a/b/secrets.json"_qs); // folders are made as needed
        FileSecretStore store(nested);
        store.keychainDelete(SecretKeys::token); // deleting from no file creates none
        QVERIFY(!QFile::exists(nested));
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);

        QVERIFY(store.keychainSave(u"first"_qs, SecretKeys::token));
        QVERIFY(store.keychainSave(QString(), SecretKeys::email));
        QCOMPARE(store.keychainRead(SecretKeys::token), u"first"_qs);
        QCOMPARE(store.keychainRead(SecretKeys::email), QString()); // stored empty, not missing

        // A second save replaces the first; a new store object sees what the first one wrote.
        QVERIFY(store.keychainSave(u"second \u00e9\u2014"_qs, SecretKeys::token));
        FileSecretStore again(nested);
        QCOMPARE(again.keychainRead(SecretKeys::token), u"second \u00e9\u2014"_qs);

        again.keychainDelete(SecretKeys::token);
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        QCOMPARE(store.keychainRead(SecretKeys::email), QString());

        // No temporary or lock file stays behind.
        QCOMPARE(QDir(path(u"a/b"_qs)).entryList(QDir::Files | QDir::Hidden), QStringList{u"secrets.json"_qs});

        // A path below a regular file can never be written, whoever runs the test.
        writeFile(path(u"plain"_qs), "x");
        FileSecretStore blocked(path(u"plain/secrets.json"_qs));
        QVERIFY(!blocked.keychainSave(u"t"_qs, SecretKeys::token));
        QCOMPARE(blocked.keychainRead(SecretKeys::token), std::nullopt);
    }

    // Readable by the user alone, whatever the umask, also when an older file was looser.
    void fileIsPrivate()
    {
        writeFile(path(), "{\"life_email\":\"a@b.c\"}");
        QVERIFY(
            QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        const mode_t previous = ::umask(0);
        const bool saved = FileSecretStore(path()).keychainSave(u"token"_qs, SecretKeys::token);
        const bool savedNew = FileSecretStore(path(u"new.json"_qs)).keychainSave(u"token"_qs, SecretKeys::token);
        ::umask(previous);
        QVERIFY(saved && savedNew);
        QCOMPARE(modeOf(path()), 0600);
        QCOMPARE(modeOf(path(u"new.json"_qs)), 0600);
        QCOMPARE(FileSecretStore(path()).keychainRead(SecretKeys::email), u"a@b.c"_qs);
    }

    void fileGarbageReadsAsNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("life_api_token=abc");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("array") << QByteArray(R"(["life_api_token","abc"])");
        QTest::newRow("value not text") << QByteArray(R"({"life_api_token":42})");
        QTest::newRow("truncated") << QByteArray("{\"life_api_token\":\"ab");
        QTest::newRow("oversized") << "{\"life_api_token\":\"" + QByteArray(1 << 20, 'a') + "\"}";
    }

    void fileGarbageReadsAsNothing()
    {
        QFETCH(QByteArray, content);
        writeFile(path(), content);
        FileSecretStore store(path());
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        // The next save replaces the damaged file with a sound one.
        QVERIFY(store.keychainSave(u"fresh"_qs, SecretKeys::token));
        QCOMPARE(store.keychainRead(SecretKeys::token), u"fresh"_qs);
    }

    void defaultStoreInProfileIsFile()
    {
        AppPaths::setProfile(m_dir->path());
        auto *file = dynamic_cast<FileSecretStore *>(&defaultSecretStore());
        QVERIFY(file);
        QCOMPARE(file->path(), AppPaths::secretsFilePath());
        QVERIFY(file->path().startsWith(m_dir->path()));
        AppPaths::setProfile(QString());
    }

    // A keychain job's answer ends the wait, whether it comes later or at once inside start(),
    // from a sender that deletes itself; one that comes after the wait gave up touches nothing.
    void waitForAnswer_data()
    {
        QTest::addColumn<int>("delayMs"); // -1: at once, inside start()
        QTest::addColumn<bool>("inTime");
        QTest::newRow("at once") << -1 << true;
        QTest::newRow("later") << 0 << true;
        QTest::newRow("after the wait gave up") << 150 << false;
    }

    void waitForAnswer()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, inTime);
        // A job answers by naming itself, then deletes itself.
        QPointer<QObject> job = new QObject;
        const auto answer = [job] {
            job->setObjectName(u"5"_qs);
            job->deleteLater();
        };
        int calls = 0;
        {
            int seen = 0; // lives only as long as the wait: a late answer must not write to it
            const auto start = [&] {
                if (delayMs < 0)
                    answer();
                else
                    QTimer::singleShot(delayMs, job.data(), answer);
            };
            const bool answered = clipvane::waitForAnswer(
                job.data(), &QObject::objectNameChanged,
                [&] {
                    ++calls;
                    seen = job->objectName().toInt();
                },
                start, inTime ? 5s : 20ms);
            QCOMPARE(answered, inTime);
            QCOMPARE(seen, inTime ? 5 : 0);
        }
        QTRY_VERIFY(job.isNull()); // every answer arrives, in time or late
        QCOMPARE(calls, inTime ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(SecretStoreTest)
#include "SecretStoreTest.moc"
