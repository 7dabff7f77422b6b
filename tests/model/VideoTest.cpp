#include "Video.h"
#include "Duration.h"
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
    // One reader of length text for the list and the assistant; the list counts an unknown length as 0.
    void durationSeconds_data()
    {
        QTest::addColumn<QString>("duration");
        QTest::addColumn<bool>("known");
        QTest::addColumn<qint64>("seconds");

        QTest::newRow("hours") << u"1:02:03"_qs << true << qint64(3723);
        QTest::newRow("minutes") << u"4:05"_qs << true << qint64(245);
        QTest::newRow("empty is unknown") << QString() << false << qint64(0);
        QTest::newRow("no number is unknown") << u"live"_qs << false << qint64(0);
        QTest::newRow("ISO-8601 is no length text") << u"PT1H2M3S"_qs << false << qint64(0);
        QTest::newRow("pieces trimmed of any white space") << u"\t1\n:\r2 "_qs << true << qint64(62);
        QTest::newRow("both separators") << u"1:30;15"_qs << true << qint64(5415);
        QTest::newRow("empty pieces dropped") << u"::5::"_qs << true << qint64(5);
        QTest::newRow("signed pieces") << u"+1:-30"_qs << true << qint64(30);
        QTest::newRow("leading zeros, minutes past 59") << u"007:0129"_qs << true << qint64(549);
        // Each of these pieces is no whole number: it is dropped and holds no place.
        QTest::newRow("pieces that are no whole number") << u"1:x:+:-:--5:1 0:1.5:\u0663:30"_qs << true << qint64(90);

        // Sums saturate at the 64-bit limits, but only at the end: a huge piece can cancel out.
        QTest::newRow("one past smallest") << u"-9223372036854775809"_qs << true << kMin;
        QTest::newRow("huge pieces cancel exactly")
            << u"99999999999999999999:-5999999999999999999939"_qs << true << qint64(1);
        QTest::newRow("long run of places") << QString(u"9:"_qs).repeated(200) + u"9"_qs << true << kMax;
    }

    void durationSeconds()
    {
        QFETCH(QString, duration);
        QFETCH(qint64, seconds);
        const std::optional<qint64> read = Duration::seconds(duration);
        QTEST(read.has_value(), "known");
        QCOMPARE(read.value_or(0), seconds);
        QCOMPARE(record(duration).durationSeconds(), seconds);
    }

    void syncState_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<SyncState>("state");
        QTest::addColumn<bool>("pending");

        QTest::newRow("synced") << u"synced"_qs << SyncState::synced << false;
        QTest::newRow("needsDelete") << u"needsDelete"_qs << SyncState::needsDelete << true;
        QTest::newRow("other case") << u"Synced"_qs << SyncState::unrecognised << false;
        QTest::newRow("padded") << u"needsAdd "_qs << SyncState::unrecognised << false;
        QTest::newRow("empty") << QString() << SyncState::unrecognised << false;
    }

    void syncState()
    {
        QFETCH(QString, raw);
        QFETCH(SyncState, state);
        const Video video = record({}, raw);
        QCOMPARE(video.syncState(), state);
        QTEST(video.isPending(), "pending");
        // An unrecognised state is written back as synced, the state it is treated as.
        QCOMPARE(rawFromSyncState(state), state == SyncState::unrecognised ? SyncStateRaw::synced : raw);
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
