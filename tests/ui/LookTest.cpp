#include "Fonts.h"
#include "Symbols.h"

#include <QApplication>
#include <QFontInfo>
#include <QIcon>
#include <QTest>

using namespace clipvane;

// Every symbol name the design uses anywhere: a missing artwork fails here, not as a blank.
static const QStringList kDesignSymbols = {
    u"arrow.down.circle"_qs,
    u"arrow.up.circle"_qs,
    u"arrow.triangle.2.circlepath"_qs,
    u"checkmark"_qs,
    u"chevron.up"_qs,
    u"chevron.down"_qs,
    u"clock"_qs,
    u"doc.on.doc"_qs,
    u"eye"_qs,
    u"eye.slash"_qs,
    u"film.stack"_qs,
    u"g.circle.fill"_qs,
    u"gearshape"_qs,
    u"globe"_qs,
    u"iphone"_qs,
    u"link"_qs,
    u"lock.shield"_qs,
    u"magnifyingglass"_qs,
    u"paperplane.fill"_qs,
    u"pencil"_qs,
    u"person.2"_qs,
    u"person.2.fill"_qs,
    u"person.crop.circle"_qs,
    u"play.fill"_qs,
    u"play.rectangle"_qs,
    u"play.rectangle.fill"_qs,
    u"play.slash"_qs,
    u"plus.circle"_qs,
    u"plus.circle.fill"_qs,
    u"rectangle.stack.badge.play"_qs,
    u"rectangle.stack.badge.play.fill"_qs,
    u"sparkles"_qs,
    u"square.and.arrow.up"_qs,
    u"textformat.abc"_qs,
    u"trash"_qs,
    u"tray.full"_qs,
    u"xmark"_qs,
    u"xmark.circle.fill"_qs,
};

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

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LookTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LookTest.moc"
