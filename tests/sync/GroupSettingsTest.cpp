#include "GroupSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace clipvane;
using namespace std::chrono_literals;

namespace {

const char kWorkerFlag[] = "--append-worker";
constexpr int kWriters = 4;
constexpr int kLinksPerWriter = 40;

// Commas, quotes and spaces: the characters the settings format has to escape in a list.
QString linkOf(const QString &writer, int index)
{
    return u"https://youtu.be/%1x%2?a=1,b=\"two words\""_qs.arg(writer).arg(index);
}

// One writer: appends its links one at a time, as `clipvane-cli share` would.
int appendLinks(const QString &path, const QString &writer, int count)
{
    GroupSettings group(path);
    for (int i = 0; i < count; ++i) {
        if (!group.appendToShareInbox({linkOf(writer, i)})) {
            qWarning("writer %s: %s", qPrintable(writer), qPrintable(group.lastError()));
            return 1;
        }
    }
    return 0;
}

} // namespace

class GroupSettingsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;
    QString freshPath() { return m_dir.filePath(u"group-%1/group.ini"_qs.arg(++m_files)); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    // Values other processes and builds wrote: only what the format allows is taken; without a
    // file (which reading never creates) every value has its default.
    void valuesWrittenElsewhere_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("read");
        const auto row = [](const char *name, const char *key, const QVariant &stored, const QVariant &read) {
            QTest::newRow(name) << QString::fromLatin1(key) << stored << read;
        };
        const QVariant zero = qint64(0);
        row("cursor absent", "syncCursor", {}, zero);
        row("family revision absent", "familyRev", {}, u"0"_qs);
        row("widget absent", "widgetVisible", {}, true);
        row("inbox absent", "shareInbox", {}, QStringList());
        row("cursor, plus sign, leading zeros", "syncCursor", u"+0042"_qs, qint64(42));
        row("cursor, negative", "syncCursor", u"-7"_qs, qint64(-7));
        row("cursor, largest", "syncCursor", u"9223372036854775807"_qs, std::numeric_limits<qint64>::max());
        row("cursor beyond 64 bits", "syncCursor", u"9223372036854775808"_qs, zero);
        row("cursor, trailing letters", "syncCursor", u"12a"_qs, zero);
        row("cursor, space", "syncCursor", u" 5"_qs, zero);
        row("cursor, empty", "syncCursor", QString(), zero);
        row("cursor, a list", "syncCursor", QStringList{u"1"_qs, u"2"_qs}, zero);
        row("widget false", "widgetVisible", false, false);
        row("widget true", "widgetVisible", true, true);
        row("widget: zero is not a Boolean", "widgetVisible", u"0"_qs, true);
        row("widget: text", "widgetVisible", u"no"_qs, true);
        row("inbox list", "shareInbox", QStringList{u"one"_qs, u"two"_qs}, QStringList{u"one"_qs, u"two"_qs});
        row("inbox, one number", "shareInbox", 42, QStringList{u"42"_qs});
        row("inbox, bytes", "shareInbox", QByteArray("\x01\x02"), QStringList());
    }
    void valuesWrittenElsewhere()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, read);
        const QString path = freshPath();
        GroupSettings group(path);
        if (stored.isValid())
            QSettings(path, QSettings::IniFormat).setValue(key, stored);
        if (key == u"syncCursor"_qs)
            QCOMPARE(QVariant(group.syncCursor()), read);
        else if (key == u"familyRev"_qs)
            QCOMPARE(QVariant(group.familyRev()), read);
        else if (key == u"widgetVisible"_qs)
            QCOMPARE(QVariant(group.widgetVisible()), read);
        else
            QCOMPARE(QVariant(group.takeShareInbox()), read);
        QCOMPARE(QFile::exists(path), stored.isValid());
    }

    void cursorsRestartAndRemoval()
    {
        const QString path = freshPath();
        GroupSettings group(path);
        QVERIFY(group.setSyncCursor(-12345678901234));
        QCOMPARE(group.syncCursor(), -12345678901234);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(u"syncCursor"_qs), QVariant(u"-12345678901234"_qs));
        QVERIFY(group.setWidgetVisible(false));
        QVERIFY(group.appendToShareInbox({u"link"_qs}));

        QVERIFY(!group.familyRefreshPending());
        QVERIFY(group.restartForFamilyRev(u"rev-9"_qs));
        QCOMPARE(group.familyRev(), u"rev-9"_qs);
        QCOMPARE(group.syncCursor(), 0);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(u"syncCursor"_qs), QVariant(u"0"_qs));
        // The refresh outlives a sign-out; only the cursor of a completed pull ends it.
        QVERIFY(group.removeCursors());
        QVERIFY(group.familyRefreshPending());

        QVERIFY(group.setSyncCursor(66));
        QVERIFY(!group.familyRefreshPending());
        QVERIFY(group.removeCursors());
        // A copy under a new name: QSettings may trust its cache of a file name it has read.
        const QString copy = m_dir.filePath(u"copy-%1.ini"_qs.arg(m_files));
        QVERIFY(QFile::copy(path, copy));
        const QSettings raw(copy, QSettings::IniFormat);
        QVERIFY(!raw.contains(u"syncCursor"_qs) && !raw.contains(u"familyRev"_qs));
        QVERIFY(!group.widgetVisible());
        QCOMPARE(group.shareInbox(), QStringList{u"link"_qs});
    }

    void inboxKeepsEveryTextAsWritten()
    {
        // Commas, quotes, spaces and other characters the settings format has to escape.
        const QStringList links =
            u"https://youtu.be/abcdef|a, b|\"quoted\"|  spaced  |@Invalid()|видео ✓|back\\slash|semi;colon=equals"_qs
                .split(u'|');
        GroupSettings group(freshPath());
        QVERIFY(group.appendToShareInbox(links.mid(0, 1)));
        QVERIFY(group.appendToShareInbox(links.mid(1)));
        QCOMPARE(group.shareInbox(), links);
        QCOMPARE(group.takeShareInbox(), links);
        QVERIFY(group.takeShareInbox().isEmpty());
        QVERIFY(group.shareInbox().isEmpty());
    }

    void unreadableFileIsReplacedOnWrite()
    {
        const QString path = freshPath();
        GroupSettings group(path);
        QVERIFY(group.setSyncCursor(1)); // creates the folder
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArrayLiteral("\xff\xfe[[[garbage\n=\n\x00\x01"));
        file.close();
        QCOMPARE(group.syncCursor(), 0);
        QVERIFY(group.appendToShareInbox({u"https://youtu.be/after1"_qs}));
        QCOMPARE(group.takeShareInbox(), QStringList{u"https://youtu.be/after1"_qs});
    }

    // Another process holds the lock for longer than a call waits: nothing is written and
    // nothing is taken, so no link is lost or taken twice.
    void lockHeldElsewhere()
    {
        const QString path = freshPath();
        GroupSettings group(path, 50ms);
        QVERIFY(group.appendToShareInbox({u"first"_qs}));
        QLockFile held(path + u".lock"_qs);
        QVERIFY(held.tryLock(0));

        QVERIFY(!group.appendToShareInbox({u"second"_qs}));
        QVERIFY(!group.lastError().isEmpty());
        QVERIFY(group.takeShareInbox().isEmpty());
        QVERIFY(!group.setSyncCursor(3));

        held.unlock();
        QCOMPARE(group.takeShareInbox(), QStringList{u"first"_qs});

        // A holder killed mid-change leaves its file, naming a process ID that may belong to a
        // live program of the same name by now (here: this test). The kernel's lock tells.
        QFile left(path + u".lock"_qs);
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                   QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
        left.close();
        QVERIFY(left.open(QIODevice::ReadOnly));
        QVERIFY(left.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
        left.close();
        QVERIFY2(group.appendToShareInbox({u"third"_qs}), qPrintable(group.lastError()));
    }

    // Writer processes append while the application takes: every link arrives exactly once.
    void concurrentWritersLoseNothing()
    {
        const QString path = freshPath();
        GroupSettings group(path);
        QVERIFY(group.setSyncCursor(1)); // creates the folder before the writers race for it

        std::vector<std::unique_ptr<QProcess>> children;
        for (int w = 0; w < kWriters; ++w) {
            auto child = std::make_unique<QProcess>();
            child->setProcessChannelMode(QProcess::ForwardedChannels);
            child->start(QCoreApplication::applicationFilePath(),
                         {QString::fromLatin1(kWorkerFlag), path, u"w%1"_qs.arg(w), QString::number(kLinksPerWriter)});
            QVERIFY(child->waitForStarted());
            children.push_back(std::move(child));
        }

        QStringList taken;
        const auto running = [](const auto &child) { return child->state() != QProcess::NotRunning; };
        do {
            QTest::qWait(1);
            taken += group.takeShareInbox();
        } while (std::any_of(children.begin(), children.end(), running));
        taken += group.takeShareInbox();

        QStringList expected;
        for (int w = 0; w < kWriters; ++w) {
            QCOMPARE(children.at(w)->exitStatus(), QProcess::NormalExit);
            QCOMPARE(children.at(w)->exitCode(), 0);
            for (int i = 0; i < kLinksPerWriter; ++i)
                expected.append(linkOf(u"w%1"_qs.arg(w), i));
        }
        taken.sort();
        expected.sort();
        QCOMPARE(taken, expected);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], kWorkerFlag) == 0)
        return appendLinks(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    GroupSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "GroupSettingsTest.moc"
