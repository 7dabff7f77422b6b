#include "PagingCoordinator.h"

#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>

using namespace clipvane;

// One wheel event at a moment: its delta, whether it is precise, and the time in milliseconds.
struct Wheel
{
    double delta;
    bool precise;
    qint64 atMs;
};
using Wheels = QList<Wheel>;
Q_DECLARE_METATYPE(Wheels)

class PagingCoordinatorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
};

QTEST_GUILESS_MAIN(PagingCoordinatorTest)
#include "PagingCoordinatorTest.moc"
