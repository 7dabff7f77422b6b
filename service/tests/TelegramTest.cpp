#include "ExtrasFakeTelegram.h"
#include "outbound/TelegramBot.h"

#include <QtTest>

#include <future>
#include <stdexcept>

using namespace clipvane::service;
using clipvane::service::test::ExtrasFakeTelegram;

namespace {

const QString kToken = u"123456:ABC-def_ghi"_qs;
constexpr int kWaitMs = 15000;

std::string text(const char16_t *reply)
{
    return QString::fromUtf16(reply).toStdString();
}

TelegramConfig configFor(const ExtrasFakeTelegram &telegram)
{
    TelegramConfig config;
    config.botToken = kToken;
    config.apiBase = QString::fromStdString(telegram.base()) + u"/"_qs;
    config.retryDelay = std::chrono::milliseconds(5);
    return config;
}

// A bot at a fake Telegram whose callbacks are logged from the bot's thread. Chat 42 is
// linked; code "good1" links once; a link with "boom" in it fails loudly.
struct Bot
{
    ExtrasFakeTelegram telegram{kToken.toStdString()};
    mutable std::mutex mutex;
    QStringList calls; // "link CODE CHAT" and "add CHAT TEXT"
    std::unique_ptr<TelegramBot> bot;

    explicit Bot(const std::function<void(TelegramConfig &)> &configure = {})
    {
        TelegramConfig config = configFor(telegram);
        if (configure)
            configure(config);
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
    ~Bot() { bot.reset(); } // the bot goes before the log its callbacks write

    QStringList seen() const
    {
        std::lock_guard lock(mutex);
        return calls;
    }
};

} // namespace

class TelegramTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void repliesToEachMessage()
    {
        const std::string badCode = text(TelegramTexts::badCode);
        const std::string welcome = text(TelegramTexts::welcome);
        const std::string hint = text(TelegramTexts::hint);
        const std::vector<std::tuple<qint64, std::string, std::string>> exchanges{
            {42, "/start good1", text(TelegramTexts::linked)},
            {43, "/start good1", badCode}, // already used
            {44, "/start@clipvane_bot wrong", badCode},
            {45, "/start ../../etc", badCode}, // never a code: not even asked
            {46, "/start", welcome},
            {47, "/help", welcome},
            {42, "https://youtu.be/boom", ""}, // fails: no reply, and the bot carries on
            {42, "look at this https://youtu.be/dQw4w9WgXcQ", "Added: My \"Title\" <b>"},
            {7, "https://www.youtube.com/watch?v=dQw4w9WgXcQ", text(TelegramTexts::notAdded)},
            {42, "hello there", hint},
            {42, "", hint}};
        Bot fixture;
        std::vector<std::string> expected;
        for (const auto &[chat, message, reply] : exchanges) {
            fixture.telegram.pushMessage(chat, message);
            if (!reply.empty())
                expected.push_back(std::to_string(chat) + ": " + reply);
        }
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telegram.sent().size(), expected.size(), kWaitMs);
        std::vector<std::string> sent;
        for (const ExtrasFakeTelegram::Sent &message : fixture.telegram.sent())
            sent.push_back(std::to_string(message.chatId) + ": " + message.text);
        QCOMPARE(sent, expected);
        QCOMPARE(fixture.seen(), (QStringList{u"link good1 42"_qs, u"link good1 43"_qs, u"link wrong 44"_qs,
                                              u"add 42 https://youtu.be/boom"_qs,
                                              u"add 42 look at this https://youtu.be/dQw4w9WgXcQ"_qs,
                                              u"add 7 https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs}));
    }

    void offsetAdvancesAndNothingTwice()
    {
        Bot fixture;
        ExtrasFakeTelegram &telegram = fixture.telegram;
        telegram.pushMessage(42, "https://youtu.be/aaaaaaaaaaa");
        const qint64 second = telegram.pushMessage(42, "https://youtu.be/bbbbbbbbbbb");
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.seen().size(), 2, kWaitMs);
        const qint64 third = telegram.pushMessage(42, "https://youtu.be/ccccccccccc");
        QTRY_COMPARE_WITH_TIMEOUT(fixture.seen().size(), 3, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!telegram.polls().empty() && telegram.polls().back().first == third + 1, kWaitMs);
        fixture.bot->stop();

        const auto polls = telegram.polls();
        QCOMPARE(polls.front().first, qint64(0));
        QVERIFY(std::ranges::is_sorted(polls, {}, &std::pair<qint64, int>::first));
        QVERIFY(std::ranges::find(polls, std::pair(second + 1, 25)) != polls.end());
        for (const auto &[offset, timeout] : polls)
            QVERIFY(timeout == 25 || timeout == 0);
        QCOMPARE(fixture.seen().size(), 3);
        QCOMPARE(telegram.sent().size(), std::size_t(3));
    }

    void recoversFromErrors()
    {
        Bot fixture;
        ExtrasFakeTelegram &telegram = fixture.telegram;
        telegram.failNext(3, 502, "<html>Bad Gateway</html>");
        telegram.pushMessage(42, "https://youtu.be/aaaaaaaaaaa");
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.seen().size(), 1, kWaitMs);
        QVERIFY(telegram.polls().size() >= 4);
        // A reply that is not the Bot API's shape counts as a failure too.
        telegram.failNext(2, 200, "not json at all");
        telegram.pushMessage(42, "https://youtu.be/bbbbbbbbbbb");
        QTRY_COMPARE_WITH_TIMEOUT(fixture.seen().size(), 2, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(telegram.textsTo(42).size(), std::size_t(2), kWaitMs);
    }

    void stopsPromptlyDuringLongPoll()
    {
        // The fake holds the poll that long unless the bot hangs up.
        Bot fixture([](TelegramConfig &config) { config.pollTimeoutSeconds = 50; });
        fixture.bot->start();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.telegram.polls().size(), std::size_t(1), kWaitMs);
        auto stopping = std::async(std::launch::async, [&fixture] { fixture.bot->stop(); });
        // Generous, yet far below the 50 s a bot that waited out its poll would take.
        QCOMPARE(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        fixture.bot->start(); // a stopped bot stays stopped
        QCOMPARE(fixture.telegram.polls().size(), std::size_t(1));
    }

    void stopConfirmsWhatWasHandled()
    {
        ExtrasFakeTelegram telegram(kToken.toStdString());
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
        const qint64 id = telegram.pushMessage(42, "https://youtu.be/aaaaaaaaaaa");
        bot->start();
        stopperStarted.get_future().wait();
        stopper.join();
        // Telegram has been told the update is done, so a restarted service will not handle it again.
        QCOMPARE(telegram.polls().back().first, id + 1);
    }

    void noUsableTokenNoBot()
    {
        ExtrasFakeTelegram telegram(kToken.toStdString());
        for (const QString &token : {QString(), u"   "_qs, u"12:ab/../x"_qs, u"a b"_qs}) {
            TelegramConfig config = configFor(telegram);
            config.botToken = token;
            TelegramBot bot(config, {});
            bot.start();
            bot.stop();
        }
        QCOMPARE(telegram.requestCount(), std::size_t(0));
        QVERIFY(!TelegramBot(TelegramConfig{}, {}).enabled());
    }

    void deepLinks()
    {
        TelegramConfig config;
        config.botToken = kToken;
        QCOMPARE(TelegramBot(config, {}).deepLink(u"AbC_12-x"_qs), u"https://t.me/clipvane_bot?start=AbC_12-x"_qs);
        config.botName = u"@family_shelf_bot"_qs;
        QCOMPARE(TelegramBot(config, {}).deepLink(u"c"_qs), u"https://t.me/family_shelf_bot?start=c"_qs);
    }
};

QTEST_GUILESS_MAIN(TelegramTest)
#include "TelegramTest.moc"
