#include "Video.h"
#include "SyncState.h"

#include <QTest>
#include <limits>

using namespace clipvane;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

Video record(const QString &duration = {}, const QString &state = {})
{
    return Video(u"abcdef"_qs, {}, {}, {}, duration, false, {}, 0, 0, state);
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
        QTest::newRow("empty") << QString() << qint64(0);
        QTest::newRow("pieces trimmed of any white space") << u"\t1\n:\r2 "_qs << qint64(62);
        QTest::newRow("unparsable piece dropped") << u"a:30"_qs << qint64(30);
        QTest::newRow("dropped piece does not count as a place") << u"1:x:30"_qs << qint64(90);
        QTest::newRow("both separators") << u"1:30;15"_qs << qint64(5415);
        QTest::newRow("empty pieces dropped") << u"::5::"_qs << qint64(5);
        QTest::newRow("plus sign") << u"+1:+5"_qs << qint64(65);
        QTest::newRow("negative seconds") << u"1:-30"_qs << qint64(30);
        QTest::newRow("sign alone") << u"+:-"_qs << qint64(0);
        QTest::newRow("two signs") << u"--5"_qs << qint64(0);
        QTest::newRow("inner space") << u"1 0"_qs << qint64(0);
        QTest::newRow("decimal point") << u"1.5"_qs << qint64(0);
        QTest::newRow("arabic-indic digit") << u"\u0663"_qs << qint64(0);
        QTest::newRow("leading zeros") << u"007:0009"_qs << qint64(429);

        QTest::newRow("largest") << u"9223372036854775807"_qs << kMax;
        QTest::newRow("one past largest") << u"9223372036854775808"_qs << kMax;
        QTest::newRow("smallest") << u"-9223372036854775808"_qs << kMin;
        QTest::newRow("one past smallest") << u"-9223372036854775809"_qs << kMin;
        QTest::newRow("largest from minutes") << u"153722867280912930:7"_qs << kMax;
        QTest::newRow("minutes overflow") << u"153722867280912930:8"_qs << kMax;
        QTest::newRow("twelve places overflow") << u"1:0:0:0:0:0:0:0:0:0:0:0"_qs << kMax;
        QTest::newRow("huge negative minutes win") << u"-99999999999999999999:99999999999999999999"_qs << kMin;
        QTest::newRow("huge pieces cancel exactly") << u"99999999999999999999:-5999999999999999999939"_qs << qint64(1);
        QTest::newRow("forty digits negative") << (u"-1"_qs + QString(40, u'0')) << kMin;
        QTest::newRow("long run of places") << QString(u"9:"_qs).repeated(200) + u"9"_qs << kMax;
    }

    void durationSeconds()
    {
        QFETCH(QString, duration);
        QFETCH(qint64, seconds);
        QCOMPARE(record(duration).durationSeconds(), seconds);
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
    }

    void syncState()
    {
        QFETCH(QString, raw);
        QFETCH(SyncState, state);
        QFETCH(bool, pending);
        const Video video = record({}, raw);
        QCOMPARE(video.syncState(), state);
        QCOMPARE(video.isPending(), pending);
        // An unrecognised state is written back as synced, the state it is treated as.
        QCOMPARE(rawFromSyncState(state), state == SyncState::unrecognised ? SyncStateRaw::synced : raw);
    }

    void constructorKeepsEveryField()
    {
        const Video video(u"id"_qs, u"T"_qs, u"U"_qs, u"D"_qs, u"3:33"_qs, true, u"ios"_qs, -1, kMax, u"S"_qs);
        const QStringList texts{video.youtubeID, video.title,  video.url,         video.uploadDate,
                                video.duration,  video.source, video.syncStateRaw};
        QCOMPARE(texts, QStringList({u"id"_qs, u"T"_qs, u"U"_qs, u"D"_qs, u"3:33"_qs, u"ios"_qs, u"S"_qs}));
        QCOMPARE(video.createdAt, qint64(-1));
        QCOMPARE(video.updatedAt, kMax);
        QVERIFY(video.excluded && !video.readOnly && video.ownerEmail.isEmpty());
    }

    void thumbnailURL()
    {
        Video video = record();
        for (const QString &id : {u"dQw4w9WgXcQ"_qs, u"X-1a2b3c"_qs, u"видео_ролик"_qs}) {
            video.youtubeID = id;
            QCOMPARE(video.thumbnailURL(), QUrl(u"https://i.ytimg.com/vi/%1/mqdefault.jpg"_qs.arg(id)));
        }
        // A link added locally that is no YouTube video ("x-"), and IDs that make no valid URL.
        for (const QString &id : {u"x-1a2b3c"_qs, u"ab cdef"_qs, u"ab%zzef"_qs}) {
            video.youtubeID = id;
            QCOMPARE(video.thumbnailURL(), std::nullopt);
        }
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "VideoTest.moc"
