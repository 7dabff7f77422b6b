#include "LinkParser.h"
#include "Video.h"

#include <QTest>

using namespace clipvane;

class LinkParserTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ids_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id");

        QTest::newRow("watch, v first") << u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42"_qs << u"dQw4w9WgXcQ"_qs;
        QTest::newRow("watch, v after list")
            << u"https://youtube.com/watch?list=PL123&index=2&v=abcdef123&x=1"_qs << u"abcdef123"_qs;
        QTest::newRow("short link with query") << u"https://youtu.be/XyZ_-12?si=tracking"_qs << u"XyZ_-12"_qs;
        QTest::newRow("shorts") << u"youtube.com/shorts/Short_ID1/"_qs << u"Short_ID1"_qs;
        QTest::newRow("embed") << u"https://www.youtube.com/embed/EmbedID#frag"_qs << u"EmbedID"_qs;
        QTest::newRow("live") << u"m.youtube.com/live/LiveID9"_qs << u"LiveID9"_qs;
        QTest::newRow("words around") << u"look at this https://youtu.be/abcdef please"_qs << u"abcdef"_qs;
        QTest::newRow("two links, first wins") << u"youtu.be/first1 youtu.be/second2"_qs << u"first1"_qs;
        QTest::newRow("twenty characters kept whole")
            << u"https://youtu.be/ABCDEFGHIJ0123456789"_qs << u"ABCDEFGHIJ0123456789"_qs;
        QTest::newRow("word characters of any script") << u"https://youtu.be/видео_ролик"_qs << u"видео_ролик"_qs;
        QTest::newRow("combining marks stay in the run") << u"youtu.be/नमस्ते_abc"_qs << u"नमस्ते_abc"_qs;
        QTest::newRow("zero-width joiner stays in the run") << u"youtu.be/abc\u200Ddef"_qs << u"abc\u200Ddef"_qs;
        QTest::newRow("other numbers end the run") << u"youtu.be/abcdef\u00B2x"_qs << u"abcdef"_qs;
        QTest::newRow("exactly six") << u"youtu.be/a-b_c1"_qs << u"a-b_c1"_qs;
        QTest::newRow("no scheme, no www") << u"youtube.com/watch?v=dQw4w9WgXcQ"_qs << u"dQw4w9WgXcQ"_qs;
        QTest::newRow("any text in front of the host") << u"xyzyoutube.com/embed/abcdefg"_qs << u"abcdefg"_qs;
        QTest::newRow("run ends at slash") << u"youtu.be/abcdefg/more"_qs << u"abcdefg"_qs;
        QTest::newRow("run ends at fragment") << u"youtu.be/abcdefg#t=1"_qs << u"abcdefg"_qs;
        QTest::newRow("later v too short, earlier one taken")
            << u"youtube.com/watch?v=abcdefgh&x=1&v=ab"_qs << u"abcdefgh"_qs;
        QTest::newRow("last v wins when long enough")
            << u"youtube.com/watch?v=abcdefgh&v=ijklmnop"_qs << u"ijklmnop"_qs;
        QTest::newRow("unpaired surrogate after the run")
            << (u"youtu.be/abcdefg"_qs + QChar(0xD800) + u"xyz"_qs) << u"abcdefg"_qs;
        QTest::newRow("unpaired surrogate before the link")
            << (QString(QChar(0xDC00)) + u" youtu.be/abcdefg"_qs) << u"abcdefg"_qs;
        QTest::newRow("second link after a bad first one") << u"youtu.be/abc youtu.be/abcdefg"_qs << u"abcdefg"_qs;
    }

    void ids()
    {
        QFETCH(QString, text);
        QFETCH(QString, id);
        QCOMPARE(youtubeID(text), std::optional<QString>(id));
    }

    void rejects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("capital host") << u"https://www.YOUTUBE.com/watch?v=dQw4w9WgXcQ"_qs;
        QTest::newRow("privacy host") << u"https://www.youtube-nocookie.com/embed/dQw4w9WgXcQ"_qs;
        QTest::newRow("id too short") << u"https://youtu.be/abcde"_qs;
        QTest::newRow("channel page") << u"https://www.youtube.com/@someone/videos"_qs;
        QTest::newRow("empty") << QString();
        QTest::newRow("other site") << u"https://vimeo.com/123456789"_qs;
        QTest::newRow("host label not escaped") << u"https://youtubexcom/embed/abcdefg"_qs;
        QTest::newRow("watch without v") << u"https://youtube.com/watch?list=PLabcdefg"_qs;
        QTest::newRow("v= split across lines") << u"youtube.com/watch?list=x\n&v=abcdefg"_qs;
        QTest::newRow("v= split by a line separator") << u"youtube.com/watch?list=x\u2028&v=abcdefg"_qs;
        QTest::newRow("v= split by a carriage return") << u"youtube.com/watch?list=x\r&v=abcdefg"_qs;
        QTest::newRow("watch without question mark") << u"youtube.com/watchv=abcdefg"_qs;
        QTest::newRow("keyword in capitals") << u"youtube.com/Shorts/abcdefg"_qs;
        QTest::newRow("short host in capitals") << u"YOUTU.BE/abcdefg"_qs;
        QTest::newRow("lone surrogates only") << QString(3, QChar(0xD800));
    }

    void rejects()
    {
        QFETCH(QString, text);
        QCOMPARE(youtubeID(text), std::nullopt);
    }

    void shortLinkRoundTrip()
    {
        for (const QString &id : {u"dQw4w9WgXcQ"_qs, u"a-b_c1"_qs, u"видео_ролик"_qs, u"ABCDEFGHIJ0123456789"_qs}) {
            QCOMPARE(shortLink(id), u"https://youtu.be/"_qs + id);
            QCOMPARE(youtubeID(shortLink(id)), std::optional<QString>(id));
        }
    }

    void thumbnails()
    {
        Video video(u"dQw4w9WgXcQ"_qs, {}, {}, {}, {}, false, {}, 0, 0, SyncStateRaw::synced);
        QCOMPARE(video.thumbnailURL()->toString(), u"https://i.ytimg.com/vi/dQw4w9WgXcQ/mqdefault.jpg"_qs);
        video.youtubeID = u"x-1a2b3c"_qs;
        QCOMPARE(video.thumbnailURL(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(LinkParserTest)
#include "LinkParserTest.moc"
