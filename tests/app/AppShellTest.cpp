#include "../ui/WidgetTestMain.h"
#include "AppArguments.h"
#include "AppState.h"
#include "GoogleAuth.h"
#include "MainWindow.h"
#include "OnboardedFlag.h"
#include "OnboardingView.h"
#include "SecretStore.h"
#include "SignInConfirmation.h"
#include "SingleInstance.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "UrlHandler.h"
#include "Video.h"
#include "VideoStore.h"
#include "WindowMemory.h"

#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace clipvane;
using namespace clipvane::test;
using Outcome = UrlHandler::Outcome;
using AuthOutcome = GoogleAuth::Result::Outcome;
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(SingleInstance::HandOff)

namespace {

// Records the addresses it is asked to open, as a browser would receive them.
struct FakeBrowser
{
    bool available = true;
    QList<QUrl> opened;
    GoogleAuth::Opener opener()
    {
        return [this](const QUrl &url) {
            opened.append(url);
            return available;
        };
    }
    QString lastState() const { return QUrlQuery(opened.last()).queryItemValue(u"state"_qs); }
};

QUrl callback(const QString &query)
{
    return QUrl(u"clipvaneshelf://auth?"_qs + query);
}

} // namespace

class AppShellTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openedUrls_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("after"); // the stored token and e-mail, and "+ID state" per record
        const auto row = [](const char *name, bool signedIn, const char *text, Outcome outcome, const char *after) {
            QTest::newRow(name) << signedIn << QString::fromUtf8(text) << outcome << QString::fromUtf8(after);
        };
        const Outcome added = Outcome::added, ignored = Outcome::ignored;
        // Nobody asked for these: a program on the computer may have made them up.
        row("callback while signed out waits for the user", false, "clipvaneshelf://auth?token=T1&email=a%40b.c",
            Outcome::awaitsConfirmation, "");
        row("callback without e-mail waits for the user", false, "clipvaneshelf://auth?token=T1",
            Outcome::awaitsConfirmation, "");
        row("callback while signed in waits for the user", true, "clipvaneshelf://auth?token=T1&email=x",
            Outcome::awaitsConfirmation, "old-token");
        row("empty token", false, "clipvaneshelf://auth?token=&email=x", Outcome::refusedSignIn, "");
        row("blank token", true, "clipvaneshelf://auth?token=%20&email=x", Outcome::refusedSignIn, "old-token");
        row("callback with the state of the sign-in this application waits for", true,
            "clipvaneshelf://auth?token=T1&email=x&state=STATE", Outcome::completedSignIn, "old-token");
        row("no token, a link in the text", false, "clipvaneshelf://auth?v=https://youtu.be/dQw4w9WgXcQ", added,
            "+dQw4w9WgXcQ needsAdd");
        row("no token, no link", false, "clipvaneshelf://auth?email=x", ignored, "");
        row("percent-encoded short link", true, "https%3A%2F%2Fyoutu.be%2FdQw4w9WgXcQ", added,
            "old-token +dQw4w9WgXcQ needsAdd");
        row("watch link", false, "https://www.youtube.com/watch?v=aqz-KE-bpKQ&t=3", added, "+aqz-KE-bpKQ needsAdd");
        row("another site's callback host is no sign-in", false, "https://auth/?token=T1&email=x", ignored, "");
        row("plain words", false, "hello there", ignored, "");
    }
    void openedUrls()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, text);
        QFETCH(Outcome, outcome);
        TestLibrary library;
        SyncEngine &engine = library.session->engine();
        if (signedIn)
            QVERIFY(engine.signIn(u"old-token"_qs, QString()));
        OnboardedFlag onboarded(library.session->standard());
        FakeBrowser browser;
        GoogleAuth auth(QUrl(u"http://127.0.0.1:9"_qs), browser.opener());
        UrlHandler handler(engine, library.session->store(), onboarded, &auth);
        QSignalSpy confirm(&handler, &UrlHandler::signInNeedsConfirmation);
        // STATE stands for the state of a sign-in this application waits for.
        std::optional<QCoro::Task<GoogleAuth::Result>> waiting;
        if (text.contains(u"STATE"_qs)) {
            waiting.emplace(auth.signIn());
            text.replace(u"STATE"_qs, browser.lastState());
        }

        QCOMPARE(handler.handle(text), outcome);
        if (waiting)
            QCOMPARE(QCoro::waitFor(*waiting).token, u"T1"_qs);
        QStringList after{library.secrets.keychainRead(SecretKeys::token).value_or(QString()),
                          library.secrets.keychainRead(SecretKeys::email).value_or(QString())};
        for (const Video *video : library.session->store().all())
            after << u'+' + video->youtubeID + u' ' + video->syncStateRaw;
        after.removeAll(QString());
        QTEST(after.join(u' '), "after");
        QVERIFY(!library.session->store().hasUnsavedChanges());
        QVERIFY(!onboarded.value());
        QCOMPARE(confirm.size(), outcome == Outcome::awaitsConfirmation ? 1 : 0);
    }

    // Links nobody asked for are asked about one at a time, outside the handler that got them;
    // Cancel is the default, a flood is cut short, and the window may go with a question open.
    void signInLinksAreAskedAboutOneAtATime()
    {
        auto window = std::make_unique<QWidget>();
        window->show();
        SignInConfirmation confirmation(window.get(), [] { return QString(); });
        QSignalSpy confirmed(&confirmation, &SignInConfirmation::confirmed);
        const auto shownBox = [] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
                    return box;
                for (QMessageBox *box : top->findChildren<QMessageBox *>()) {
                    if (box->isVisible())
                        return box;
                }
            }
            return static_cast<QMessageBox *>(nullptr);
        };
        QVERIFY(confirmation.offer(u"T1"_qs, u"a@example.com"_qs));
        QVERIFY(!shownBox()); // not from within the handler that got the link
        QVERIFY(!confirmation.offer(u"T1"_qs, u"a@example.com"_qs));
        for (int i = 2; i <= 3; ++i)
            QVERIFY(confirmation.offer(u"T%1"_qs.arg(i), u"b@example.com"_qs));
        QVERIFY(!confirmation.offer(u"T4"_qs, u"b@example.com"_qs));
        QVERIFY(QTest::qWaitFor([&] { return shownBox() != nullptr; }));
        QVERIFY(shownBox()->text().contains(u"a@example.com"_qs));
        QCOMPARE(shownBox()->defaultButton(), shownBox()->button(QMessageBox::Cancel));
        QTest::keyClick(shownBox(), Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([&] { return shownBox() && shownBox()->text().contains(u"b@example.com"_qs); }));
        QCOMPARE(confirmed.size(), 0);
        shownBox()->buttons().constFirst()->click();
        QCOMPARE(confirmed.size(), 1);
        QCOMPARE(confirmed.at(0).at(0).toString(), u"T2"_qs);
        QVERIFY(QTest::qWaitFor([&] { return shownBox() != nullptr; }));
        QCOMPARE(confirmation.waiting(), 1);
        window.reset(); // quitting with a question open
        QTest::qWait(50);
        QCOMPARE(confirmed.size(), 1);
    }

    void callbackReading_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<std::optional<QString>>("email");
        const auto none = std::optional<QString>();
        const auto some = [](const char16_t *text) { return std::optional<QString>(QString::fromUtf16(text)); };
        QTest::newRow("email first, extra items") << u"x=1&email=a%40b.c&token=T&y"_qs << some(u"T") << some(u"a@b.c");
        QTest::newRow("first of duplicates") << u"token=one&token=two&email=e"_qs << some(u"one") << some(u"e");
        QTest::newRow("empty values count") << u"token=&email="_qs << some(u"") << some(u"");
        QTest::newRow("item without value") << u"token&email=e"_qs << none << some(u"e");
        QTest::newRow("no email") << u"token=T"_qs << some(u"T") << none;
        QTest::newRow("plus kept") << u"token=a%2Bb&email=me+v%40x.y"_qs << some(u"a+b") << some(u"me+v@x.y");
        QTest::newRow("names are exact") << u"Token=T&EMAIL=e"_qs << none << none;
    }
    void callbackReading()
    {
        QFETCH(QString, query);
        QFETCH(std::optional<QString>, token);
        QFETCH(std::optional<QString>, email);
        const QUrl url = callback(query);
        QCOMPARE(GoogleAuth::queryValue(url, u"token"_qs), token);
        QCOMPARE(GoogleAuth::queryValue(url, u"email"_qs), email);
        const auto pair = GoogleAuth::parseCallback(url);
        QCOMPARE(pair.has_value(), token.has_value() && email.has_value());
    }

    // Only this sign-in's state completes it; a newer one ends it silently; no browser is reported.
    void signInCompletesOnlyWithItsState()
    {
        FakeBrowser browser;
        GoogleAuth auth(QUrl(u"http://127.0.0.1:8470"_qs), browser.opener());

        QCoro::Task<GoogleAuth::Result> first = auth.signIn();
        QCOMPARE(browser.opened.size(), 1);
        QCOMPARE(browser.opened.last().path(), u"/gauth/login.php"_qs);
        const QString firstState = browser.lastState();
        QVERIFY(firstState.size() >= 32);

        QVERIFY(!auth.handleCallback(callback(u"token=T&email=e&state=forged"_qs)));
        QVERIFY(!auth.handleCallback(callback(u"token=T&email=e"_qs)));
        QCoro::Task<GoogleAuth::Result> second = auth.signIn();
        QCOMPARE(QCoro::waitFor(first).outcome, AuthOutcome::cancelled);
        QVERIFY(browser.lastState() != firstState);
        QVERIFY(!auth.handleCallback(callback(u"token=T&email=e&state="_qs + firstState)));

        QVERIFY(auth.handleCallback(callback(u"email=me%40x.y&token=T2&state="_qs + browser.lastState())));
        const GoogleAuth::Result done = QCoro::waitFor(second);
        QCOMPARE(done.outcome, AuthOutcome::signedIn);
        QCOMPARE(done.token, u"T2"_qs);
        QCOMPARE(done.email, u"me@x.y"_qs);
        QVERIFY(!auth.isWaiting());

        browser.available = false;
        QCOMPARE(QCoro::waitFor(auth.signIn()).outcome, AuthOutcome::browserUnavailable);
        QVERIFY(!auth.isWaiting());
    }

    void onboardingShowsWhatTheAttemptCameTo_data()
    {
        QTest::addColumn<QString>("answer"); // the callback's query after the state; "" = none
        QTest::addColumn<bool>("keychainWorks");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("onboarded");
        const QString failed = u"Google sign-in failed. Check your connection."_qs;
        QTest::newRow("signed in") << u"token=T&email=e%40x.y"_qs << true << QString() << true;
        QTest::newRow("no e-mail") << u"token=T"_qs << true << failed << false;
        QTest::newRow("keychain refuses")
            << u"token=T&email=e"_qs << false << u"Couldn't save your sign-in to the keychain."_qs << false;
        QTest::newRow("replaced by a new attempt") << QString() << true << QString() << false;
    }
    void onboardingShowsWhatTheAttemptCameTo()
    {
        QFETCH(QString, answer);
        QFETCH(bool, keychainWorks);
        QFETCH(QString, error);
        QFETCH(bool, onboarded);
        TestLibrary library;
        library.secrets.setFailWrites(!keychainWorks);
        OnboardedFlag flag(library.session->standard());
        FakeBrowser browser;
        GoogleAuth auth(QUrl(u"http://127.0.0.1:8470"_qs), browser.opener());
        OnboardingView view(library.session->engine(), flag, auth);

        view.continueWithGoogle();
        if (answer.isEmpty())
            view.continueWithGoogle();
        else
            QVERIFY(auth.handleCallback(callback(answer + u"&state="_qs + browser.lastState())));
        QCoreApplication::processEvents();

        QCOMPARE(view.error().value_or(QString()), error);
        QCOMPARE(view.findChild<QLabel *>(u"error"_qs)->isVisibleTo(&view), !error.isEmpty());
        QCOMPARE(flag.value(), onboarded);
        QCOMPARE(library.session->engine().isLoggedIn(), onboarded);
        if (!error.isEmpty()) { // a new attempt clears the message before it starts
            view.continueWithGoogle();
            QVERIFY(!view.error());
        }
        // The waiting attempt ends before the objects go (an answer arrives through the event loop).
        if (auth.isWaiting()) {
            QVERIFY(auth.handleCallback(callback(u"state="_qs + browser.lastState())));
            QTRY_VERIFY(view.error().has_value());
        }
    }

    void arguments_data()
    {
        QTest::addColumn<QString>("arguments"); // separated by spaces
        QTest::addColumn<QString>("error");     // a part of the message; empty: accepted
        QTest::addColumn<QString>("links");
        QTest::addColumn<QString>("api");
        const auto row = [](const char *name, const char *arguments, const char *error, const char *links,
                            const char *api) {
            QTest::newRow(name) << QString::fromUtf8(arguments) << QString::fromUtf8(error) << QString::fromUtf8(links)
                                << QString::fromUtf8(api);
        };
        row("links", "https://youtu.be/x y", "", "https://youtu.be/x y", "");
        row("option forms", "--profile=/tmp/p --api http://127.0.0.1:8470/api", "", "", "http://127.0.0.1:8470/api");
        row("clear text elsewhere", "--api http://example.com/api", "not a usable service address", "", "");
        row("missing value", "--profile", "needs a folder", "", "");
        row("unknown option", "--frobnicate", "unknown option", "", "");
        row("after --, everything is a link", "-- --api", "", "--api", "");
    }
    void arguments()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, error);
        const auto parsed = AppArguments::parse(arguments.split(u' '));
        if (!error.isEmpty()) {
            QVERIFY(std::get<QString>(parsed).contains(error));
            return;
        }
        const AppArguments &accepted = std::get<AppArguments>(parsed);
        QTEST(accepted.links.join(u' '), "links");
        QTEST(accepted.apiBase.toString(), "api");
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
        QTEST(SingleInstance::decode(message).has_value(), "accepted");
    }

    // A dead application's socket is taken over; a flood is dropped (live hand-offs: window suite).
    void handOffBetweenLaunches()
    {
        const QString name = u"clipvane-test-%1"_qs.arg(QCoreApplication::applicationPid());
        leaveDeadSocket(name);
        SingleInstance running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::messageReceived);
        QLocalSocket flood;
        flood.connectToServer(name);
        QVERIFY(flood.waitForConnected(2000));
        flood.write(QByteArray(SingleInstance::kMaxMessageBytes + 10, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(received.size(), 0);
    }

    // Connecting tells a running application from none; once connected, a launch waits long for
    // the answer of a busy one and never counts it as absent.
    void handOffToBusyOrAbsent_data()
    {
        QTest::addColumn<QString>("running"); // "", "dead", or how a live one answers
        QTest::addColumn<int>("answerWait");  // ms; 0: the launch's own
        QTest::addColumn<SingleInstance::HandOff>("outcome");
        using H = SingleInstance::HandOff;
        QTest::newRow("nobody") << QString() << 0 << H::nobodyListening;
        QTest::newRow("a dead application's socket") << u"dead"_qs << 0 << H::nobodyListening;
        QTest::newRow("busy: answers after the connect wait") << u"late"_qs << 0 << H::taken;
        QTest::newRow("hangs up without an answer") << u"hang up"_qs << 0 << H::unanswered;
        QTest::newRow("no answer at all") << u"silent"_qs << 300 << H::unanswered;
    }
    void handOffToBusyOrAbsent()
    {
        QFETCH(QString, running);
        QFETCH(int, answerWait);
        const QString name = u"clipvane-busy-%1"_qs.arg(QCoreApplication::applicationPid());
        QLocalServer::removeServer(name);
        if (running == u"dead")
            leaveDeadSocket(name);
        // The running application answers from a thread of its own, as another process would.
        std::promise<void> listening;
        std::thread application;
        if (!running.isEmpty() && running != u"dead") {
            application = std::thread([&] {
                QLocalServer server;
                server.listen(name);
                listening.set_value();
                if (!server.waitForNewConnection(10000))
                    return;
                QLocalSocket *socket = server.nextPendingConnection();
                while (!socket->canReadLine() && socket->waitForReadyRead(10000)) {
                }
                if (running == u"late") {
                    QThread::msleep(2 * SingleInstance::kConnectWait.count());
                    socket->write("ok\n");
                    socket->waitForBytesWritten(10000);
                    socket->waitForDisconnected(10000);
                } else if (running == u"hang up") {
                    socket->abort();
                } else {
                    socket->waitForDisconnected(10000);
                }
            });
            listening.get_future().wait();
        }
        const auto outcome = answerWait > 0
                                 ? SingleInstance::offer(name, {u"https://youtu.be/x"_qs}, SingleInstance::kConnectWait,
                                                         std::chrono::milliseconds(answerWait))
                                 : SingleInstance::offer(name, {u"https://youtu.be/x"_qs});
        if (application.joinable())
            application.join();
        QLocalServer::removeServer(name);
        QTEST(outcome, "outcome");
    }

    void rootSwitch()
    {
        TestLibrary library;
        OnboardedFlag onboarded(library.session->standard());
        GoogleAuth auth(QUrl(u"http://127.0.0.1:9"_qs), [](const QUrl &) { return true; });
        AppState state(library.session->standard());
        MainWindow window(library.session->engine(), library.session->store(), onboarded, auth, state,
                          library.session->api(), library.session->standard());
        QVERIFY(library.session->engine().signIn(u"T"_qs, u"e"_qs));
        QVERIFY(!window.isShowingLibrary()); // a token, but never onboarded here
        onboarded.set(true);
        QVERIFY(window.isShowingLibrary());
        library.session->engine().signOut();
        QVERIFY(!window.isShowingLibrary());
    }

    // The window's size and place, the column's width and the selection come back from the
    // settings file at the next launch; what no longer fits is let go.
    void windowMemory_data()
    {
        QTest::addColumn<QPoint>("placed");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("placeKept");
        QTest::addColumn<QString>("restoredSelection"); // empty: none
        QTest::newRow("on screen") << QPoint(40, 30) << u"kept"_qs << true << u"kept"_qs;
        QTest::newRow("a video that is gone") << QPoint(40, 30) << u"gone"_qs << true << QString();
        QTest::newRow("no selection") << QPoint(40, 30) << QString() << true << QString();
        QTest::newRow("off every screen") << QPoint(-30000, -30000) << u"kept"_qs << false << u"kept"_qs;
    }
    void windowMemory()
    {
        QFETCH(QPoint, placed);
        QFETCH(QString, selected);
        QFETCH(bool, placeKept);
        const QSize size(620, 410);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"standard.ini"_qs);
        QList<int> widths;
        {
            QSettings standard(file, QSettings::IniFormat);
            QMainWindow window;
            QSplitter splitter;
            splitter.addWidget(new QWidget);
            splitter.addWidget(new QWidget);
            splitter.resize(600, 300);
            splitter.setSizes({170, 429});
            widths = splitter.sizes();
            window.setGeometry(QRect(placed, size));
            WindowMemory(standard).save(window, &splitter,
                                        selected.isEmpty() ? std::nullopt : std::optional<QString>(selected));
        }
        QSettings standard(file, QSettings::IniFormat); // the next launch
        const WindowMemory memory(standard);
        QMainWindow window;
        memory.restoreWindow(window, MainWindow::kDefaultSize);
        QSplitter splitter;
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        splitter.resize(600, 300);
        memory.restoreSplitter(splitter);
        QCOMPARE(splitter.sizes(), widths);
        QTEST(memory.selection([](const QString &id) { return id == u"kept"; }).value_or(QString()),
              "restoredSelection");
        QVERIFY(WindowMemory::isOnAnyScreen(window.geometry()));
        if (placeKept) {
            QCOMPARE(window.geometry(), QRect(placed, size));
        } else {
            QCOMPARE(window.size(), MainWindow::kDefaultSize);
            QCOMPARE(window.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
        }
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

CLIPVANE_WIDGET_TEST_MAIN(AppShellTest)
#include "AppShellTest.moc"
