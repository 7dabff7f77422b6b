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
    }

    void rejects()
    {
        QFETCH(QString, text);
        QCOMPARE(youtubeID(text), std::nullopt);
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
