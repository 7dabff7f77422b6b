#include "ExportWriter.h"
#include "FamilyInvite.h"
#include "LastSyncText.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace clipvane;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Makes every write of this process beyond `bytes` fail, as a full disk would (and as even the
// superuser cannot override, unlike file permissions).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

class AccountLogicTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void inviteAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("buttonEnabled");
        QTest::addColumn<QString>("sent"); // empty: nothing is sent
        QTest::newRow("plain") << "ann@example.com" << false << true << "ann@example.com";
        QTest::newRow("spaces and tabs trimmed") << " \tann@example.com \t" << false << true << "ann@example.com";
        QTest::newRow("case and inner text kept")
            << "Ann Smith@Example.COM" << false << true << "Ann Smith@Example.COM";
        QTest::newRow("no format check") << "not an address" << false << true << "not an address";
        QTest::newRow("line break is not trimmed") << "ann@example.com\n" << false << true << "ann@example.com\n";
        QTest::newRow("only spaces: button on, nothing sent") << "   " << false << true << "";
        QTest::newRow("empty") << "" << false << false << "";
        QTest::newRow("busy: button off, Return still sends")
            << "ann@example.com" << true << false << "ann@example.com";
    }
    void inviteAddress()
    {
        QFETCH(QString, typed);
        QFETCH(bool, busy);
        QFETCH(bool, buttonEnabled);
        QFETCH(QString, sent);
        QCOMPARE(FamilyInvite::canInvite(typed, busy), buttonEnabled);
        QCOMPARE(FamilyInvite::address(typed), sent);
    }

    void exportWriter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<int>("sizeLimit"); // 0: none
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray old = "{\"old\":true}";
        const QString name = u"clipvane-export.json"_qs;
        QTest::newRow("new file") << name << false << 0 << true << QByteArray("EXPORT");
        QTest::newRow("replaces the old file") << name << true << 0 << true << QByteArray("EXPORT");
        QTest::newRow("failing write keeps the old file") << name << true << 4096 << false << old;
        QTest::newRow("failing write leaves no new file") << name << false << 4096 << false << QByteArray("<missing>");
        QTest::newRow("a folder that is gone") << u"gone/"_qs + name << false << 0 << false << QByteArray("<missing>");
    }
    void exportWriter()
    {
        QFETCH(QString, name);
        QFETCH(bool, oldFile);
        QFETCH(int, sizeLimit);
        QFETCH(bool, ok);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (oldFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"old\":true}");
        }
        // Bytes are written as received: a large body with every byte value, or a short marker.
        QByteArray bytes = "EXPORT";
        if (sizeLimit > 0) {
            bytes.resize(256 * 1024);
            for (qsizetype i = 0; i < bytes.size(); ++i)
                bytes[i] = char(i % 256);
        }
        bool written = false;
        QString error;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit > 0)
                limit.emplace(rlim_t(sizeLimit));
            written = ExportWriter::write(path, bytes, &error);
        }
        QCOMPARE(written, ok);
        QCOMPARE(error.isEmpty(), ok);
        QCOMPARE(readAll(path), expected);
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), oldFile || ok ? 1 : 0);
    }

    void lastSync_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("lastSync");
        QTest::addColumn<QString>("text");
        const QDateTime time(QDate(2026, 12, 7), QTime(9, 5), Qt::LocalTime);
        QTest::newRow("never") << "en_US" << QDateTime() << "\u2014";
        QTest::newRow("US English") << "en_US" << time << "Dec 7, 2026 9:05 AM";
        QTest::newRow("British English") << "en_GB" << time << "7 Dec 2026 09:05";
        QTest::newRow("German") << "de_DE" << time << "7. Dez. 2026 09:05";
    }
    void lastSync()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, lastSync);
        QFETCH(QString, text);
        QCOMPARE(LastSyncText::format(lastSync, QLocale(locale)), text);
    }
};

QTEST_GUILESS_MAIN(AccountLogicTest)
#include "AccountLogicTest.moc"
