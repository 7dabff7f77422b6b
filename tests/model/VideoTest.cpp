#include "Video.h"
#include "SyncState.h"

#include <QTest>
#include <limits>

using namespace clipvane;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

Video withDuration(const QString &duration)
{
    return Video(u"abcdef"_qs, {}, {}, {}, duration, false, {}, 0, 0, SyncStateRaw::synced);
}

Video withUploadDate(const QString &uploadDate)
{
    return Video(u"abcdef"_qs, {}, {}, uploadDate, {}, false, {}, 0, 0, SyncStateRaw::synced);
}

} // namespace

class VideoTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void durationSeconds_data()
    {
        QTest::addColumn<QString>("duration");
        QTest::addColumn<qint64>("seconds");

        QTest::newRow("hours") << u"1:02:03"_qs << qint64(3723);
        QTest::newRow("minutes") << u"4:05"_qs << qint64(245);
        QTest::newRow("seconds only") << u"45"_qs << qint64(45);
        QTest::newRow("empty") << QString() << qint64(0);
        QTest::newRow("pieces trimmed") << u"1: 2"_qs << qint64(62);
        QTest::newRow("tabs and line breaks trimmed") << u"\t1\n:\r2 "_qs << qint64(62);
        QTest::newRow("unparsable piece dropped") << u"a:30"_qs << qint64(30);
        QTest::newRow("dropped piece does not count as a place") << u"1:x:30"_qs << qint64(90);
        QTest::newRow("semicolon separates") << u"1;30"_qs << qint64(90);
        QTest::newRow("both separators") << u"1:30;15"_qs << qint64(5415);
        QTest::newRow("empty pieces dropped") << u"::5::"_qs << qint64(5);
        QTest::newRow("plus sign") << u"+1:+5"_qs << qint64(65);
        QTest::newRow("minus sign") << u"-5"_qs << qint64(-5);
        QTest::newRow("negative seconds") << u"1:-30"_qs << qint64(30);
        QTest::newRow("sign alone") << u"+:-"_qs << qint64(0);
        QTest::newRow("two signs") << u"--5"_qs << qint64(0);
        QTest::newRow("inner space") << u"1 0"_qs << qint64(0);
        QTest::newRow("decimal point") << u"1.5"_qs << qint64(0);
        QTest::newRow("exponent") << u"1e3"_qs << qint64(0);
        QTest::newRow("arabic-indic digit") << u"\u0663"_qs << qint64(0);
        QTest::newRow("fullwidth digit") << u"\uFF11"_qs << qint64(0);
        QTest::newRow("leading zeros") << u"007:0009"_qs << qint64(429);
        QTest::newRow("many zero places") << u"0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:5"_qs << qint64(5);

        QTest::newRow("largest") << u"9223372036854775807"_qs << kMax;
        QTest::newRow("one past largest") << u"9223372036854775808"_qs << kMax;
        QTest::newRow("smallest") << u"-9223372036854775808"_qs << kMin;
        QTest::newRow("one past smallest") << u"-9223372036854775809"_qs << kMin;
        QTest::newRow("largest from minutes") << u"153722867280912930:7"_qs << kMax;
        QTest::newRow("minutes overflow") << u"153722867280912930:8"_qs << kMax;
        QTest::newRow("twelve places overflow") << u"1:0:0:0:0:0:0:0:0:0:0:0"_qs << kMax;
        QTest::newRow("huge negative minutes win") << u"-99999999999999999999:99999999999999999999"_qs << kMin;
        QTest::newRow("huge pieces cancel exactly") << u"99999999999999999999:-5999999999999999999939"_qs << qint64(1);
        QTest::newRow("forty digits") << (u"1"_qs + QString(40, u'0')) << kMax;
        QTest::newRow("forty digits negative") << (u"-1"_qs + QString(40, u'0')) << kMin;
        QTest::newRow("long run of places") << QString(u"9:"_qs).repeated(200) + u"9"_qs << kMax;
    }

    void durationSeconds()
    {
        QFETCH(QString, duration);
        QFETCH(qint64, seconds);
        QCOMPARE(withDuration(duration).durationSeconds(), seconds);
    }

    void yearText_data()
    {
        QTest::addColumn<QString>("uploadDate");
        QTest::addColumn<QString>("year");

        QTest::newRow("full date") << u"2021-03-04"_qs << u"2021"_qs;
        QTest::newRow("year only") << u"2021"_qs << u"2021"_qs;
        QTest::newRow("shorter than four") << u"99"_qs << u"99"_qs;
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("not parsed") << u"abcd-xx"_qs << u"abcd"_qs;
        QTest::newRow("combining mark on the fourth") << u"2021\u0301-03"_qs << u"2021\u0301"_qs;
        QTest::newRow("combining marks early") << u"e\u0301\u0308abc"_qs << u"e\u0301\u0308abc"_qs;
        QTest::newRow("combining mark on the fifth") << u"20210\u0301"_qs << u"2021"_qs;
        QTest::newRow("family emoji is one character")
            << u"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F4662021"_qs
            << u"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466202"_qs;
        QTest::newRow("flags")
            << u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7\U0001F1EE\U0001F1F9\U0001F1EA\U0001F1F8"
               u"\U0001F1EC\U0001F1E7"_qs
            << u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7\U0001F1EE\U0001F1F9\U0001F1EA\U0001F1F8"_qs;
        QTest::newRow("skin tone modifier") << u"\U0001F44D\U0001F3FD123"_qs << u"\U0001F44D\U0001F3FD123"_qs;
        QTest::newRow("carriage return and line feed") << u"\r\n2021"_qs << u"\r\n202"_qs;
        QTest::newRow("hangul jamo syllable") << u"\u1100\u1161\u11A8123"_qs << u"\u1100\u1161\u11A8123"_qs;
    }

    void yearText()
    {
        QFETCH(QString, uploadDate);
        QFETCH(QString, year);
        QCOMPARE(withUploadDate(uploadDate).yearText(), year);
    }

    void syncState_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<SyncState>("state");
        QTest::addColumn<bool>("pending");

        QTest::newRow("synced") << u"synced"_qs << SyncState::synced << false;
        QTest::newRow("needsAdd") << u"needsAdd"_qs << SyncState::needsAdd << true;
        QTest::newRow("needsPatch") << u"needsPatch"_qs << SyncState::needsPatch << true;
        QTest::newRow("needsDelete") << u"needsDelete"_qs << SyncState::needsDelete << true;
        QTest::newRow("other case") << u"Synced"_qs << SyncState::unrecognised << false;
        QTest::newRow("padded") << u"needsAdd "_qs << SyncState::unrecognised << false;
        QTest::newRow("empty") << QString() << SyncState::unrecognised << false;
        QTest::newRow("unknown") << u"needsMerge"_qs << SyncState::unrecognised << false;
    }

    void syncState()
    {
        QFETCH(QString, raw);
        QFETCH(SyncState, state);
        QFETCH(bool, pending);
        const Video video(u"abcdef"_qs, {}, {}, {}, {}, false, {}, 0, 0, raw);
        QCOMPARE(video.syncState(), state);
        QCOMPARE(video.isPending(), pending);
    }

    void syncStateOrderAndRawTexts()
    {
        // Rules compare positions, so the order is part of the contract.
        QVERIFY(SyncState::synced < SyncState::needsAdd);
        QVERIFY(SyncState::needsAdd < SyncState::needsPatch);
        QVERIFY(SyncState::needsPatch < SyncState::needsDelete);
        for (const SyncState state :
             {SyncState::synced, SyncState::needsAdd, SyncState::needsPatch, SyncState::needsDelete})
            QCOMPARE(syncStateFromRaw(rawFromSyncState(state)), state);
        // An unrecognised state is written back as synced, the state it is treated as.
        QCOMPARE(rawFromSyncState(SyncState::unrecognised), u"synced"_qs);
    }

    void constructorDefaults()
    {
        const Video video(u"dQw4w9WgXcQ"_qs, u"Title"_qs, u"https://youtu.be/dQw4w9WgXcQ"_qs, u"2009-10-25"_qs,
                          u"3:33"_qs, true, u"ios"_qs, -1, kMax, SyncStateRaw::needsAdd);
        QCOMPARE(video.ownerEmail, QString());
        QCOMPARE(video.readOnly, false);
        QCOMPARE(video.createdAt, qint64(-1));
        QCOMPARE(video.updatedAt, kMax);
        QCOMPARE(video.excluded, true);
    }

    void thumbnailURL_data()
    {
        QTest::addColumn<QString>("youtubeID");
        QTest::addColumn<QString>("url"); // empty: no thumbnail

        QTest::newRow("plain") << u"dQw4w9WgXcQ"_qs << u"https://i.ytimg.com/vi/dQw4w9WgXcQ/mqdefault.jpg"_qs;
        QTest::newRow("case kept") << u"AbC-_x"_qs << u"https://i.ytimg.com/vi/AbC-_x/mqdefault.jpg"_qs;
        QTest::newRow("not a YouTube video") << u"x-1a2b3c"_qs << QString();
        QTest::newRow("x- alone") << u"x-"_qs << QString();
        QTest::newRow("capital X- is a YouTube ID")
            << u"X-1a2b3c"_qs << u"https://i.ytimg.com/vi/X-1a2b3c/mqdefault.jpg"_qs;
        QTest::newRow("x without dash") << u"xabcdef"_qs << u"https://i.ytimg.com/vi/xabcdef/mqdefault.jpg"_qs;
        QTest::newRow("space makes no URL") << u"ab cdef"_qs << QString();
        QTest::newRow("bad percent escape makes no URL") << u"ab%zzef"_qs << QString();
        QTest::newRow("other script") << u"видео_ролик"_qs << u"https://i.ytimg.com/vi/видео_ролик/mqdefault.jpg"_qs;
    }

    void thumbnailURL()
    {
        QFETCH(QString, youtubeID);
        QFETCH(QString, url);
        Video video = withDuration({});
        video.youtubeID = youtubeID;
        const std::optional<QUrl> thumbnail = video.thumbnailURL();
        if (url.isEmpty()) {
            QCOMPARE(thumbnail, std::nullopt);
        } else {
            QVERIFY(thumbnail.has_value());
            QCOMPARE(thumbnail->toString(), url);
            QCOMPARE(thumbnail->scheme(), u"https"_qs);
        }
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "VideoTest.moc"
