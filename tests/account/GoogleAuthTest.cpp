#include "GoogleAuth.h"
#include "../ui/WidgetTestMain.h"
#include "MacOnboardingView.h"
#include "OnboardedFlag.h"
#include "SyncEngine.h"
#include "TestLibrary.h"

#include <QLabel>
#include <QUrlQuery>

using namespace clipvane;
using namespace clipvane::test;
using Outcome = GoogleAuth::Result::Outcome;

Q_DECLARE_METATYPE(std::optional<QString>)

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

class GoogleAuthTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        QTest::newRow("plus stays, percent decoded")
            << u"token=a%2Bb&email=me+v%40x.y"_qs << some(u"a+b") << some(u"me+v@x.y");
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

    // Only the callback that returns this sign-in's state completes it; a newer sign-in ends a
    // waiting one silently; a browser that cannot be opened is reported.
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
        QCOMPARE(QCoro::waitFor(first).outcome, Outcome::cancelled);
        QVERIFY(browser.lastState() != firstState);
        QVERIFY(!auth.handleCallback(callback(u"token=T&email=e&state="_qs + firstState)));

        QVERIFY(auth.handleCallback(callback(u"email=me%40x.y&token=T2&state="_qs + browser.lastState())));
        const GoogleAuth::Result done = QCoro::waitFor(second);
        QCOMPARE(done.outcome, Outcome::signedIn);
        QCOMPARE(done.token, u"T2"_qs);
        QCOMPARE(done.email, u"me@x.y"_qs);
        QVERIFY(!auth.isWaiting());

        QCoro::Task<GoogleAuth::Result> lacking = auth.signIn();
        QVERIFY(auth.handleCallback(callback(u"token=T&state="_qs + browser.lastState())));
        QCOMPARE(QCoro::waitFor(lacking).outcome, Outcome::badResponse);

        browser.available = false;
        QCOMPARE(QCoro::waitFor(auth.signIn()).outcome, Outcome::browserUnavailable);
        QVERIFY(!auth.isWaiting());
    }

    void onboardingShowsWhatTheAttemptCameTo_data()
    {
        QTest::addColumn<QString>("answer"); // the callback's query after the state; "" = none
        QTest::addColumn<bool>("keychainWorks");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("onboarded");
        QTest::newRow("signed in") << u"token=T&email=e%40x.y"_qs << true << QString() << true;
        QTest::newRow("no e-mail") << u"token=T"_qs << true << u"Google sign-in failed. Check your connection."_qs
                                   << false;
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
        MacOnboardingView view(library.session->engine(), flag, auth);

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
            browser.available = true;
            view.continueWithGoogle();
            QVERIFY(!view.error());
        }
        // The waiting attempt ends before the objects go (an answer arrives through the event loop).
        if (auth.isWaiting()) {
            QVERIFY(auth.handleCallback(callback(u"state="_qs + browser.lastState())));
            QTRY_VERIFY(view.error().has_value());
        }
    }
};

CLIPVANE_WIDGET_TEST_MAIN(GoogleAuthTest)
#include "GoogleAuthTest.moc"
