#pragma once

#include "Fonts.h"
#include "Palette.h"

#include <QApplication>
#include <QTest>

// main() for a widget test: the design's palette and fonts are in place before the first widget,
// as in the application.
#define CLIPVANE_WIDGET_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        clipvane::Palette::applyTo(app);                                                                               \
        clipvane::Fonts::load();                                                                                       \
        TestObject test;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
