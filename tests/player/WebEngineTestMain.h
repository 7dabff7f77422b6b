#pragma once

#include <QApplication>
#include <QTest>

// main() for a test that creates web views: the engine needs shared GL contexts before the
// application exists, and refuses to start as root unless its sandbox is off (a normal
// user's application keeps it).
#define CLIPVANE_WEBENGINE_TEST_MAIN(TestObject)                                                                       \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");                                                                   \
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-zygote");                                            \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                                    \
        QApplication app(argc, argv);                                                                                  \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
