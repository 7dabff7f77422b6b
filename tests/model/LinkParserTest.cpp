#include "LinkParser.h"

#include <QTest>

using namespace clipvane;

class LinkParserTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void youtubeID_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id"); // empty: no ID

        QTest::newRow("watch, v first") << u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42"_qs << u"dQw4w9WgXcQ"_qs;
        QTest::newRow("watch, v after list")
            << u"https://youtube.com/watch?list=PL123&index=2&v=abcdef123&x=1"_qs << u"abcdef123"_qs;
        QTest::newRow("short link with query") << u"https://youtu.be/XyZ_-12?si=tracking"_qs << u"XyZ_-12"_qs;
        QTest::newRow("shorts, no scheme") << u"youtube.com/shorts/Short_ID1/"_qs << u"Short_ID1"_qs;
        QTest::newRow("embed") << u"https://www.youtube.com/embed/EmbedID#frag"_qs << u"EmbedID"_qs;
        QTest::newRow("live") << u"m.youtube.com/live/LiveID9"_qs << u"LiveID9"_qs;
        QTest::newRow("words around") << u"look at this https://youtu.be/abcdef please"_qs << u"abcdef"_qs;
        QTest::newRow("two links, first wins") << u"youtu.be/first1 youtu.be/second2"_qs << u"first1"_qs;
        QTest::newRow("second link after a bad first one") << u"youtu.be/abc youtu.be/abcdefg"_qs << u"abcdefg"_qs;
        QTest::newRow("no length limit") << u"https://youtu.be/ABCDEFGHIJ0123456789"_qs << u"ABCDEFGHIJ0123456789"_qs;
        QTest::newRow("word characters of any script") << u"https://youtu.be/видео_ролик"_qs << u"видео_ролик"_qs;
        QTest::newRow("combining marks stay in the run") << u"youtu.be/नमस्ते_abc"_qs << u"नमस्ते_abc"_qs;
        QTest::newRow("zero-width joiner stays in the run") << u"youtu.be/abc\u200Ddef"_qs << u"abc\u200Ddef"_qs;
        QTest::newRow("other numbers end the run") << u"youtu.be/abcdef\u00B2x"_qs << u"abcdef"_qs;
        QTest::newRow("exactly six") << u"youtu.be/a-b_c1"_qs << u"a-b_c1"_qs;
        QTest::newRow("any text in front of the host") << u"xyzyoutube.com/embed/abcdefg"_qs << u"abcdefg"_qs;
        QTest::newRow("later v too short, earlier one taken")
            << u"youtube.com/watch?v=abcdefgh&x=1&v=ab"_qs << u"abcdefgh"_qs;
        QTest::newRow("last v wins when long enough")
            << u"youtube.com/watch?v=abcdefgh&v=ijklmnop"_qs << u"ijklmnop"_qs;
        QTest::newRow("unpaired surrogate after the run")
            << (u"youtu.be/abcdefg"_qs + QChar(0xD800) + u"xyz"_qs) << u"abcdefg"_qs;
        QTest::newRow("unpaired surrogate before the link")
            << (QString(QChar(0xDC00)) + u" youtu.be/abcdefg"_qs) << u"abcdefg"_qs;

        QTest::newRow("hosts and keywords are case-sensitive")
            << u"www.YOUTUBE.com/watch?v=dQw4w9WgXcQ YOUTU.BE/abcdefg youtube.com/Shorts/abcdefg"_qs << QString();
        QTest::newRow("privacy host") << u"https://www.youtube-nocookie.com/embed/dQw4w9WgXcQ"_qs << QString();
        QTest::newRow("five characters") << u"https://youtu.be/abcde"_qs << QString();
        QTest::newRow("channel page") << u"https://www.youtube.com/@someone/videos"_qs << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("host dot not a wildcard") << u"https://youtubexcom/embed/abcdefg"_qs << QString();
        QTest::newRow("watch without v") << u"https://youtube.com/watch?list=PLabcdefg"_qs << QString();
        QTest::newRow("watch without question mark") << u"youtube.com/watchv=abcdefg"_qs << QString();
        QTest::newRow("v= never read across a line end")
            << u"youtube.com/watch?list=x\n&v=abcdefg youtube.com/watch?list=x\u2028&v=abcdefg "
               u"youtube.com/watch?list=x\r&v=abcdefg"_qs
            << QString();
        QTest::newRow("lone surrogates only") << QString(3, QChar(0xD800)) << QString();
    }

    void youtubeID()
    {
        QFETCH(QString, text);
        QFETCH(QString, id);
        QCOMPARE(clipvane::youtubeID(text), id.isEmpty() ? std::nullopt : std::optional<QString>(id));
        if (!id.isEmpty())
            QCOMPARE(clipvane::youtubeID(clipvane::shortLink(id)), std::optional<QString>(id));
        QCOMPARE(clipvane::shortLink(u"a-b_c1"_qs), u"https://youtu.be/a-b_c1"_qs);
    }

    // Every ID a link yields can be stored, changed and deleted: at most 256 characters of the
    // ID run's own set.
    void isVideoID_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("valid");
        QTest::newRow("usual") << u"dQw4w9WgXcQ"_qs << true;
        QTest::newRow("another web link's") << u"x-0123456789"_qs << true;
        QTest::newRow("other scripts") << u"видео_1-é"_qs << true;
        QTest::newRow("longest") << QString(256, u'a') << true;
        QTest::newRow("too long") << QString(257, u'a') << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blank") << u"abc def"_qs << false;
        QTest::newRow("slash") << u"abc/def"_qs << false;
        QTest::newRow("control") << u"abc\u0001"_qs << false;
        QTest::newRow("lone surrogate") << QString(2, QChar(0xD800)) << false;
    }
    void isVideoID()
    {
        QFETCH(QString, id);
        QTEST(clipvane::isVideoID(id), "valid");
        // A link to a video whose ID is too long names no video that can be added.
        if (id.size() > clipvane::kMaxVideoIDLength)
            QVERIFY(!clipvane::isVideoID(*clipvane::youtubeID(clipvane::shortLink(id))));
    }
};

QTEST_GUILESS_MAIN(LinkParserTest)
#include "LinkParserTest.moc"
