// The clipvane program as a user starts it, configured through its environment.
#include "AppPaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace clipvane;

class AppProcessTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_profiles;

    QProcessEnvironment environment(const QString &profile) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        environment.insert(u"CLIPVANE_PROFILE"_qs, profile);
        // Nothing answers there: the application keeps to its own store.
        environment.insert(u"CLIPVANE_API_BASE"_qs, u"http://127.0.0.1:9/api"_qs);
        // The library window holds the player's web view; its engine refuses root without this.
        environment.insert(u"QTWEBENGINE_DISABLE_SANDBOX"_qs, u"1"_qs);
        environment.insert(u"QTWEBENGINE_CHROMIUM_FLAGS"_qs, u"--disable-gpu --no-zygote"_qs);
        return environment;
    }

    int run(const QString &program, const QString &profile, const QStringList &arguments, QString *err = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(environment(profile));
        process.start(program, arguments);
        if (!process.waitForFinished(30000))
            return -1;
        if (err)
            *err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // The store as `clipvane-cli list` reads it (no lock: the application may hold it).
    QHash<QString, QString> stored(const QString &profile)
    {
        QProcess process;
        process.setProcessEnvironment(environment(profile));
        process.start(QStringLiteral(CLIPVANE_CLI_BINARY), {u"list"_qs, u"--json"_qs, u"--all"_qs});
        process.waitForFinished(30000);
        QHash<QString, QString> states;
        for (const QJsonValue &value : QJsonDocument::fromJson(process.readAllStandardOutput()).array())
            states.insert(value[u"youtube_id"_qs].toString(), value[u"sync_state"_qs].toString());
        return states;
    }

    static QString storePathOf(const QString &profile)
    {
        AppPaths::setProfile(profile);
        const QString path = AppPaths::storePath();
        AppPaths::setProfile(QString());
        return path;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_profiles.isValid()); }

    // Signing in and both ways of sync are driven through the real window by the window suite.
    void aSecondLaunchHandsItsLinkOver()
    {
        const QString desktop = m_profiles.filePath(u"desktop"_qs);
        QProcess application;
        application.setProcessEnvironment(environment(desktop));
        application.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        application.start(QStringLiteral(CLIPVANE_APP_BINARY));
        QVERIFY(application.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(storePathOf(desktop)), 20000);

        QElapsedTimer handOff;
        handOff.start();
        QCOMPARE(run(QStringLiteral(CLIPVANE_APP_BINARY), desktop, {u"https%3A%2F%2Fyoutu.be%2FdQw4w9WgXcQ"_qs}), 0);
        qInfo("a second launch handed its link over in %lld ms", handOff.elapsed());
        QTRY_COMPARE_WITH_TIMEOUT(stored(desktop).value(u"dQw4w9WgXcQ"_qs), u"needsAdd"_qs, 10000);

        application.terminate();
        QVERIFY(application.waitForFinished(20000));
        QCOMPARE(application.exitStatus(), QProcess::NormalExit);
    }

    void unopenableStoreStopsStartUp()
    {
        const QString profile = m_profiles.filePath(u"broken"_qs);
        const QString path = storePathOf(profile);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray garbage = QByteArray("not a library at all ") + QByteArray(5000, '\x7f');
        file.write(garbage);
        file.close();

        QString err;
        const int status = run(QStringLiteral(CLIPVANE_APP_BINARY), profile, {}, &err);
        QVERIFY2(status != 0 && status != -1, qPrintable(err));
        QVERIFY2(err.contains(u"clipvane: "_qs), qPrintable(err));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);
    }
};

QTEST_GUILESS_MAIN(AppProcessTest)
#include "AppProcessTest.moc"
