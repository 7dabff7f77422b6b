#pragma once

#include "Fonts.h"
#include "Palette.h"

#include <QApplication>
#include <QTest>

// main() for a widget test: the design's palette and fonts are in place before the first widget,
// as in the application. A web view needs shared GL contexts before the application exists, and
// its engine refuses to start as root unless the sandbox is off (a user's application keeps it).
#define CLIPVANE_WIDGET_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");                                                                   \
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-zygote");                                            \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                                    \
        QApplication app(argc, argv);                                                                                  \
        clipvane::Palette::applyTo(app);                                                                               \
        clipvane::Fonts::load();                                                                                       \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
