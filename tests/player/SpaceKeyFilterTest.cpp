#include "SpaceKeyFilter.h"
#include "MacAppState.h"
#include "PlayerController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

using namespace clipvane;

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

} // namespace

class SpaceKeyFilterTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
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
};

QTEST_MAIN(SpaceKeyFilterTest)
#include "SpaceKeyFilterTest.moc"
