// The service's calls out, each against a local stand-in: the metadata providers and the
// outbound HTTP client, Google's sign-in (alone and through the service's sign-in page), the
// Telegram bot (alone and inside the service with the link code), and the assistant (its own
// answers, and a chat model's).

#include "Duration.h"
#include "FakeHttpServer.h"
#include "TestService.h"
#include "assistant/Assistant.h"
#include "outbound/GoogleSignIn.h"
#include "outbound/MetadataProvider.h"
#include "outbound/OEmbedProvider.h"
#include "outbound/OutboundHttp.h"
#include "outbound/TelegramBot.h"
#include "outbound/YouTubeDataProvider.h"

#include <QDateTime>
#include <QSet>
#include <QTimeZone>
#include <QtTest>

#include <future>
#include <stdexcept>
#include <tuple>

using namespace clipvane::service;
using namespace clipvane::service::test;
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

// Who answers, by the row name's prefix ("data": the Data API; "fallback": oEmbed after the
// Data API refused; "oembed": oEmbed alone, without a key), with what, and the metadata reported.
void replyRows()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("metadata");
    QTest::addColumn<int>("delayMs");
    const auto row = [](const char *name, int status, const QByteArray &body, const char *metadata, int delayMs = 0) {
        QTest::newRow(name) << status << body << QString::fromUtf8(metadata) << delayMs;
    };
    row("data: good reply", 200, kGoodVideos, "Never Gonna Give You Up|2009-10-25|3:33");
    row("data: too slow", 200, kGoodVideos, "none", 10000);
    row("data: no contentDetails", 200, R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-01-02T00:00:00Z"}}]})",
        "T|2020-01-02|");
    row("data: no snippet", 200, R"({"items":[{"contentDetails":{"duration":"PT1H"}}]})", "||1:00:00");
    row("data: bad date and duration", 200,
        R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-13-45"},"contentDetails":{"duration":"soon"}}]})",
        "T||");
    row("data: unknown video", 200, R"({"items":[]})", "none");
    row("data: items not a list", 200, R"({"items":{"a":1}})", "none");
    row("data: fields of wrong types", 200,
        R"({"items":[{"snippet":{"title":5,"publishedAt":[]},"contentDetails":{"duration":7}}]})", "none");
    row("data: not JSON", 200, "<html>quota</html>", "none");
    row("data: truncated JSON", 200, R"({"items":[{"snippet":{"title":"T")", "none");
    row("data: JSON array", 200, "[1,2,3]", "none");
    row("data: server error", 500, kGoodVideos, "none");
    row("data: quota exceeded", 403, R"({"error":{"code":403}})", "none");
    row("oembed: title only", 200, R"({"title":"Café \"Paris\" tour","author_name":"x","html":"<iframe>"})",
        "Café \"Paris\" tour||");
    row("fallback: title from oEmbed", 200, R"({"title":"From oEmbed"})", "From oEmbed||");
    row("fallback: oEmbed fails too", 500, "{}", "none");
    row("oembed: not found", 404, "Not Found", "none");
    row("oembed: server error", 500, R"({"title":"x"})", "none");
    row("oembed: garbage", 200, QByteArray("\x00\xff garbage", 10), "none");
    row("oembed: no title", 200, R"({"author_name":"x"})", "none");
    row("oembed: blank title", 200, R"({"title":"  \n\t "})", "none");
    row("oembed: title not text", 200, R"({"title":{"nested":true}})", "none");
}

const QString kClientId = u"client-1.apps.example"_qs;
const QString kRedirect = u"http://127.0.0.1:8470/gauth/login.php"_qs;
const QByteArray kVerifiedInfo = R"({"sub":"1","email":"bob@example.com","email_verified":true})";

// An unsigned JSON Web Token with the given payload (the signature part is filler).
QByteArray idToken(const QByteArray &payload)
{
    QByteArrayList parts;
    for (const QByteArray &part : {QByteArray(R"({"alg":"RS256","typ":"JWT"})"), payload, QByteArray("signature")})
        parts.append(part.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    return parts.join('.');
}

QByteArray tokenReply(const QByteArray &idTokenPayload)
{
    QByteArray reply = R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599)";
    if (!idTokenPayload.isEmpty())
        reply += R"(,"id_token":")" + idToken(idTokenPayload) + "\"";
    return reply + "}";
}

QByteArray payload(const QByteArray &email, const QByteArray &verified, const QByteArray &audience = {})
{
    return R"({"aud":")" + (audience.isEmpty() ? kClientId.toUtf8() : audience) + R"(","sub":"1","email":")" + email +
           R"(","email_verified":)" + verified + "}";
}

const QByteArray kAdaReply = tokenReply(payload("ada@example.com", "true"));

GoogleConfig configAt(FakeHttpServer &google)
{
    if (!google.start())
        qFatal("the fake Google found no free port");
    const QString base = google.url().toString();
    return GoogleConfig{kClientId, u"s3cret"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/userinfo"_qs};
}

// The named items of a query or form as "a|b|c".
QString items(const QString &query, const char *names)
{
    QStringList values;
    for (const QString &name : QString::fromLatin1(names).split(u' '))
        values.append(QUrlQuery(query).queryItemValue(name, QUrl::FullyDecoded));
    return values.join(u'|');
}

// A fake Google and a sign-in that talks to it; outcomes read as the address or "error: …".
struct Google
{
    FakeHttpServer server;
    TestDatabase database;
    std::unique_ptr<Storage> storage = database.open();
    SignInStates states{*storage};
    GoogleSignIn signIn{configAt(server), states};

    QString start() { return queryItem(signIn.authorisationUrl(kRedirect), u"state"_qs); }
    QString complete(const QString &state, const QString &code = u"code"_qs)
    {
        const auto outcome = signIn.complete(state, code, kRedirect);
        const auto *error = std::get_if<std::string>(&outcome);
        return error ? u"error: "_qs + QString::fromStdString(*error) : std::get<QString>(outcome);
    }
    QList<RecordedRequest> requests(const QByteArray &path) const
    {
        QList<RecordedRequest> matching = server.requests();
        matching.removeIf([&](const auto &request) { return request.path != path; });
        return matching;
    }
};

const QString kToken = u"123456:ABC-def_ghi"_qs;
constexpr int kWaitMs = 15000;

// A local Bot API for one bot token. A getUpdates call takes the next queued reply, or else
// answers "no news" after a while, as Telegram's long poll does; sendMessage is answered at
// once; every call is recorded.
struct FakeTelegram
{
    const QByteArray methods = "/bot" + kToken.toUtf8() + '/';
    qint64 nextId = 100;
    FakeHttpServer server; // last: it stops before what its handler reads goes

    explicit FakeTelegram(std::chrono::milliseconds longPoll = std::chrono::milliseconds(50))
    {
        server.setHandler([this, longPoll](const RecordedRequest &request) {
            FakeReply reply = FakeReply::json(R"({"ok":true,"result":[]})");
            reply.delay = request.path == methods + "getUpdates" ? longPoll : std::chrono::milliseconds(0);
            return reply;
        });
        if (!server.start())
            qFatal("the fake Bot API found no free port");
    }
    // Queues a text message from a chat as the next poll's news; returns its update_id.
    qint64 push(qint64 chatId, const QString &text)
    {
        const QJsonObject chat{{u"id"_qs, chatId}, {u"type"_qs, u"private"_qs}};
        const QJsonObject message{{u"message_id"_qs, nextId * 10}, {u"chat"_qs, chat}, {u"text"_qs, text}};
        const QJsonArray updates{QJsonObject{{u"update_id"_qs, nextId}, {u"message"_qs, message}}};
        failNext(1, FakeReply::json(QJsonDocument(QJsonObject{{u"ok"_qs, true}, {u"result"_qs, updates}}).toJson()));
        return nextId++;
    }
    // The next n getUpdates calls get this reply.
    void failNext(int n, const FakeReply &reply)
    {
        for (int i = 0; i < n; ++i)
            server.enqueue(methods + "getUpdates", reply);
    }
    QStringList sent() const // "chat: text" of each message sent
    {
        QStringList sent;
        for (const RecordedRequest &request : server.requests()) {
            const QJsonObject body = QJsonDocument::fromJson(request.body).object();
            if (request.path == methods + "sendMessage")
                sent.append(u"%1: %2"_qs.arg(body.value(u"chat_id").toInteger()).arg(str(body, "text")));
        }
        return sent;
    }
    QList<std::pair<qint64, int>> polls() const // offset and timeout of each getUpdates call
    {
        QList<std::pair<qint64, int>> polls;
        for (const RecordedRequest &request : server.requests()) {
            const QUrlQuery query(QString::fromLatin1(request.query));
            if (request.path == methods + "getUpdates")
                polls.append(
                    {query.queryItemValue(u"offset"_qs).toLongLong(), query.queryItemValue(u"timeout"_qs).toInt()});
        }
        return polls;
    }
};

TelegramConfig configFor(FakeTelegram &telegram)
{
    TelegramConfig config;
    config.botToken = kToken;
    config.apiBase = telegram.server.url().toString();
    config.retryDelay = std::chrono::milliseconds(5);
    return config;
}

// A bot at a fake Telegram whose callbacks are logged from the bot's thread. Chat 42 is
// linked; code "good1" links once; a link with "boom" in it fails loudly.
struct Bot
{
    FakeTelegram telegram;
    mutable std::mutex mutex;
    QStringList calls;                // "link CODE CHAT" and "add CHAT TEXT"
    std::unique_ptr<TelegramBot> bot; // last: it goes before the log its callbacks write

    // longPoll: how long the fake holds a poll without news; pollTimeoutSeconds: how long the bot asks for.
    explicit Bot(std::chrono::milliseconds longPoll = std::chrono::milliseconds(50), int pollTimeoutSeconds = 25)
        : telegram(longPoll)
    {
        TelegramConfig config = configFor(telegram);
        config.pollTimeoutSeconds = pollTimeoutSeconds;
        TelegramBot::Callbacks callbacks;
        callbacks.linkChat = [this](const QString &code, qint64 chatId) {
            std::lock_guard lock(mutex);
            calls.append(u"link %1 %2"_qs.arg(code).arg(chatId));
            return code == u"good1" && calls.filter(u"link good1 "_qs).size() == 1;
        };
        callbacks.addLink = [this](qint64 chatId, const QString &text) -> std::optional<QString> {
            std::lock_guard lock(mutex);
            calls.append(u"add %1 %2"_qs.arg(chatId).arg(text));
            if (text.contains(u"boom"_qs))
                throw std::runtime_error("database is locked");
            return chatId == 42 ? std::optional(u"My \"Title\" <b>"_qs) : std::nullopt;
        };
        bot = std::make_unique<TelegramBot>(config, callbacks);
    }

    QStringList seen() const
    {
        std::lock_guard lock(mutex);
        return QStringList(calls.cbegin(), calls.cend()); // unshared: the bot's thread appends to calls
    }
};

using Ids = QList<qint64>;

qint64 at(int year, int month, int day, int hour = 12)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), QTimeZone::utc()).toMSecsSinceEpoch();
}

const qint64 kNow = at(2024, 3, 14); // a Thursday

LibraryVideo video(qint64 id, const char *youtubeID, const QString &title, const char *uploadDate, const char *duration,
                   qint64 createdAt, const char *owner = "")
{
    const QString ytID = QString::fromLatin1(youtubeID);
    return LibraryVideo(id, ytID, title, u"https://youtu.be/"_qs + ytID, QString::fromLatin1(uploadDate),
                        QString::fromLatin1(duration), QString::fromLatin1(owner), createdAt);
}

const QList<LibraryVideo> kLibrary{
    video(1, "p1", u"Paris at night — walking tour"_qs, "2019-06-01", "1:02:03", at(2024, 3, 14, 9)),
    video(2, "p2", u"A day in Paris with friends"_qs, "2020-07-15", "12:34", at(2024, 3, 13, 10)),
    video(3, "c1", u"Cooking pasta carbonara"_qs, "2019-01-20", "8:05", at(2024, 3, 11, 8)),
    video(4, "c2", u"Cooking ramen at home"_qs, "2021-03-03", "25:00", at(2024, 3, 5)),
    video(5, "m1", u"Music: lo-fi beats to relax"_qs, "2018-11-11", "2:00:00", at(2024, 2, 20)),
    video(6, "k1", u"Cats being cats"_qs, "2019-09-09", "0:45", at(2024, 1, 5)),
    video(7, "k2", u"Funny cat compilation"_qs, "2020-02-02", "4:59", at(2023, 12, 24)),
    video(8, "r1", u"Rome travel vlog"_qs, "2019-05-05", "15:00", at(2024, 3, 1)),
    video(9, "n1", u"Café au lait tutorial"_qs, "", "", at(2024, 3, 14, 11)),
    video(10, "s1", u"Shared: Paris marathon"_qs, "2022-04-10", "3:30:00", at(2024, 2, 10), "mum@example.com"),
    // The same video again through another shared library.
    video(11, "p1", u"Paris at night — walking tour"_qs, "2019-06-01", "1:02:03", at(2024, 3, 14, 9),
          "dad@example.com"),
};

Ids idsOf(const QList<LibraryVideo> &videos)
{
    Ids ids;
    for (const LibraryVideo &v : videos)
        ids.append(v.id);
    return ids;
}

AssistantReply ask(const Assistant &assistant, const QString &question, const QList<LibraryVideo> &library = kLibrary)
{
    return assistant.answer(question, {}, library, kNow);
}

// Earlier questions (each with a made-up answer) and the question, as "earlier|…|question";
// the videos found; part of the answer.
void row(const char *name, const char16_t *questions, const Ids &ids, const char16_t *answer)
{
    QStringList history = QString::fromUtf16(questions).split(u'|');
    const QString question = history.takeLast();
    QTest::newRow(name) << history << question << ids << QString::fromUtf16(answer);
}

QByteArray chatReply(const QString &content)
{
    const QJsonObject message{{u"role"_qs, u"assistant"_qs}, {u"content"_qs, content}};
    const QJsonObject reply{{u"choices"_qs, QJsonArray{QJsonObject{{u"index"_qs, 0}, {u"message"_qs, message}}}}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

} // namespace

class OutboundTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        const QString provider = QString::fromLatin1(QTest::currentDataTag()).section(u':', 0, 0);
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

    // Every state is new and unguessable: 128 bits in base64url need at least 22 characters.
    void statesAreFresh()
    {
        Google google;
        QSet<QString> states;
        for (int i = 0; i < 200; ++i) {
            const QString state = google.start();
            QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{22,}$"_qs).match(state).hasMatch());
            states.insert(state);
        }
        QCOMPARE(states.size(), 200);
        QCOMPARE(google.server.requestCount(), 0);
    }

    // The ID token is used when it is for this client and names a verified address; otherwise
    // the user-info endpoint is asked; an address is never taken unverified.
    void idTokenOutcomes_data()
    {
        QTest::addColumn<int>("tokenStatus");
        QTest::addColumn<QByteArray>("tokenBody");
        QTest::addColumn<int>("userInfoStatus");
        QTest::addColumn<QByteArray>("userInfoBody");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("userInfoCalls");
        const auto row = [](const char *name, const QByteArray &token, int infoStatus, const QByteArray &info,
                            const QString &outcome, int infoCalls, int tokenStatus = 200) {
            QTest::newRow(name) << tokenStatus << token << infoStatus << info << outcome << infoCalls;
        };
        const QString bob = u"bob@example.com"_qs;
        const QString unverified = u"error: Your Google account's e-mail address is not verified"_qs;
        const QString noAddress = u"error: Google did not tell us your e-mail address"_qs;
        const QByteArray unverifiedAda = tokenReply(payload("ada@example.com", "false"));
        row("verified as text", tokenReply(payload("ada@example.com", "\"true\"")), 200, kVerifiedInfo,
            u"ada@example.com"_qs, 0);
        row("audience list",
            tokenReply(R"({"aud":["other","client-1.apps.example"],"email":"ada@example.com","email_verified":true})"),
            200, kVerifiedInfo, u"ada@example.com"_qs, 0);
        row("no id token: user info", tokenReply({}), 200, kVerifiedInfo, bob, 1);
        row("token for another client: user info",
            tokenReply(R"({"aud":"someone-else","email":"eve@example.com","email_verified":true})"), 200, kVerifiedInfo,
            bob, 1);
        row("garbage id token: user info", R"({"access_token":"at","id_token":"a.%%%.c"})", 200, kVerifiedInfo, bob, 1);
        row("unverified everywhere", unverifiedAda, 200, R"({"email":"ada@example.com","email_verified":false})",
            unverified, 1);
        row("unverified, user info silent", unverifiedAda, 500, "{}", unverified, 1);
        row("user info without verification", tokenReply({}), 200, R"({"email":"bob@example.com"})", unverified, 1);
        row("no address anywhere", tokenReply(R"({"aud":"client-1.apps.example"})"), 200, R"({"sub":"1"})", noAddress,
            1);
        row("not an address", tokenReply(payload("not-an-address", "true")), 500, {}, noAddress, 1);
        row("user info garbage", tokenReply({}), 200, "<html>", noAddress, 1);
        row("token reply garbage", "not json", 200, kVerifiedInfo, noAddress, 0);
        const QString refused = u"error: Google did not accept the sign-in (status %1)"_qs;
        row("invalid grant", R"({"error":"invalid_grant"})", 200, kVerifiedInfo, refused.arg(400), 0, 400);
        row("token server error", kAdaReply, 200, kVerifiedInfo, refused.arg(500), 0, 500);
    }
    void idTokenOutcomes()
    {
        QFETCH(int, tokenStatus);
        QFETCH(QByteArray, tokenBody);
        QFETCH(int, userInfoStatus);
        QFETCH(QByteArray, userInfoBody);
        QFETCH(QString, outcome);
        QFETCH(int, userInfoCalls);
        Google google;
        google.server.enqueue("/token", FakeReply::json(tokenBody, tokenStatus));
        google.server.enqueue("/userinfo", FakeReply::json(userInfoBody, userInfoStatus));
        const QString state = google.start();
        const QString actual = google.complete(state);
        QVERIFY2(actual.startsWith(outcome), qPrintable(actual));
        // Whatever happened, the state is used up: a retry starts a fresh sign-in.
        QVERIFY(google.complete(state).contains(u"expired or was already used"_qs));
        QCOMPARE(google.requests("/token").size(), 1);
        const auto infoRequests = google.requests("/userinfo");
        QCOMPARE(infoRequests.size(), userInfoCalls);
        for (const auto &request : infoRequests)
            QVERIFY(request.header("Authorization").startsWith("Bearer at"));
    }

    void unconfiguredOrUnreachableGoogle()
    {
        Google google; // for its states
        SignInStates &states = google.states;
        QVERIFY(!GoogleSignIn(GoogleConfig{kClientId, {}, u"a"_qs, u"t"_qs, u"u"_qs}, states).configured());
        QVERIFY(std::holds_alternative<std::string>(GoogleSignIn({}, states).complete(u"s"_qs, u"c"_qs, kRedirect)));
        const QString base = u"http://127.0.0.1:1"_qs; // nothing listens there
        GoogleSignIn signIn(GoogleConfig{kClientId, u"s"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/u"_qs},
                            states);
        QVERIFY(signIn.configured());
        const QString state = queryItem(signIn.authorisationUrl(kRedirect), u"state"_qs);
        QVERIFY(std::get<std::string>(signIn.complete(state, u"code"_qs, kRedirect)).starts_with("Could not reach"));
    }

    // Through the service's sign-in page on any address: to Google, the code exchanged, back to
    // the application with a token and its state; a forged state never reaches Google.
    void serviceSignsInThroughGoogle()
    {
        FakeHttpServer google;
        google.setDefaultReply(FakeReply::json(tokenReply(payload("G.User@Example.com", "true"))));
        TestService service([&](ServiceConfig &config) {
            config.listenHost = u"0.0.0.0"_qs;
            config.publicOrigin = u"https://clipvane.example/"_qs;
            config.google = configAt(google);
        });
        const QString redirect = u"https://clipvane.example/gauth/login.php"_qs;
        const QString start =
            QString::fromStdString(service.get({}, "/gauth/login.php?state=app-1").header("Location"));
        QCOMPARE(QUrl(start).toString(QUrl::RemoveQuery), google.url(u"/auth"_qs).toString());
        QCOMPARE(items(QUrl(start).query(), "response_type client_id redirect_uri scope"),
                 u"code|"_qs + kClientId + u'|' + redirect + u"|openid email"_qs);
        const QString state = queryItem(start, u"state"_qs);
        for (const QString &forged : {u"forged"_qs, state + u"x"_qs, state.left(state.size() - 1)})
            QCOMPARE(service.get({}, "/gauth/login.php?code=abc&state=" + QUrl::toPercentEncoding(forged).toStdString())
                         .status,
                     400);
        QCOMPARE(google.requestCount(), 0);

        const std::string back =
            "/gauth/login.php?code=code%2Fwith%2Bodd%3Dchars&state=" + QUrl::toPercentEncoding(state).toStdString();
        const Reply done = service.get({}, back);
        QCOMPARE(done.status, 302);
        const QString location = QString::fromStdString(done.header("Location"));
        QCOMPARE(queryItem(location, u"email"_qs), u"g.user@example.com"_qs);
        QCOMPARE(queryItem(location, u"state"_qs), u"app-1"_qs);
        QCOMPARE(service.get(queryItem(location, u"token"_qs), "/api/family.php").status, 200);
        QCOMPARE(google.requestCount(), 1);
        const auto exchange = google.lastRequest();
        QCOMPARE(exchange.path, "/token");
        QCOMPARE(exchange.header("Content-Type"), "application/x-www-form-urlencoded");
        QCOMPARE(items(QString::fromUtf8(exchange.body), "grant_type code client_id client_secret redirect_uri"),
                 u"authorization_code|code/with+odd=chars|"_qs + kClientId + u"|s3cret|"_qs + redirect);

        // Used once; Google's own refusal is shown, not signed in; no local form.
        const Reply replay = service.get({}, back);
        QCOMPARE(replay.status, 400);
        QVERIFY(replay.header("Location").empty());
        const Reply refused = service.get({}, "/gauth/login.php?error=access_denied&state=x");
        QCOMPARE(refused.status, 400);
        QVERIFY(refused.body.find("access_denied") != std::string::npos);
        const Reply local = service.send("POST", {}, "/gauth/login.php", "email=a%40example.com", {},
                                         "application/x-www-form-urlencoded");
        QVERIFY(local.header("Location").empty());
    }

    void repliesToEachMessage()
    {
        const QString badCode = QString::fromUtf16(TelegramTexts::badCode);
        const QString welcome = QString::fromUtf16(TelegramTexts::welcome);
        const QString hint = QString::fromUtf16(TelegramTexts::hint);
        const QList<std::tuple<qint64, QString, QString>> exchanges{
            {42, u"/start good1"_qs, QString::fromUtf16(TelegramTexts::linked)},
            {43, u"/start good1"_qs, badCode}, // already used
            {44, u"/start@clipvane_bot wrong"_qs, badCode},
            {45, u"/start ../../etc"_qs, badCode}, // never a code: not even asked
            {46, u"/start"_qs, welcome},
            {47, u"/help"_qs, welcome},
            {42, u"https://youtu.be/boom"_qs, {}}, // fails: no reply, and the bot carries on
            {42, u"look at this https://youtu.be/dQw4w9WgXcQ"_qs, u"Added: My \"Title\" <b>"_qs},
            {7, u"https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs, QString::fromUtf16(TelegramTexts::notAdded)},
            {42, u"hello there"_qs, hint},
            {42, QString(), hint}};
        Bot fixture;
        QStringList expected;
        for (const auto &[chat, message, reply] : exchanges) {
            fixture.telegram.push(chat, message);
            if (!reply.isEmpty())
                expected.append(u"%1: %2"_qs.arg(chat).arg(reply));
        }
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telegram.sent().size(), expected.size(), kWaitMs);
        QCOMPARE(fixture.telegram.sent(), expected);
        QCOMPARE(fixture.seen(), (QStringList{u"link good1 42"_qs, u"link good1 43"_qs, u"link wrong 44"_qs,
                                              u"add 42 https://youtu.be/boom"_qs,
                                              u"add 42 look at this https://youtu.be/dQw4w9WgXcQ"_qs,
                                              u"add 7 https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs}));
    }

    // Each update is handled once, past failed polls and replies not in the Bot API's shape.
    void offsetAdvancesPastErrorsAndNothingTwice()
    {
        Bot fixture;
        FakeTelegram &telegram = fixture.telegram;
        telegram.failNext(3, FakeReply::json("<html>Bad Gateway</html>", 502));
        telegram.push(42, u"https://youtu.be/aaaaaaaaaaa"_qs);
        const qint64 second = telegram.push(42, u"https://youtu.be/bbbbbbbbbbb"_qs);
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.seen().size(), 2, kWaitMs);
        QVERIFY(telegram.polls().size() >= 4);
        telegram.failNext(2, FakeReply::json("not json at all"));
        const qint64 third = telegram.push(42, u"https://youtu.be/ccccccccccc"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.seen().size(), 3, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(telegram.polls().last().first == third + 1, kWaitMs);
        fixture.bot->stop();

        const auto polls = telegram.polls();
        QCOMPARE(polls.first().first, qint64(0));
        QVERIFY(std::ranges::is_sorted(polls, {}, &std::pair<qint64, int>::first));
        QVERIFY(polls.contains(std::pair(second + 1, 25)));
        for (const auto &[offset, timeout] : polls)
            QVERIFY(timeout == 25 || timeout == 0);
        QCOMPARE(fixture.seen().size(), 3);
        QCOMPARE(telegram.sent().size(), 3);
    }

    void stopsPromptlyDuringLongPoll()
    {
        Bot fixture(std::chrono::seconds(50), 50); // the fake holds the poll that long unless the bot hangs up
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telegram.polls().size(), 1, kWaitMs);
        auto stopping = std::async(std::launch::async, [&fixture] { fixture.bot->stop(); });
        // Generous, yet far below the 50 s a bot that waited out its poll would take.
        QCOMPARE(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        fixture.bot->start(); // a stopped bot stays stopped
        QCOMPARE(fixture.telegram.polls().size(), 1);
    }

    void stopConfirmsWhatWasHandled()
    {
        FakeTelegram telegram;
        std::thread stopper;
        std::promise<void> stopperStarted;
        std::unique_ptr<TelegramBot> bot;
        TelegramBot::Callbacks callbacks;
        callbacks.addLink = [&](qint64, const QString &) -> std::optional<QString> {
            // Shut down while this update is being handled.
            stopper = std::thread([&bot] { bot->stop(); });
            stopperStarted.set_value();
            return u"T"_qs;
        };
        bot = std::make_unique<TelegramBot>(configFor(telegram), callbacks);
        const qint64 id = telegram.push(42, u"https://youtu.be/aaaaaaaaaaa"_qs);
        bot->start();
        stopperStarted.get_future().wait();
        stopper.join();
        // Telegram has been told the update is done, so a restarted service will not handle it again.
        QCOMPARE(telegram.polls().last().first, id + 1);
    }

    void noUsableTokenNoBotAndDeepLinks()
    {
        FakeTelegram telegram;
        for (const QString &token : {QString(), u"   "_qs, u"12:ab/../x"_qs, u"a b"_qs}) {
            TelegramConfig config = configFor(telegram);
            config.botToken = token;
            TelegramBot bot(config, {});
            bot.start();
            bot.stop();
        }
        QCOMPARE(telegram.server.requestCount(), 0); // a service without a bot answers 503 (the routes' test)

        TelegramConfig config;
        config.botToken = kToken;
        QCOMPARE(TelegramBot(config, {}).deepLink(u"AbC_12-x"_qs), u"https://t.me/clipvane_bot?start=AbC_12-x"_qs);
        config.botName = u"@family_shelf_bot"_qs;
        QCOMPARE(TelegramBot(config, {}).deepLink(u"c"_qs), u"https://t.me/family_shelf_bot?start=c"_qs);
    }

    // Inside the service: a code from the API links one chat once, within ten minutes, and the
    // links that chat sends are added to the account's library.
    void linkCodeLinksAChatOnceAndLinksArrive()
    {
        FakeTelegram telegram;
        std::atomic<qint64> offset{0};
        TestService service(
            [&](ServiceConfig &config) {
                config.telegram = configFor(telegram);
                config.telegram.botName = u"clipvane_test_bot"_qs;
                config.telegram.pollTimeoutSeconds = 1;
            },
            [&] { return QDateTime::currentMSecsSinceEpoch() + offset.load(); });
        Accounts &accounts = service.service().accounts();
        const QString token = service.token(u"me@example.com"_qs);
        const QString prefix = u"https://t.me/clipvane_test_bot?start="_qs;
        const auto newCode = [&] {
            const QString link = str(service.post(token, "/api/telegram-code.php", QJsonObject()).json, "link");
            return link.startsWith(prefix) ? link.mid(prefix.size()) : u"not a link: "_qs + link;
        };
        const QString code = newCode();

        telegram.push(42, u"/start "_qs + code);
        QTRY_COMPARE(telegram.sent().size(), 1);
        QVERIFY(accounts.accountForChat(42).has_value());
        telegram.push(43, u"/start "_qs + code); // spent: another chat cannot use it
        QTRY_COMPARE(telegram.sent().size(), 2);
        QVERIFY(!accounts.accountForChat(43).has_value());

        telegram.push(42, u"look at this https://youtu.be/tele123456 !"_qs);
        QTRY_COMPARE(telegram.sent().size(), 3);
        QVERIFY(telegram.sent().last().contains(u"Title of tele123456"_qs));
        QCOMPARE(str(Client(service, token).sync().row(u"tele123456"_qs), "source"), u"telegram"_qs);

        const QString late = newCode();
        offset = 11 * 60 * 1000;
        QVERIFY(!accounts.linkTelegramChat(late, 44));
        offset = 0;
        QVERIFY(accounts.linkTelegramChat(late, 44));
    }

    void questions_data()
    {
        QTest::addColumn<QStringList>("history");
        QTest::addColumn<QString>("question");
        QTest::addColumn<Ids>("expected");
        QTest::addColumn<QString>("answerPart");
        row("title word", u"Find me a video of me in Paris", {1, 2, 10},
            u"I found 3 videos about “paris”:\n• **Paris at night — walking tour**");
        row("case and accents", u"CAFE?", {9}, u"**Café au lait tutorial**");
        row("plural finds singular", u"cats", {6, 7}, u"**Funny cat compilation**");
        row("short word not a prefix", u"cat", {6, 7}, u"about “cat”");
        row("word and year", u"paris videos from 2019", {1}, u"about “paris” from 2019");
        row("year alone", u"videos in 2019", {1, 3, 8, 6}, u"I found 4 videos from 2019:");
        row("two years", u"anything from 2020 or 2021?", {2, 4, 7}, u"from 2020 or 2021");
        row("before a year", u"cooking videos from before 2020", {3}, u"from 2019 or earlier");
        row("decade", u"videos from the 2010s", {1, 3, 8, 5, 6}, u"from 2010 to 2019");
        row("today", u"what did I add today?", {9, 1}, u"added today");
        row("yesterday", u"yesterday", {2}, u"I found 1 video added yesterday:");
        row("this week", u"What did I add this week?", {9, 1, 2, 3}, u"added this week");
        row("last week", u"last week", {4}, u"added last week");
        row("this month", u"this month", {9, 1, 2, 3, 4, 8}, u"added this month");
        row("last month", u"what did I save last month", {5, 10}, u"added last month");
        row("last days", u"in the last 3 days", {9, 1, 2}, u"added in the last 3 days");
        row("added this year", u"how many videos did I add this year?", {9, 1, 2, 3, 4, 8, 5, 10, 6},
            u"You have 9 videos added this year:");
        row("uploaded last year", u"videos from last year", {},
            u"I couldn't find any videos from 2023 in your library.");
        row("longest", u"What's my longest video?", {10},
            u"Your longest video is **Shared: Paris marathon** (3:30:00).");
        row("shortest about a word", u"the shortest paris video", {2},
            u"Your shortest video about “paris” is **A day in Paris with friends** (12:34).");
        row("shortest, plural", u"shortest videos", {6, 7, 3, 2, 8, 4, 1, 5, 10},
            u"Your shortest videos, shortest first:\n• **Cats being cats** (0:45)");
        row("shorter than", u"videos shorter than 5 minutes", {6, 7}, u"shorter than 5 minutes");
        row("longer than an hour", u"anything longer than an hour?", {1, 5, 10}, u"longer than an hour");
        row("under minutes", u"under 10 min", {3, 6, 7}, u"shorter than 10 minutes");
        row("at least", u"at least 2 hours", {5, 10}, u"at least 2 hours long");
        row("between", u"between 10 and 20 minutes", {2, 8}, u"between 10 minutes and 20 minutes");
        row("short videos", u"short videos please", {6, 7}, u"shorter than 5 minutes");
        row("newest", u"most recent", {9}, u"The latest video you added is **Café au lait tutorial**.");
        row("oldest", u"oldest video", {7}, u"The first video you added is **Funny cat compilation**.");
        row("count all", u"How many videos do I have?", {}, u"You have 10 videos in your library.");
        row("count some", u"how many cooking videos?", {3, 4}, u"You have 2 videos about “cooking”:");
        row("count none", u"how many videos about knitting", {}, u"I couldn't find any videos about “knitting”");
        row("nothing matches", u"pasta from 2021", {},
            u"I couldn't find any videos about “pasta” from 2021 in your library.");
        row("some words match", u"paris cooking", {1, 2, 3, 4, 10},
            u"No video matches all of “paris cooking”, but these come close:");
        row("all words match", u"cooking ramen", {4}, u"**Cooking ramen at home**");
        row("no criteria", u"hello!", {}, u"I can look through your 10 videos");
        // Follow-ups narrow or replace what the earlier questions asked.
        row("narrow by year", u"paris videos|and from 2020?", {2}, u"about “paris” from 2020");
        row("replace the year", u"paris videos from 2019|what about 2022?", {10}, u"from 2022");
        row("replace the topic", u"paris videos from 2019|what about rome?", {8}, u"about “rome” from 2019");
        row("narrow by length", u"cooking videos|and under 10 minutes?", {3}, u"shorter than 10 minutes");
        row("superlative of the topic", u"cooking videos|and the longest?", {4}, u"Your longest video about “cooking”");
        row("count carries on", u"how many cat videos?|and from 2020?", {7},
            u"You have 1 video about “cat” from 2020:");
        row("chain of follow-ups", u"paris|and from 2020?|which of those are longer than 10 minutes?", {2},
            u"about “paris” from 2020, longer than 10 minutes");
        row("new topic starts afresh", u"paris videos from 2019|cooking videos", {3, 4},
            u"I found 2 videos about “cooking”:");
        row("follow-up without context", u"hello|and from 2020?", {2, 7}, u"from 2020");
        row("old turns fade", u"cats|a|b|c|d|e|rome|and from 2019?", {8}, u"about “rome” from 2019");
    }
    void questions()
    {
        QFETCH(QStringList, history);
        QFETCH(QString, question);
        QFETCH(Ids, expected);
        QFETCH(QString, answerPart);
        QList<AssistantTurn> turns;
        for (const QString &earlier : history)
            turns.append({earlier, u"(an answer)"_qs});
        const AssistantReply reply = Assistant(ChatModelConfig{}).answer(question, turns, kLibrary, kNow);
        QCOMPARE(idsOf(reply.videos), expected);
        QVERIFY2(reply.answer.contains(answerPart), qPrintable(reply.answer));
        for (const LibraryVideo &v : reply.videos)
            QVERIFY2(reply.answer.contains(u"**"_qs + v.title + u"**"_qs), qPrintable(reply.answer));
    }

    void oddLibrariesAndQuestions()
    {
        const Assistant assistant(ChatModelConfig{});
        const AssistantReply empty = ask(assistant, u"paris"_qs, {});
        QVERIFY(empty.videos.isEmpty() && empty.answer.contains(u"Your library is empty"_qs));
        const AssistantReply blank = ask(assistant, u"   "_qs);
        QVERIFY(blank.videos.isEmpty() && blank.answer.startsWith(u"Ask me about your videos"_qs));
        // Nonsense never crashes and never matches everything.
        QCOMPARE(idsOf(ask(assistant, u"**2019** "_qs + QString(5000, u'*')).videos), (Ids{1, 3, 8, 6}));

        // Long lists are capped; titles cannot break the markup; an untitled video shows its link.
        QList<LibraryVideo> many;
        for (int i = 1; i <= 23; ++i)
            many.append(video(i, QByteArray("v" + QByteArray::number(i)).constData(),
                              u"Trip part "_qs + QString::number(i), "2020-01-01", "1:00", at(2024, 1, 1) + i));
        const AssistantReply capped = ask(assistant, u"trip"_qs, many);
        QCOMPARE(capped.videos.size(), 10);
        QCOMPARE(capped.videos.first().id, qint64(23));
        QVERIFY(capped.answer.startsWith(u"I found 23 videos about “trip”:"_qs));
        QVERIFY(capped.answer.endsWith(u"…and 13 more."_qs));
        QCOMPARE(capped.answer.count(u"**"_qs), 20);
        const QList<LibraryVideo> tricky{video(1, "t1", u"Best **ever** trip"_qs, "2020-01-01", "1:00", at(2024, 1, 1)),
                                         video(2, "t2", QString(), "2020-01-01", "1:00", at(2024, 1, 2))};
        const AssistantReply bold = ask(assistant, u"trip"_qs, tricky);
        QCOMPARE(idsOf(bold.videos), Ids{1});
        QCOMPARE(bold.answer.count(u"**"_qs), 2);
        QVERIFY(ask(assistant, u"videos from 2020"_qs, tricky).answer.contains(u"**https://youtu.be/t2**"_qs));
    }

    void modelPhrasesTheAnswer()
    {
        FakeHttpServer model;
        QVERIFY(model.start());
        const QString phrased = u"Here are your Paris videos: **Paris at night — walking tour** and two more."_qs;
        model.setDefaultReply(FakeReply::json(chatReply(u"  "_qs + phrased + u"\n"_qs)));
        const Assistant assistant(ChatModelConfig{model.url(u"/v1/"_qs).toString(), u"sk-test"_qs, u"test-model"_qs});
        const QList<AssistantTurn> history{{u"what did I add today?"_qs, u"Two videos."_qs}};
        const AssistantReply reply = assistant.answer(u"Find me a video of me in Paris"_qs, history, kLibrary, kNow);
        QCOMPARE(reply.answer, phrased);
        QCOMPARE(idsOf(reply.videos), (Ids{1, 2, 10}));

        // The model hears the system prompt with the videos found, the history, then the question.
        const auto request = model.lastRequest();
        QCOMPARE(model.requestCount(), 1);
        QCOMPARE(request.path, "/v1/chat/completions");
        QCOMPARE(request.header("Authorization"), "Bearer sk-test");
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.value(u"model"_qs).toString(), u"test-model"_qs);
        QStringList messages;
        for (const QJsonValue &message : body.value(u"messages"_qs).toArray())
            messages.append(message[u"role"_qs].toString() + u": "_qs + message[u"content"_qs].toString());
        QCOMPARE(messages.size(), 4);
        QCOMPARE(messages.mid(1), (QStringList{u"user: what did I add today?"_qs, u"assistant: Two videos."_qs,
                                               u"user: Find me a video of me in Paris"_qs}));
        const QString system = messages.first();
        QVERIFY2(system.startsWith(u"system: "_qs) && system.contains(u"Today is 2024-03-14"_qs), qPrintable(system));
        for (const QString &title :
             {u"Paris at night — walking tour"_qs, u"A day in Paris with friends"_qs, u"Shared: Paris marathon"_qs})
            QVERIFY2(system.contains(u"**"_qs + title + u"**"_qs), qPrintable(system));
        QVERIFY(!system.contains(u"Rome travel vlog"_qs));

        // Without a key no Authorization header goes out (a local model server).
        const Assistant keyless(ChatModelConfig{model.url(u"/v1"_qs).toString(), {}, {}});
        QCOMPARE(ask(keyless, u"paris"_qs).answer, phrased);
        QVERIFY(!model.lastRequest().hasHeader("Authorization"));
        QCOMPARE(QJsonDocument::fromJson(model.lastRequest().body)[u"model"_qs].toString(), u"gpt-4o-mini"_qs);
    }

    // Whatever goes wrong with the model, the built-in answer stands.
    void modelFailuresFallBack_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("delayMs");
        const auto row = [](const char *name, int status, const QByteArray &body, int delayMs = 0) {
            QTest::newRow(name) << status << body << delayMs;
        };
        const QByteArray message = R"j({"choices":[{"message":{"role":"assistant","content":)j";
        row("server error", 500, chatReply(u"ignored"_qs));
        row("not JSON", 200, "<html>gateway</html>");
        row("no choices", 200, R"j({"choices":[]})j");
        row("choices not a list", 200, R"j({"choices":{"0":1}})j");
        row("empty content", 200, chatReply(u"   "_qs));
        row("content not text", 200, message + "42}}]}");
        row("tool call only", 200, message + "null}}]}");
        row("too slow", 200, chatReply(u"too late"_qs), 10000);
        row("nothing listens", 0, {});
    }
    void modelFailuresFallBack()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, delayMs);
        FakeHttpServer model;
        QVERIFY(model.start());
        FakeReply reply = FakeReply::json(body, status);
        reply.delay = std::chrono::milliseconds(delayMs);
        model.setDefaultReply(reply);
        ChatModelConfig config{status ? model.url().toString() : u"http://127.0.0.1:1"_qs, u"k"_qs, u"m"_qs};
        config.timeout = std::chrono::milliseconds(1000);
        const AssistantReply answered = ask(Assistant(config), u"cats"_qs);
        const AssistantReply builtIn = ask(Assistant(ChatModelConfig{}), u"cats"_qs);
        QCOMPARE(answered.answer, builtIn.answer);
        QCOMPARE(idsOf(answered.videos), idsOf(builtIn.videos));
        QCOMPARE(model.requestCount(), status ? 1 : 0);
        QCOMPARE(model.lastRequest().path, status ? QByteArray("/chat/completions") : QByteArray());
    }
};

QTEST_GUILESS_MAIN(OutboundTest)
#include "OutboundTest.moc"
