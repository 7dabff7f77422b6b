// The Telegram bot against a local Bot API: alone, and inside the service with the link code.

#include "TestService.h"
#include "outbound/TelegramBot.h"

#include <QtTest>

#include <future>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

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

} // namespace

class TelegramTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
};

QTEST_GUILESS_MAIN(TelegramTest)
#include "TelegramTest.moc"
