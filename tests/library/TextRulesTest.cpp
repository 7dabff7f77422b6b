#include "TextRules.h"
#include "TitleCollation.h"
#include "TitleSearch.h"
#include "Video.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBoundaryFinder>

using namespace clipvane;

namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

QList<qsizetype> clusterEnds(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    QList<qsizetype> ends;
    for (qsizetype end = finder.toNextBoundary(); end >= 0; end = finder.toNextBoundary())
        ends.append(end);
    return ends;
}

const QString kHighSurrogate(QChar(0xD800));
const QString kLowSurrogate(QChar(0xDC00));

// Pieces that exercise the grapheme rules: marks, CR LF, Hangul jamo, flags, emoji
// sequences, prepended signs, controls.
const QStringList kPieces{u"2"_qs,      u"0"_qs,      u"-"_qs,        u"a"_qs,      u"é"_qs,      u"\u0301"_qs,
                          u"\u0308"_qs, u"\r"_qs,     u"\n"_qs,       u"\t"_qs,     u"\u1100"_qs, u"\u1161"_qs,
                          u"\u11A8"_qs, u"\uAC00"_qs, u"🇩"_qs,        u"🇪"_qs,      u"👍"_qs,      u"\U0001F3FD"_qs,
                          u"\u200D"_qs, u"\u0600"_qs, u"\u0915"_qs,   u"\u094D"_qs, u"\u0E33"_qs, u"\uFE0F"_qs,
                          u"\u00AD"_qs, u"Ж"_qs,      u"\u0D4E"_qs,   u"\uFF9E"_qs, u" "_qs,      u"\u0085"_qs,
                          u"\u2028"_qs, u"\u0903"_qs, kHighSurrogate, kLowSurrogate};

QString randomText(QRandomGenerator &random, int maxPieces)
{
    QString text;
    const int pieces = random.bounded(maxPieces + 1);
    for (int i = 0; i < pieces; ++i)
        text += kPieces[random.bounded(kPieces.size())];
    return text;
}

} // namespace

class TextRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compareCodePoints_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("equal") << u"2021-01-01"_qs << u"2021-01-01"_qs << 0;
        QTest::newRow("empty first") << QString() << u"0"_qs << -1;
        QTest::newRow("prefix first") << u"2021"_qs << u"2021-01"_qs << -1;
        QTest::newRow("case is a code point") << u"B"_qs << u"a"_qs << -1;
        QTest::newRow("private use before astral") << u"\uE000"_qs << u"\U00010000"_qs << -1;
        QTest::newRow("astral order") << u"\U0001F600"_qs << u"\U0001F601"_qs << -1;
        QTest::newRow("astral after hangul") << u"\U00010000"_qs << u"\uD7A3"_qs << 1;
    }

    void compareCodePoints()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(sign(TextRules::compareCodePoints(a, b)), order);
        QCOMPARE(sign(TextRules::compareCodePoints(b, a)), -order);
    }

    // A boundary taken as certain between two free-standing units must be one for the full
    // segmentation, for every unit of the basic plane next to each kind of neighbour.
    void freeStandingUnitsAlwaysBreak()
    {
        const QList<char16_t> neighbours{u'a', u' ', 0x00E9, 0x00A9, 0x2600, 0xAC00, 0xAC01, 0x0416, 0x4E2D, 0x0085};
        for (const char16_t neighbour : neighbours)
            QVERIFY(TextRules::isFreeStanding(neighbour));
        int freeStanding = 0;
        for (char32_t code = 0; code <= 0xFFFF; ++code) {
            const char16_t unit = char16_t(code);
            if (!TextRules::isFreeStanding(unit))
                continue;
            ++freeStanding;
            for (const char16_t neighbour : neighbours) {
                const QChar text[] = {QChar(neighbour), QChar(unit), QChar(neighbour)};
                QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text, 3);
                finder.setPosition(1);
                const bool before = finder.isAtBoundary();
                finder.setPosition(2);
                const bool after = finder.isAtBoundary();
                if (!before || !after)
                    QFAIL(qPrintable(
                        QStringLiteral("U+%1 beside U+%2").arg(int(unit), 4, 16).arg(int(neighbour), 4, 16)));
            }
        }
        QVERIFY(freeStanding > 50000); // the quick path covers most scripts
    }

    // Counting clusters, and the year text of a record (its upload date's first four grapheme
    // clusters), agree with the full segmentation (the pieces reach both sides of the quick path
    // for plain dates).
    void clustersMatchSegmentation()
    {
        QRandomGenerator random(11);
        for (int round = 0; round < 5000; ++round) {
            const QString text = randomText(random, 9);
            const QList<qsizetype> ends = clusterEnds(text);
            QCOMPARE(TextRules::graphemeCount(text), ends.size());
            const QString expected = ends.size() <= 4 ? text : text.left(ends[3]);
            const Video video(u"id"_qs, {}, {}, text, {}, false, {}, 0, 0, {});
            if (video.yearText() != expected)
                QFAIL(qPrintable(QStringLiteral("upload date %1").arg(QString::fromLatin1(text.toUtf8().toHex(' ')))));
        }
    }

    // The quick lower-casing of Latin-1 titles gives what the general one gives.
    void foldLatin1()
    {
        for (char16_t first = 0; first < 0x100; ++first) {
            for (char16_t second = 0; second < 0x100; ++second) {
                const QString text = QString(QChar(first)) + QChar(second);
                QCOMPARE(TitleSearch::fold(text), text.toLower().normalized(QString::NormalizationForm_C));
            }
        }
    }

    // Title keys order exactly as QCollator::compare, in every locale and without one.
    void collationKeys_data()
    {
        QTest::addColumn<QString>("locale");
        for (const QString &name :
             {u"C"_qs, u"en_US"_qs, u"de_DE"_qs, u"sv_SE"_qs, u"tr_TR"_qs, u"ja_JP"_qs, u"fr_CA"_qs})
            QTest::newRow(qPrintable(name)) << name;
    }

    void collationKeys()
    {
        QFETCH(QString, locale);
        const QStringList titles{
            QString(),  u"\u0001"_qs,     u"\u0002"_qs,     u"a"_qs,      u"A"_qs,      u"b"_qs,
            u"B"_qs,    u"ab"_qs,         u"a b"_qs,        u"a-b"_qs,    u"ä"_qs,      u"a\u0308"_qs,
            u"Ä"_qs,    u"z"_qs,          u"ö"_qs,          u"o"_qs,      u"ı"_qs,      u"I"_qs,
            u"i"_qs,    u"İ"_qs,          u"ß"_qs,          u"ss"_qs,     u"SS"_qs,     u"10"_qs,
            u"9"_qs,    u"\U00010400"_qs, u"\U00010428"_qs, u"\uE000"_qs, u"\uFFFF"_qs, u"Ω"_qs,
            u"ω"_qs,    u"日本"_qs,       u"にほん"_qs,     u"ニホン"_qs, u"Ǆ"_qs,      u"ǅ"_qs,
            u"ǆ"_qs,    kHighSurrogate,   kLowSurrogate,    u"côte"_qs,   u"coté"_qs,   u"cote"_qs,
            u"Côté"_qs, u"\u00A0a"_qs,    u"é"_qs,          u"e\u0301"_qs};
        const QLocale previous;
        QLocale::setDefault(QLocale(locale));
        const TitleCollation collation;
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QList<TitleCollation::Key> keys;
        for (const QString &title : titles)
            keys.append(collation.key(title));
        QLocale::setDefault(previous);
        for (qsizetype i = 0; i < titles.size(); ++i) {
            for (qsizetype j = 0; j < titles.size(); ++j) {
                const int expected = sign(collator.compare(titles[i], titles[j]));
                if (sign(TitleCollation::compare(keys[i], keys[j])) != expected)
                    QFAIL(qPrintable(QStringLiteral("%1 vs %2").arg(titles[i], titles[j])));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TextRulesTest)
#include "TextRulesTest.moc"
