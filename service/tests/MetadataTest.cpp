#include "Duration.h"
#include "FakeHttpServer.h"
#include "outbound/MetadataProvider.h"
#include "outbound/OEmbedProvider.h"
#include "outbound/OutboundHttp.h"
#include "outbound/YouTubeDataProvider.h"

#include <QUrlQuery>
#include <QtTest>

#include <future>
#include <tuple>

using namespace clipvane::service;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;
using clipvane::test::RecordedRequest;

namespace {

const QByteArray kGoodVideos = R"({"kind":"youtube#videoListResponse","items":[{"id":"dQw4w9WgXcQ",
  "snippet":{"title":"Never Gonna Give You Up","publishedAt":"2009-10-25T06:57:33Z"},
  "contentDetails":{"duration":"PT3M33S"}}]})";

// Control characters, a direction override, and a title far too long (the rest follows).
const QByteArray kDirtyTitle = R"({"title":"\u0007Line\none\u202Eevil\t )";

// "title|date|duration", or "none".
QString shown(const std::optional<VideoMetadata> &metadata)
{
    return metadata ? QStringList{metadata->title, metadata->uploadDate, metadata->duration}.join(u'|') : u"none"_qs;
}

// The providers as the service makes them, at local fakes: with a key the Data API with
// oEmbed behind it, without one oEmbed alone.
struct Providers
{
    explicit Providers(bool withKey = true)
    {
        if (!dataApi.start() || !oembed.start())
            qFatal("the fake providers found no free port");
        MetadataConfig config;
        config.youtubeApiKey = withKey ? u"KEY-123"_qs : QString();
        config.youtubeApiBase = dataApi.url(u"/youtube/v3"_qs).toString();
        config.oembedBase = oembed.url(u"/oembed/"_qs).toString();
        config.timeout = std::chrono::milliseconds(2000);
        provider = makeMetadataProvider(config);
    }
    FakeHttpServer dataApi;
    FakeHttpServer oembed;
    std::unique_ptr<MetadataProvider> provider;
};

// The path and the named query items of each request, as "path a b".
QStringList asked(const FakeHttpServer &server, const QStringList &names)
{
    QStringList requests;
    for (const RecordedRequest &request : server.requests()) {
        QStringList parts{QString::fromLatin1(request.path)};
        const QUrlQuery query(QString::fromLatin1(request.query));
        for (const QString &name : names)
            parts.append(query.queryItemValue(name, QUrl::FullyDecoded));
        requests.append(parts.join(u' '));
    }
    return requests;
}

// Who answers ("data": the Data API; "fallback": oEmbed after the Data API refused; "oembed":
// oEmbed alone, without a key), with what, and the metadata reported.
void replyRows()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("metadata");
    QTest::addColumn<int>("delayMs");
    const auto row = [](const char *name, const char *provider, int status, const QByteArray &body,
                        const char *metadata, int delayMs = 0) {
        QTest::newRow(name) << QString::fromLatin1(provider) << status << body << QString::fromUtf8(metadata)
                            << delayMs;
    };
    row("data: good reply", "data", 200, kGoodVideos, "Never Gonna Give You Up|2009-10-25|3:33");
    row("data: too slow", "data", 200, kGoodVideos, "none", 10000);
    row("data: no contentDetails", "data", 200,
        R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-01-02T00:00:00Z"}}]})", "T|2020-01-02|");
    row("data: no snippet", "data", 200, R"({"items":[{"contentDetails":{"duration":"PT1H"}}]})", "||1:00:00");
    row("data: bad date and duration", "data", 200,
        R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-13-45"},"contentDetails":{"duration":"soon"}}]})",
        "T||");
    row("data: unknown video", "data", 200, R"({"items":[]})", "none");
    row("data: items not a list", "data", 200, R"({"items":{"a":1}})", "none");
    row("data: fields of wrong types", "data", 200,
        R"({"items":[{"snippet":{"title":5,"publishedAt":[]},"contentDetails":{"duration":7}}]})", "none");
    row("data: not JSON", "data", 200, "<html>quota</html>", "none");
    row("data: truncated JSON", "data", 200, R"({"items":[{"snippet":{"title":"T")", "none");
    row("data: JSON array", "data", 200, "[1,2,3]", "none");
    row("data: server error", "data", 500, kGoodVideos, "none");
    row("data: quota exceeded", "data", 403, R"({"error":{"code":403}})", "none");
    row("oembed: title only", "oembed", 200, R"({"title":"Café \"Paris\" tour","author_name":"x","html":"<iframe>"})",
        "Café \"Paris\" tour||");
    row("fallback: title from oEmbed", "fallback", 200, R"({"title":"From oEmbed"})", "From oEmbed||");
    row("fallback: oEmbed fails too", "fallback", 500, "{}", "none");
    row("oembed: not found", "oembed", 404, "Not Found", "none");
    row("oembed: private video", "oembed", 401, "Unauthorized", "none");
    row("oembed: server error", "oembed", 500, R"({"title":"x"})", "none");
    row("oembed: garbage", "oembed", 200, QByteArray("\x00\xff garbage", 10), "none");
    row("oembed: no title", "oembed", 200, R"({"author_name":"x"})", "none");
    row("oembed: blank title", "oembed", 200, R"({"title":"  \n\t "})", "none");
    row("oembed: title not text", "oembed", 200, R"({"title":{"nested":true}})", "none");
}

} // namespace

class MetadataTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The service converts YouTube's lengths once, into the text the library stores; the shared
    // reader gives that text back the seconds the ISO form meant.
    void isoDuration_data()
    {
        QTest::addColumn<QString>("iso");
        QTest::addColumn<QString>("clock"); // empty: none
        QTest::addColumn<qint64>("seconds");
        // Hours are not wrapped into days; seconds overflow into minutes; fractions are dropped.
        for (const auto &[iso, clock, seconds] :
             {std::tuple(u"PT1H2M3S"_qs, u"1:02:03"_qs, 3723), std::tuple(u"PT45S"_qs, u"0:45"_qs, 45),
              std::tuple(u"P1DT2H"_qs, u"26:00:00"_qs, 93600), std::tuple(u"P0D"_qs, u"0:00"_qs, 0),
              std::tuple(u"PT100H0M1S"_qs, u"100:00:01"_qs, 360001), std::tuple(u"P1W"_qs, u"168:00:00"_qs, 604800),
              std::tuple(u"PT90S"_qs, u"1:30"_qs, 90), std::tuple(u"PT1.5S"_qs, u"0:01"_qs, 1)})
            QTest::addRow("%s", qPrintable(iso)) << iso << clock << qint64(seconds);
        for (const QString &bad : {QString(), u"P"_qs, u"PT"_qs, u"P1DT"_qs, u"P1Y"_qs, u"P1M"_qs, u"PT-1S"_qs,
                                   u"T1H"_qs, u"pt1h"_qs, u"PT3S2M"_qs, u"PT99999999999999999999H"_qs, u"PT1Mx"_qs})
            QTest::addRow("refused: %s", qPrintable(bad)) << bad << QString() << qint64(0);
    }
    void isoDuration()
    {
        QFETCH(QString, iso);
        QFETCH(QString, clock);
        QFETCH(qint64, seconds);
        const auto converted = YouTubeDataProvider::clockFromIsoDuration(iso);
        QCOMPARE(converted.value_or(QString()), clock);
        QCOMPARE(converted.has_value(), !clock.isEmpty());
        if (converted)
            QCOMPARE(clipvane::Duration::seconds(*converted), std::optional<qint64>(seconds));
    }

    void replies_data() { replyRows(); }
    void replies()
    {
        QFETCH(QString, provider);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, metadata);
        QFETCH(int, delayMs);
        const bool data = provider == u"data";
        Providers fakes(provider != u"oembed");
        FakeReply reply = FakeReply::json(data ? body : "{}", data ? status : 403);
        reply.delay = std::chrono::milliseconds(delayMs);
        fakes.dataApi.setDefaultReply(reply);
        fakes.oembed.setDefaultReply(data ? FakeReply::json("Not Found", 404) : FakeReply::json(body, status));
        QCOMPARE(shown(fakes.provider->fetch(u"abc-DEF_123"_qs, u"https://youtu.be/abc-DEF_123?t=5"_qs)), metadata);
        // The Data API is asked with the key; oEmbed, when the Data API gave nothing, for the
        // canonical watch address, whatever link the user saved.
        const QStringList dataAsked = asked(fakes.dataApi, {u"part"_qs, u"id"_qs, u"key"_qs});
        QCOMPARE(dataAsked, provider == u"oembed" ? QStringList()
                                                  : QStringList{u"/youtube/v3/videos snippet,contentDetails "
                                                                u"abc-DEF_123 KEY-123"_qs});
        const QStringList oembedAsked = asked(fakes.oembed, {u"url"_qs, u"format"_qs});
        QCOMPARE(oembedAsked, data && metadata != u"none"
                                  ? QStringList()
                                  : QStringList{u"/oembed https://www.youtube.com/watch?v=abc-DEF_123 json"_qs});
    }

    void foreignAndMalformedIDsAskNobody()
    {
        Providers fakes;
        fakes.dataApi.setDefaultReply(FakeReply::json(kGoodVideos));
        fakes.oembed.setDefaultReply(FakeReply::json(R"({"title":"x"})"));
        for (const QString &id : {u"x-1a2b3c"_qs, QString(), u"../videos?id=1"_qs, u"a b"_qs, u"id&key=other"_qs})
            QVERIFY2(!fakes.provider->fetch(id, u"https://example.com/page"_qs), qPrintable(id));
        QCOMPARE(fakes.dataApi.requestCount() + fakes.oembed.requestCount(), 0);
    }

    void titlesAreCleaned()
    {
        const QByteArray body = kDirtyTitle + QByteArray(5000, 'a') + "\"}";
        const QString title = OEmbedProvider::parseReply(body).value_or(VideoMetadata{}).title;
        QVERIFY(title.startsWith(u"Line one evil aaa"_qs));
        QVERIFY(title.size() <= 500);
        QVERIFY(!title.contains(QChar(0x202E)));
    }

    void outboundBoundsTheReply()
    {
        FakeHttpServer server;
        QVERIFY(server.start());
        server.setDefaultReply(FakeReply::json(QByteArray(64 * 1024, 'x')));
        HttpRequest request;
        request.url = server.url(u"/big"_qs).toString().toStdString();
        request.maxReplyBytes = 1024;
        const HttpResult bounded = httpSend(request);
        QVERIFY(bounded.status == 0 && bounded.body.empty() && !bounded.error.empty());
        request.maxReplyBytes = 64 * 1024;
        const HttpResult whole = httpSend(request);
        QCOMPARE(whole.status, 200);
        QCOMPARE(whole.body.size(), std::size_t(64 * 1024));
    }

    void outboundRedirects()
    {
        FakeHttpServer first;
        FakeHttpServer second;
        QVERIFY(first.start() && second.start());
        const QByteArray end = second.url(u"/end"_qs).toEncoded();
        first.setHandler([end](const RecordedRequest &request) {
            FakeReply redirect;
            redirect.status = request.path == "/next" ? 307 : 302;
            redirect.headers = {{"Location", request.path == "/start"  ? "/next"
                                             : request.path == "/next" ? end
                                                                       : "/loop"}};
            return redirect;
        });
        second.setDefaultReply(FakeReply::json("done"));

        const std::string start = first.url(u"/start"_qs).toString().toStdString();
        const HttpResult followed = httpGet(start, {{"Authorization", "Bearer secret"}, {"X-Other", "kept"}}, 5);
        QCOMPARE(followed.status, 200);
        QCOMPARE(followed.body, std::string("done"));
        // The credentials were for the first origin only.
        QCOMPARE(first.lastRequest().path, "/next");
        QCOMPARE(first.lastRequest().header("Authorization"), "Bearer secret");
        QCOMPARE(second.requestCount(), 1);
        QCOMPARE(second.lastRequest().path, "/end");
        QVERIFY(!second.lastRequest().hasHeader("Authorization"));
        QCOMPARE(second.lastRequest().header("X-Other"), "kept");

        first.clearRequests();
        QCOMPARE(httpGet(first.url(u"/loop"_qs).toString().toStdString(), {}, 5).status, 0);
        QVERIFY(first.requestCount() <= 4);
    }

    void outboundRefusesBadAddresses()
    {
        for (const char *url : {"ftp://127.0.0.1/x", "file:///etc/passwd", "http://", "no scheme",
                                "http://127.0.0.1:99999/", "http://user@127.0.0.1/", "http://127.0.0.1/a b",
                                "http://127.0.0.1/a\r\nX-Injected: 1", "http://bad host/", "http://127.0.0.1:1/"}) {
            const HttpResult result = httpGet(url, {}, 2);
            QVERIFY2(result.status == 0 && !result.error.empty(), url);
        }
        QCOMPARE(urlEncode("a b&c=d/é~"), std::string("a%20b%26c%3Dd%2F%C3%A9~"));
    }

    void outboundCancel()
    {
        FakeHttpServer server;
        QVERIFY(server.start());
        FakeReply late = FakeReply::json("late");
        late.delay = std::chrono::seconds(60); // cut short when the server stops
        server.setDefaultReply(late);
        HttpCancel cancel;
        HttpRequest request;
        request.url = server.url(u"/slow"_qs).toString().toStdString();
        request.timeout = std::chrono::seconds(60);
        request.cancel = &cancel;
        auto pending = std::async(std::launch::async, [&request] { return httpSend(request); });
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 10000);
        cancel.cancel();
        // Generous: only a call that ignored the cancel would still be waiting for the held reply.
        QCOMPARE(pending.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        QCOMPARE(pending.get().error, std::string("cancelled"));
        // A cancelled handle stays cancelled: no later call goes out.
        QCOMPARE(httpSend(request).error, std::string("cancelled"));
        QCOMPARE(server.requestCount(), 1);
    }
};

QTEST_GUILESS_MAIN(MetadataTest)
#include "MetadataTest.moc"
