#include "ExtrasFakeServer.h"
#include "MetadataProvider.h"
#include "OEmbedProvider.h"
#include "OutboundHttp.h"
#include "YouTubeDataProvider.h"

#include <QtTest>

using namespace clipvane::service;
using clipvane::service::test::ExtrasFakeServer;

namespace {

constexpr auto kShortTimeout = std::chrono::milliseconds(300);

const std::string kGoodVideos = R"({"kind":"youtube#videoListResponse","items":[{"id":"dQw4w9WgXcQ",
  "snippet":{"title":"Never Gonna Give You Up","publishedAt":"2009-10-25T06:57:33Z"},
  "contentDetails":{"duration":"PT3M33S"}}]})";

MetadataConfig dataApiConfig(const ExtrasFakeServer &dataApi, const ExtrasFakeServer &oembed)
{
    MetadataConfig config;
    config.youtubeApiKey = u"KEY-123"_qs;
    config.youtubeApiBase = dataApi.qBaseUrl() + u"/youtube/v3"_qs;
    config.oembedBase = oembed.qBaseUrl() + u"/oembed"_qs;
    config.timeout = std::chrono::seconds(5);
    return config;
}

std::string param(const clipvane::service::test::RecordedRequest &request, const std::string &name)
{
    const auto found = request.params.find(name);
    return found == request.params.end() ? std::string("<missing>") : found->second;
}

} // namespace

class MetadataTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isoDuration_data();
    void isoDuration();
    void dataApiGoodReply();
    void dataApiReplies_data();
    void dataApiReplies();
    void dataApiTimeout();
    void oembedTitleOnly();
    void oembedFailures_data();
    void oembedFailures();
    void fallsBackToOEmbed();
    void foreignAndMalformedIDsAskNobody();
    void titlesAreCleaned();
    void outboundBoundsTheReply();
    void outboundRedirects();
    void outboundRefusesBadAddresses();
    void outboundCancel();
};

void MetadataTest::isoDuration_data()
{
    QTest::addColumn<QString>("iso");
    QTest::addColumn<QString>("clock"); // empty: none

    QTest::newRow("hours minutes seconds") << u"PT1H2M3S"_qs << u"1:02:03"_qs;
    QTest::newRow("seconds only") << u"PT45S"_qs << u"0:45"_qs;
    QTest::newRow("day and hours, not wrapped") << u"P1DT2H"_qs << u"26:00:00"_qs;
    QTest::newRow("zero") << u"PT0S"_qs << u"0:00"_qs;
    QTest::newRow("live stream zero days") << u"P0D"_qs << u"0:00"_qs;
    QTest::newRow("minutes only") << u"PT10M"_qs << u"10:00"_qs;
    QTest::newRow("minute and seconds") << u"PT1M5S"_qs << u"1:05"_qs;
    QTest::newRow("exactly an hour") << u"PT1H"_qs << u"1:00:00"_qs;
    QTest::newRow("many hours") << u"PT100H0M1S"_qs << u"100:00:01"_qs;
    QTest::newRow("a week") << u"P1W"_qs << u"168:00:00"_qs;
    QTest::newRow("seconds overflow into minutes") << u"PT90S"_qs << u"1:30"_qs;
    QTest::newRow("fraction dropped") << u"PT1.5S"_qs << u"0:01"_qs;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("bare P") << u"P"_qs << QString();
    QTest::newRow("bare PT") << u"PT"_qs << QString();
    QTest::newRow("dangling T") << u"P1DT"_qs << QString();
    QTest::newRow("years have no fixed length") << u"P1Y"_qs << QString();
    QTest::newRow("months have no fixed length") << u"P1M"_qs << QString();
    QTest::newRow("negative") << u"PT-1S"_qs << QString();
    QTest::newRow("no P") << u"T1H"_qs << QString();
    QTest::newRow("lower case") << u"pt1h"_qs << QString();
    QTest::newRow("wrong order") << u"PT3S2M"_qs << QString();
    QTest::newRow("huge number") << u"PT99999999999999999999H"_qs << QString();
    QTest::newRow("trailing junk") << u"PT1Mx"_qs << QString();
}

void MetadataTest::isoDuration()
{
    QFETCH(QString, iso);
    QFETCH(QString, clock);
    const auto converted = YouTubeDataProvider::clockFromIsoDuration(iso);
    QCOMPARE(converted.value_or(QString()), clock);
    QCOMPARE(converted.has_value(), !clock.isEmpty());
}

void MetadataTest::dataApiGoodReply()
{
    ExtrasFakeServer dataApi;
    ExtrasFakeServer oembed;
    dataApi.reply("GET", "/youtube/v3/videos", 200, kGoodVideos);
    auto provider = makeMetadataProvider(dataApiConfig(dataApi, oembed));

    const auto metadata = provider->fetch(u"dQw4w9WgXcQ"_qs, u"https://youtu.be/dQw4w9WgXcQ"_qs);
    QVERIFY(metadata);
    QCOMPARE(metadata->title, u"Never Gonna Give You Up"_qs);
    QCOMPARE(metadata->uploadDate, u"2009-10-25"_qs);
    QCOMPARE(metadata->duration, u"3:33"_qs);

    const auto requests = dataApi.requestsTo("/youtube/v3/videos");
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(param(requests.front(), "part"), std::string("snippet,contentDetails"));
    QCOMPARE(param(requests.front(), "id"), std::string("dQw4w9WgXcQ"));
    QCOMPARE(param(requests.front(), "key"), std::string("KEY-123"));
    QCOMPARE(oembed.requests().size(), std::size_t(0));
}

void MetadataTest::dataApiReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("duration");

    QTest::newRow("no contentDetails")
        << 200 << QByteArray(R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-01-02T00:00:00Z"}}]})") << true
        << u"T"_qs << u"2020-01-02"_qs << QString();
    QTest::newRow("no snippet") << 200 << QByteArray(R"({"items":[{"contentDetails":{"duration":"PT1H"}}]})") << true
                                << QString() << QString() << u"1:00:00"_qs;
    QTest::newRow("bad date and duration")
        << 200 << QByteArray(R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-13-45"},
                                                  "contentDetails":{"duration":"soon"}}]})")
        << true << u"T"_qs << QString() << QString();
    QTest::newRow("unknown video") << 200 << QByteArray(R"({"items":[]})") << false << QString() << QString()
                                   << QString();
    QTest::newRow("items not a list") << 200 << QByteArray(R"({"items":{"a":1}})") << false << QString() << QString()
                                      << QString();
    QTest::newRow("fields of wrong types") << 200 << QByteArray(R"({"items":[{"snippet":{"title":5,"publishedAt":[]},
                                                  "contentDetails":{"duration":7}}]})")
                                           << false << QString() << QString() << QString();
    QTest::newRow("not JSON") << 200 << QByteArray("<html>quota</html>") << false << QString() << QString()
                              << QString();
    QTest::newRow("truncated JSON") << 200 << QByteArray(R"({"items":[{"snippet":{"title":"T")") << false << QString()
                                    << QString() << QString();
    QTest::newRow("JSON array") << 200 << QByteArray("[1,2,3]") << false << QString() << QString() << QString();
    QTest::newRow("server error") << 500 << QByteArray(kGoodVideos.c_str()) << false << QString() << QString()
                                  << QString();
    QTest::newRow("quota exceeded") << 403 << QByteArray(R"({"error":{"code":403}})") << false << QString() << QString()
                                    << QString();
}

void MetadataTest::dataApiReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, found);
    QFETCH(QString, title);
    QFETCH(QString, date);
    QFETCH(QString, duration);

    ExtrasFakeServer dataApi;
    dataApi.reply("GET", "/videos", status, body.toStdString());
    YouTubeDataProvider provider(dataApi.qBaseUrl(), u"KEY"_qs, std::chrono::seconds(5));
    const auto metadata = provider.fetch(u"abcdefghijk"_qs, QString());
    QCOMPARE(metadata.has_value(), found);
    if (metadata) {
        QCOMPARE(metadata->title, title);
        QCOMPARE(metadata->uploadDate, date);
        QCOMPARE(metadata->duration, duration);
    }
}

void MetadataTest::dataApiTimeout()
{
    ExtrasFakeServer dataApi;
    dataApi.on("GET", "/videos", [&dataApi](const httplib::Request &, httplib::Response &response) {
        dataApi.holdUntilReleased();
        response.set_content(kGoodVideos, "application/json");
    });
    YouTubeDataProvider provider(dataApi.qBaseUrl(), u"KEY"_qs, kShortTimeout);
    QVERIFY(!provider.fetch(u"abcdefghijk"_qs, QString()));
    dataApi.release();
}

void MetadataTest::oembedTitleOnly()
{
    ExtrasFakeServer oembed;
    oembed.reply("GET", "/oembed", 200,
                 R"({"title":"Café \"Paris\" tour","author_name":"someone","type":"video","html":"<iframe>"})");
    MetadataConfig config;
    config.oembedBase = oembed.qBaseUrl() + u"/oembed/"_qs;
    auto provider = makeMetadataProvider(config);

    const auto metadata = provider->fetch(u"abc-DEF_123"_qs, u"https://youtu.be/abc-DEF_123?t=5"_qs);
    QVERIFY(metadata);
    QCOMPARE(metadata->title, u"Café \"Paris\" tour"_qs);
    QVERIFY(metadata->uploadDate.isEmpty());
    QVERIFY(metadata->duration.isEmpty());

    const auto requests = oembed.requestsTo("/oembed");
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(param(requests.front(), "url"), std::string("https://www.youtube.com/watch?v=abc-DEF_123"));
    QCOMPARE(param(requests.front(), "format"), std::string("json"));
}

void MetadataTest::oembedFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("not found") << 404 << QByteArray("Not Found");
    QTest::newRow("private video") << 401 << QByteArray("Unauthorized");
    QTest::newRow("server error") << 500 << QByteArray(R"({"title":"x"})");
    QTest::newRow("garbage") << 200 << QByteArray("\x00\xff garbage", 10);
    QTest::newRow("no title") << 200 << QByteArray(R"({"author_name":"x"})");
    QTest::newRow("blank title") << 200 << QByteArray(R"({"title":"  \n\t "})");
    QTest::newRow("title not text") << 200 << QByteArray(R"({"title":{"nested":true}})");
}

void MetadataTest::oembedFailures()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    ExtrasFakeServer oembed;
    oembed.reply("GET", "/oembed", status, body.toStdString());
    OEmbedProvider provider(oembed.qBaseUrl() + u"/oembed"_qs, std::chrono::seconds(5));
    QVERIFY(!provider.fetch(u"abcdefghijk"_qs, QString()));
}

void MetadataTest::fallsBackToOEmbed()
{
    ExtrasFakeServer dataApi;
    ExtrasFakeServer oembed;
    dataApi.reply("GET", "/youtube/v3/videos", 403, R"({"error":{"message":"quotaExceeded"}})");
    oembed.reply("GET", "/oembed", 200, R"({"title":"From oEmbed"})");
    auto provider = makeMetadataProvider(dataApiConfig(dataApi, oembed));
    const auto metadata = provider->fetch(u"abcdefghijk"_qs, QString());
    QVERIFY(metadata);
    QCOMPARE(metadata->title, u"From oEmbed"_qs);
    QCOMPARE(dataApi.count("/youtube/v3/videos"), std::size_t(1));

    oembed.reply("GET", "/oembed", 500, "{}");
    QVERIFY(!provider->fetch(u"abcdefghijk"_qs, QString()));
}

void MetadataTest::foreignAndMalformedIDsAskNobody()
{
    ExtrasFakeServer dataApi;
    ExtrasFakeServer oembed;
    dataApi.reply("GET", "/youtube/v3/videos", 200, kGoodVideos);
    oembed.reply("GET", "/oembed", 200, R"({"title":"x"})");
    auto provider = makeMetadataProvider(dataApiConfig(dataApi, oembed));
    QVERIFY(isForeignLinkID(u"x-1a2b3c"_qs));
    for (const QString &id : {u"x-1a2b3c"_qs, QString(), u"../videos?id=1"_qs, u"a b"_qs, u"id&key=other"_qs})
        QVERIFY2(!provider->fetch(id, u"https://example.com/page"_qs), qPrintable(id));
    QCOMPARE(dataApi.requests().size(), std::size_t(0));
    QCOMPARE(oembed.requests().size(), std::size_t(0));
}

void MetadataTest::titlesAreCleaned()
{
    const QString huge(5000, u'a');
    const QByteArray body = QByteArray(R"({"title":"\u0007Line\none\u202Eevil\t )") + huge.toLatin1() + "\"}";
    const auto metadata = OEmbedProvider::parseReply(body);
    QVERIFY(metadata);
    QVERIFY(metadata->title.startsWith(u"Line one evil aaa"_qs));
    QVERIFY(metadata->title.size() <= 500);
    QVERIFY(!metadata->title.contains(QChar(0x202E)));
}

void MetadataTest::outboundBoundsTheReply()
{
    ExtrasFakeServer server;
    server.reply("GET", "/big", 200, std::string(64 * 1024, 'x'));
    HttpRequest request;
    request.url = server.baseUrl() + "/big";
    request.maxReplyBytes = 1024;
    const HttpResult bounded = httpSend(request);
    QCOMPARE(bounded.status, 0);
    QVERIFY(bounded.body.empty());
    QVERIFY(!bounded.error.empty());

    request.maxReplyBytes = 64 * 1024;
    const HttpResult whole = httpSend(request);
    QCOMPARE(whole.status, 200);
    QCOMPARE(whole.body.size(), std::size_t(64 * 1024));
}

void MetadataTest::outboundRedirects()
{
    ExtrasFakeServer first;
    ExtrasFakeServer second;
    first.on("GET", "/start",
             [](const httplib::Request &, httplib::Response &response) { response.set_redirect("/next", 302); });
    first.on("GET", "/next", [&second](const httplib::Request &, httplib::Response &response) {
        response.set_redirect(second.baseUrl() + "/end", 307);
    });
    second.reply("GET", "/end", 200, "done");
    first.on("GET", "/loop",
             [](const httplib::Request &, httplib::Response &response) { response.set_redirect("/loop", 302); });

    const HttpResult followed =
        httpGet(first.baseUrl() + "/start", {{"Authorization", "Bearer secret"}, {"X-Other", "kept"}}, 5);
    QCOMPARE(followed.status, 200);
    QCOMPARE(followed.body, std::string("done"));
    // The credentials were for the first origin only.
    QCOMPARE(first.requestsTo("/next").front().headers.count("Authorization"), std::size_t(1));
    const auto atSecond = second.requestsTo("/end");
    QCOMPARE(atSecond.size(), std::size_t(1));
    QCOMPARE(atSecond.front().headers.count("Authorization"), std::size_t(0));
    QCOMPARE(atSecond.front().headers.count("X-Other"), std::size_t(1));

    const HttpResult looping = httpGet(first.baseUrl() + "/loop", {}, 5);
    QCOMPARE(looping.status, 0);
    QVERIFY(first.count("/loop") <= 4);
}

void MetadataTest::outboundRefusesBadAddresses()
{
    for (const std::string url : {"ftp://127.0.0.1/x", "file:///etc/passwd", "http://", "no scheme",
                                  "http://127.0.0.1:99999/", "http://user@127.0.0.1/", "http://127.0.0.1/a b",
                                  "http://127.0.0.1/a\r\nX-Injected: 1", "http://bad host/"}) {
        const HttpResult result = httpGet(url, {}, 2);
        QVERIFY2(result.status == 0 && !result.error.empty(), url.c_str());
    }
    // Nothing listens on a port that was just freed: a transport error, not a crash or a hang.
    int freePort = 0;
    {
        ExtrasFakeServer closed;
        freePort = closed.port();
    }
    const HttpResult refused = httpGet("http://127.0.0.1:" + std::to_string(freePort) + "/", {}, 2);
    QCOMPARE(refused.status, 0);
    QCOMPARE(urlEncode("a b&c=d/é~"), std::string("a%20b%26c%3Dd%2F%C3%A9~"));
}

void MetadataTest::outboundCancel()
{
    ExtrasFakeServer server;
    server.on("GET", "/slow", [&server](const httplib::Request &, httplib::Response &response) {
        server.holdUntilReleased();
        response.set_content("late", "text/plain");
    });
    HttpCancel cancel;
    HttpRequest request;
    request.url = server.baseUrl() + "/slow";
    request.timeout = std::chrono::seconds(60);
    request.cancel = &cancel;
    auto pending = std::async(std::launch::async, [&request] { return httpSend(request); });
    QTRY_COMPARE_WITH_TIMEOUT(server.count("/slow"), std::size_t(1), 10000);
    cancel.cancel();
    // Generous: only a call that ignored the cancel would still be waiting for the held reply.
    QCOMPARE(pending.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const HttpResult result = pending.get();
    QCOMPARE(result.status, 0);
    QCOMPARE(result.error, std::string("cancelled"));
    server.release();
    // A cancelled handle stays cancelled: no later call goes out.
    QCOMPARE(httpSend(request).error, std::string("cancelled"));
    QCOMPARE(server.count("/slow"), std::size_t(1));
}

QTEST_GUILESS_MAIN(MetadataTest)
#include "MetadataTest.moc"
