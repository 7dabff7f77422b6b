#include "AppArguments.h"
#include "GoogleAuth.h"
#include "MacAppState.h"
#include "MainWindow.h"
#include "OnboardedFlag.h"
#include "SecretStore.h"
#include "SingleInstance.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "UrlHandler.h"
#include "Video.h"
#include "VideoStore.h"

#include "Fonts.h"
#include "Palette.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QUrlQuery>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace clipvane;
using namespace clipvane::test;
using Outcome = UrlHandler::Outcome;

class AppShellTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openedUrls_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("token"); // stored afterwards
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("added"); // the video ID now stored as needsAdd

        const QString before = u"old-token"_qs;
        QTest::newRow("callback") << false << u"clipvaneshelf://auth?token=T1&email=a%40b.c"_qs
                                  << int(Outcome::signedIn) << u"T1"_qs << u"a@b.c"_qs << QString();
        QTest::newRow("callback without e-mail") << false << u"clipvaneshelf://auth?token=T1"_qs
                                                 << int(Outcome::signedIn) << u"T1"_qs << QString() << QString();
        QTest::newRow("callback while signed in waits for the user")
            << true << u"clipvaneshelf://auth?token=T1&email=x"_qs << int(Outcome::awaitsConfirmation) << before
            << QString() << QString();
        QTest::newRow("no token, a link in the text")
            << false << u"clipvaneshelf://auth?v=https://youtu.be/dQw4w9WgXcQ"_qs << int(Outcome::added) << QString()
            << QString() << u"dQw4w9WgXcQ"_qs;
        QTest::newRow("no token, no link") << false << u"clipvaneshelf://auth?email=x"_qs << int(Outcome::ignored)
                                           << QString() << QString() << QString();
        QTest::newRow("percent-encoded short link") << true << u"https%3A%2F%2Fyoutu.be%2FdQw4w9WgXcQ"_qs
                                                    << int(Outcome::added) << before << QString() << u"dQw4w9WgXcQ"_qs;
        QTest::newRow("watch link") << false << u"https://www.youtube.com/watch?v=aqz-KE-bpKQ&t=3"_qs
                                    << int(Outcome::added) << QString() << QString() << u"aqz-KE-bpKQ"_qs;
        QTest::newRow("another site's callback host is no sign-in")
            << false << u"https://auth/?token=T1&email=x"_qs << int(Outcome::ignored) << QString() << QString()
            << QString();
        QTest::newRow("plain words") << false << u"hello there"_qs << int(Outcome::ignored) << QString() << QString()
                                     << QString();
    }
    void openedUrls()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, text);
        QFETCH(int, outcome);
        QFETCH(QString, token);
        QFETCH(QString, email);
        QFETCH(QString, added);
        TestLibrary library;
        SyncEngine &engine = library.session->engine();
        if (signedIn)
            QVERIFY(engine.signIn(u"old-token"_qs, QString()));
        OnboardedFlag onboarded(library.session->standard());
        UrlHandler handler(engine, library.session->store(), onboarded, nullptr);
        QSignalSpy confirm(&handler, &UrlHandler::signInNeedsConfirmation);

        QCOMPARE(int(handler.handle(text)), outcome);
        QCOMPARE(library.secrets.keychainRead(SecretKeys::token).value_or(QString()), token);
        QCOMPARE(library.secrets.keychainRead(SecretKeys::email).value_or(QString()), email);
        QCOMPARE(onboarded.value(), outcome == int(Outcome::signedIn));
        QCOMPARE(confirm.size(), outcome == int(Outcome::awaitsConfirmation) ? 1 : 0);
        QCOMPARE(library.session->store().all().size(), added.isEmpty() ? 0 : 1);
        if (!added.isEmpty()) {
            const Video *video = library.session->store().find(added);
            QVERIFY(video);
            QCOMPARE(video->syncStateRaw, SyncStateRaw::needsAdd);
            QVERIFY(!library.session->store().hasUnsavedChanges());
        }
    }

    // The sign-in this application waits for is completed by its callback even while someone is
    // signed in; the same callback without the state would have waited for the user.
    void callbackWithTheWaitingState()
    {
        TestLibrary library;
        QVERIFY(library.session->engine().signIn(u"old-token"_qs, QString()));
        OnboardedFlag onboarded(library.session->standard());
        QList<QUrl> opened;
        GoogleAuth auth(QUrl(u"http://127.0.0.1:9"_qs), [&](const QUrl &url) { return opened.append(url), true; });
        UrlHandler handler(library.session->engine(), library.session->store(), onboarded, &auth);
        QCoro::Task<GoogleAuth::Result> signIn = auth.signIn();
        const QString state = QUrlQuery(opened.last()).queryItemValue(u"state"_qs);
        QCOMPARE(handler.handle(u"clipvaneshelf://auth?token=T&email=e&state="_qs + state), Outcome::completedSignIn);
        QCOMPARE(QCoro::waitFor(signIn).token, u"T"_qs);
    }

    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // a part of the message; empty: accepted
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QString>("api");
        QTest::newRow("links") << QStringList{u"https://youtu.be/x"_qs, u"y"_qs} << QString()
                               << QStringList{u"https://youtu.be/x"_qs, u"y"_qs} << QString();
        QTest::newRow("options both ways")
            << QStringList{u"--profile=/tmp/p"_qs, u"--api"_qs, u"http://127.0.0.1:8470/api"_qs} << QString()
            << QStringList() << u"http://127.0.0.1:8470/api"_qs;
        QTest::newRow("clear text elsewhere") << QStringList{u"--api"_qs, u"http://example.com/api"_qs}
                                              << u"not a usable service address"_qs << QStringList() << QString();
        QTest::newRow("missing value") << QStringList{u"--profile"_qs} << u"needs a folder"_qs << QStringList()
                                       << QString();
        QTest::newRow("unknown option") << QStringList{u"--frobnicate"_qs} << u"unknown option"_qs << QStringList()
                                        << QString();
        QTest::newRow("after --, everything is a link")
            << QStringList{u"--"_qs, u"--api"_qs} << QString() << QStringList{u"--api"_qs} << QString();
    }
    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QFETCH(QStringList, links);
        QFETCH(QString, api);
        const auto parsed = AppArguments::parse(arguments);
        if (!error.isEmpty()) {
            QVERIFY(std::get<QString>(parsed).contains(error));
            return;
        }
        const AppArguments &accepted = std::get<AppArguments>(parsed);
        QCOMPARE(accepted.links, links);
        QCOMPARE(accepted.apiBase.toString(), api);
    }

    void handOffMessages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("links") << SingleInstance::encode({u"https://youtu.be/x"_qs, u"ü"_qs}) << true;
        QTest::newRow("nothing: show the window") << SingleInstance::encode({}) << true;
        QTest::newRow("not an array") << QByteArray("{\"a\":1}\n") << false;
        QTest::newRow("not texts") << QByteArray("[1,2]\n") << false;
        QTest::newRow("garbage") << QByteArray("\xff\xfe[\n") << false;
    }
    void handOffMessages()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, accepted);
        QCOMPARE(SingleInstance::decode(message).has_value(), accepted);
    }

    // A later launch's links reach the running application; a socket left by one that died is
    // taken over; a message that never ends or is too large is dropped.
    void handOffBetweenLaunches()
    {
        const QString name = u"clipvane-test-%1"_qs.arg(QCoreApplication::applicationPid());
        leaveDeadSocket(name);
        SingleInstance running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::messageReceived);

        bool handed = false;
        QThread *launch = QThread::create([&] { handed = SingleInstance::handOff(name, {u"https://youtu.be/x"_qs}); });
        launch->start();
        QVERIFY(received.wait(5000));
        QVERIFY(launch->wait(5000));
        delete launch;
        QVERIFY(handed);
        QCOMPARE(received.first().first().toStringList(), QStringList{u"https://youtu.be/x"_qs});

        QLocalSocket flood;
        flood.connectToServer(name);
        QVERIFY(flood.waitForConnected(2000));
        flood.write(QByteArray(SingleInstance::kMaxMessageBytes + 10, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(received.size(), 1);

        SingleInstance second(name);
        QVERIFY(!second.listen()); // a live application keeps its name
    }

    void rootSwitch()
    {
        QCOMPARE(MainWindow::showsLibrary(false, false), false);
        QCOMPARE(MainWindow::showsLibrary(true, false), false);
        QCOMPARE(MainWindow::showsLibrary(false, true), false); // a token, but never onboarded here
        QCOMPARE(MainWindow::showsLibrary(true, true), true);

        TestLibrary library;
        OnboardedFlag onboarded(library.session->standard());
        GoogleAuth auth(QUrl(u"http://127.0.0.1:9"_qs), [](const QUrl &) { return true; });
        MacAppState state(library.session->standard());
        MainWindow window(library.session->engine(), library.session->store(), onboarded, auth, state,
                          library.session->api());
        QCOMPARE(window.size(), MainWindow::kDefaultSize);
        QCOMPARE(window.windowTitle(), u"Clipvane"_qs);
        QVERIFY(library.session->engine().signIn(u"T"_qs, u"e"_qs));
        QVERIFY(!window.isShowingLibrary());
        onboarded.set(true);
        QVERIFY(window.isShowingLibrary());
        library.session->engine().signOut();
        QVERIFY(!window.isShowingLibrary());
    }

private:
    // A socket file whose application is gone, as a crash leaves it.
    static void leaveDeadSocket(const QString &name)
    {
        QLocalServer::removeServer(name);
        QLocalServer probe;
        QVERIFY(probe.listen(name));
        const QByteArray path = probe.fullServerName().toLocal8Bit();
        probe.close();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
        ::close(fd);
    }
};

int main(int argc, char *argv[])
{
    // The library side of the window holds the player's web view.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-zygote");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    Palette::applyTo(app);
    Fonts::load();
    AppShellTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AppShellTest.moc"
