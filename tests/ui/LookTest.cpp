#include "Symbols.h"
#include "WidgetTestMain.h"

#include <QFontInfo>
#include <QIcon>
#include <QTest>

using namespace clipvane;

// Every symbol name the design uses anywhere: a missing artwork fails here, not as a blank.
static const QStringList kDesignSymbols =
    QStringLiteral("arrow.down.circle arrow.up.circle arrow.triangle.2.circlepath checkmark chevron.up chevron.down "
                   "clock doc.on.doc eye eye.slash film.stack g.circle.fill gearshape globe iphone link lock.shield "
                   "magnifyingglass paperplane.fill pencil person.2 person.2.fill person.crop.circle play.fill "
                   "play.rectangle play.rectangle.fill play.slash plus.circle plus.circle.fill "
                   "rectangle.stack.badge.play rectangle.stack.badge.play.fill sparkles square.and.arrow.up "
                   "textformat.abc trash tray.full xmark xmark.circle.fill")
        .split(u' ');

class LookTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(Fonts::load()); }

    // A design size is logical pixels: 13 means 13 pixels high, never 13/72 inch.
    void designSizesAreLogicalPixels_data()
    {
        QTest::addColumn<int>("face");
        QTest::addColumn<qreal>("size");
        QTest::addColumn<QString>("family");
        QTest::newRow("regular 13") << int(FontFace::regular) << 13.0 << u"Hanken Grotesk"_qs;
        QTest::newRow("semibold 16") << int(FontFace::semiBold) << 16.0 << u"Hanken Grotesk"_qs;
        QTest::newRow("medium 11") << int(FontFace::medium) << 11.0 << u"Hanken Grotesk"_qs;
        QTest::newRow("display 30") << int(FontFace::display) << 30.0 << u"Space Grotesk"_qs;
        QTest::newRow("fractional 12.5") << int(FontFace::regular) << 12.5 << u"Hanken Grotesk"_qs;
    }
    void designSizesAreLogicalPixels()
    {
        QFETCH(int, face);
        QFETCH(qreal, size);
        QFETCH(QString, family);
        const QFont font = Fonts::font(FontFace(face), size);
        const QFontInfo info(font);
        QCOMPARE(info.family(), family);
        QVERIFY2(std::abs(QFontMetricsF(font).height() / size -
                          QFontMetricsF(Fonts::font(FontFace(face), 100)).height() / 100) < 0.08,
                 qPrintable(QString::number(QFontMetricsF(font).height())));
        QVERIFY2(std::abs(info.pixelSize() - size) <= 0.5, qPrintable(QString::number(info.pixelSize())));
    }

    // What sets no font of its own (menus, tooltips, alerts) shows the design's text face.
    void widgetsWithoutAFontUseTheTextFace_data()
    {
        QTest::addColumn<QByteArray>("widgetClass");
        for (const char *name : {"QWidget", "QMenu", "QMenuBar", "QTipLabel", "QMessageBox", "QPushButton"})
            QTest::newRow(name) << QByteArray(name);
    }
    void widgetsWithoutAFontUseTheTextFace()
    {
        QFETCH(QByteArray, widgetClass);
        const QFontInfo info(QApplication::font(widgetClass.constData()));
        QCOMPARE(info.family(), u"Hanken Grotesk"_qs);
        QCOMPARE(info.pixelSize(), 13);
    }

    void everyDesignSymbolDrawsInItsTint()
    {
        const QColor tint(255, 41, 36);
        for (const QString &name : kDesignSymbols) {
            QVERIFY2(Symbols::exists(name), qPrintable(name));
            for (const qreal ratio : {1.0, 2.0}) {
                const QImage image = Symbols::pixmap(name, tint, QSize(16, 16), ratio).toImage();
                QCOMPARE(image.size(), QSize(16, 16) * ratio);
                int inked = 0;
                for (int y = 0; y < image.height(); ++y)
                    for (int x = 0; x < image.width(); ++x) {
                        const QColor pixel = image.pixelColor(x, y);
                        if (pixel.alpha() >= 128) {
                            QVERIFY(std::abs(pixel.red() - tint.red()) <= 2 &&
                                    std::abs(pixel.green() - tint.green()) <= 2);
                            ++inked;
                        }
                    }
                QVERIFY2(inked > 4 * ratio * ratio, qPrintable(name));
            }
            QVERIFY(!Symbols::icon(name, tint).pixmap(24).isNull());
        }
        QVERIFY(!Symbols::exists(u"no.such.symbol"_qs));
        QVERIFY(Symbols::pixmap(u"no.such.symbol"_qs, tint, QSize(16, 16), 1).isNull());
    }
};

CLIPVANE_WIDGET_TEST_MAIN(LookTest)
#include "LookTest.moc"
