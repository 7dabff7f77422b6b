#include "AppPaths.h"
#include "BoundedWait.h"
#include "FileSecretStore.h"
#include "MemorySecretStore.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace clipvane;
using namespace std::chrono_literals;

namespace {

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

// Answers when told to; optionally deletes itself right after answering, as keychain jobs do.
class Answerer : public QObject
{
    Q_OBJECT

public:
    int value = 0;
    bool deleteAfterAnswer = false;

    void answer(int result)
    {
        value = result;
        Q_EMIT answered();
        if (deleteAfterAnswer)
            deleteLater();
    }

Q_SIGNALS:
    void answered();
};

class SecretStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void fileRoundTrip();
    void fileIsPrivateWhateverTheUmask();
    void fileTightensLooseExistingFile();
    void fileGarbageReadsAsNothing_data();
    void fileGarbageReadsAsNothing();
    void fileCreatesItsFolder();
    void fileDeleteOfMissingFileCreatesNothing();
    void fileWriteFailureIsReported();

    void memoryStoreFailingWrites();

    void waitForPromptAnswer();
    void waitGivesUpAndIgnoresLateAnswer();
    void waitForSynchronousAnswer();
    void waitForSelfDeletingSender();

    void defaultStoreInProfileIsFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString secretsPath() const { return m_dir->filePath(QStringLiteral("secrets.json")); }
};

void SecretStoreTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void SecretStoreTest::fileRoundTrip()
{
    FileSecretStore store(secretsPath());
    QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);

    QVERIFY(store.keychainSave(QStringLiteral("first"), SecretKeys::token));
    QVERIFY(store.keychainSave(QString(), SecretKeys::email));
    QCOMPARE(store.keychainRead(SecretKeys::token), QStringLiteral("first"));
    QCOMPARE(store.keychainRead(SecretKeys::email), QString()); // stored empty, not missing

    // A second save replaces the first; a new store object sees what the first one wrote.
    QVERIFY(store.keychainSave(QStringLiteral("second \u00e9\u2014"), SecretKeys::token));
    FileSecretStore again(secretsPath());
    QCOMPARE(again.keychainRead(SecretKeys::token), QStringLiteral("second \u00e9\u2014"));

    again.keychainDelete(SecretKeys::token);
    QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
    QCOMPARE(store.keychainRead(SecretKeys::email), QString());

    // No temporary or lock file stays behind.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("secrets.json")});
}

void SecretStoreTest::fileIsPrivateWhateverTheUmask()
{
    const mode_t previous = ::umask(0);
    FileSecretStore store(secretsPath());
    const bool saved = store.keychainSave(QStringLiteral("token"), SecretKeys::token);
    ::umask(previous);
    QVERIFY(saved);
    QCOMPARE(modeOf(secretsPath()), 0600);
}

void SecretStoreTest::fileTightensLooseExistingFile()
{
    writeFile(secretsPath(), R"({"life_email":"a@b.c"})");
    QVERIFY(QFile::setPermissions(secretsPath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    FileSecretStore store(secretsPath());
    QVERIFY(store.keychainSave(QStringLiteral("token"), SecretKeys::token));
    QCOMPARE(modeOf(secretsPath()), 0600);
    QCOMPARE(store.keychainRead(SecretKeys::email), QStringLiteral("a@b.c"));
}

void SecretStoreTest::fileGarbageReadsAsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not JSON") << QByteArray("life_api_token=abc");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("array") << QByteArray(R"(["life_api_token","abc"])");
    QTest::newRow("value not text") << QByteArray(R"({"life_api_token":42})");
    QTest::newRow("truncated") << QByteArray(R"({"life_api_token":"ab)");
    QTest::newRow("oversized") << QByteArray(R"({"life_api_token":")") + QByteArray(1 << 20, 'a') + "\"}";
}

void SecretStoreTest::fileGarbageReadsAsNothing()
{
    QFETCH(QByteArray, content);
    writeFile(secretsPath(), content);
    FileSecretStore store(secretsPath());
    QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);

    // The next save replaces the damaged file with a sound one.
    QVERIFY(store.keychainSave(QStringLiteral("fresh"), SecretKeys::token));
    QCOMPARE(store.keychainRead(SecretKeys::token), QStringLiteral("fresh"));
}

void SecretStoreTest::fileCreatesItsFolder()
{
    const QString path = m_dir->filePath(QStringLiteral("a/b/secrets.json"));
    FileSecretStore store(path);
    QVERIFY(store.keychainSave(QStringLiteral("t"), SecretKeys::token));
    QCOMPARE(store.keychainRead(SecretKeys::token), QStringLiteral("t"));
}

void SecretStoreTest::fileDeleteOfMissingFileCreatesNothing()
{
    FileSecretStore store(secretsPath());
    store.keychainDelete(SecretKeys::token);
    QVERIFY(!QFile::exists(secretsPath()));
}

void SecretStoreTest::fileWriteFailureIsReported()
{
    // A path below a regular file can never be written, whoever runs the test.
    writeFile(m_dir->filePath(QStringLiteral("plain")), "x");
    FileSecretStore store(m_dir->filePath(QStringLiteral("plain/secrets.json")));
    QVERIFY(!store.keychainSave(QStringLiteral("t"), SecretKeys::token));
    QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
}

void SecretStoreTest::memoryStoreFailingWrites()
{
    MemorySecretStore store;
    QVERIFY(store.keychainSave(QStringLiteral("old"), SecretKeys::token));
    store.setFailWrites(true);
    QVERIFY(!store.keychainSave(QStringLiteral("new"), SecretKeys::token));
    QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
    store.setFailWrites(false);
    QVERIFY(store.keychainSave(QStringLiteral("new"), SecretKeys::token));
    QCOMPARE(store.keychainRead(SecretKeys::token), QStringLiteral("new"));
    QCOMPARE(store.readCount(), 2);
}

void SecretStoreTest::waitForPromptAnswer()
{
    Answerer answerer;
    int seen = 0;
    const bool answered = waitForAnswer(
        &answerer, &Answerer::answered, [&] { seen = answerer.value; },
        [&] { QTimer::singleShot(10ms, &answerer, [&] { answerer.answer(7); }); }, 5s);
    QVERIFY(answered);
    QCOMPARE(seen, 7);
}

void SecretStoreTest::waitGivesUpAndIgnoresLateAnswer()
{
    auto answerer = std::make_unique<Answerer>();
    int calls = 0;
    {
        int seen = 0; // lives only as long as the wait: a late answer must not write to it
        const bool answered = waitForAnswer(
            answerer.get(), &Answerer::answered,
            [&] {
                ++calls;
                seen = answerer->value;
            },
            [&] { QTimer::singleShot(150ms, answerer.get(), [&answerer] { answerer->answer(9); }); }, 20ms);
        QVERIFY(!answered);
        QCOMPARE(seen, 0);
    }
    QTRY_COMPARE(answerer->value, 9); // the late answer arrives and touches nothing of the wait
    QCOMPARE(calls, 0);
}

void SecretStoreTest::waitForSynchronousAnswer()
{
    Answerer answerer;
    int seen = 0;
    QVERIFY(waitForAnswer(
        &answerer, &Answerer::answered, [&] { seen = answerer.value; }, [&] { answerer.answer(3); }, 5s));
    QCOMPARE(seen, 3);
}

void SecretStoreTest::waitForSelfDeletingSender()
{
    QPointer<Answerer> answerer = new Answerer;
    answerer->deleteAfterAnswer = true;
    int seen = 0;
    QVERIFY(waitForAnswer(
        answerer.data(), &Answerer::answered, [&] { seen = answerer->value; },
        [&] { QTimer::singleShot(0, answerer.data(), [&] { answerer->answer(5); }); }, 5s));
    QCOMPARE(seen, 5);
    QTRY_VERIFY(answerer.isNull());
}

void SecretStoreTest::defaultStoreInProfileIsFile()
{
    AppPaths::setProfile(m_dir->path());
    SecretStore &store = defaultSecretStore();
    auto *file = dynamic_cast<FileSecretStore *>(&store);
    QVERIFY(file);
    QCOMPARE(file->path(), AppPaths::secretsFilePath());
    QVERIFY(file->path().startsWith(m_dir->path()));
    QVERIFY(store.keychainSave(QStringLiteral("t"), SecretKeys::token));
    QCOMPARE(modeOf(file->path()), 0600);
    AppPaths::setProfile(QString());
}

QTEST_GUILESS_MAIN(SecretStoreTest)
#include "SecretStoreTest.moc"
