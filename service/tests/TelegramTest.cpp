#include "ExtrasFakeTelegram.h"
#include "TelegramBot.h"

#include <QtTest>

#include <future>
#include <stdexcept>

using namespace clipvane::service;
using clipvane::service::test::ExtrasFakeTelegram;

namespace {

const QString kToken = u"123456:ABC-def_ghi"_qs;
constexpr int kWaitMs = 15000;

// What the callbacks saw, filled from the bot's thread.
struct Seen
{
    std::mutex mutex;
    std::vector<std::pair<QString, qint64>> links;
    std::vector<std::pair<qint64, QString>> adds;

    std::size_t linkCount()
    {
        std::lock_guard lock(mutex);
        return links.size();
    }
    std::size_t addCount()
    {
        std::lock_guard lock(mutex);
        return adds.size();
    }
};

TelegramConfig configFor(const ExtrasFakeTelegram &telegram)
{
    TelegramConfig config;
    config.botToken = kToken;
    config.apiBase = QString::fromStdString(telegram.base()) + u"/"_qs;
    config.retryDelay = std::chrono::milliseconds(5);
    return config;
}

// Chat 42 is linked; code "good1" links once.
TelegramBot::Callbacks callbacksFor(Seen &seen)
{
    TelegramBot::Callbacks callbacks;
    callbacks.linkChat = [&seen](const QString &code, qint64 chatId) {
        std::lock_guard lock(seen.mutex);
        seen.links.emplace_back(code, chatId);
        const bool first = std::count_if(seen.links.begin(), seen.links.end(),
                                         [](const auto &link) { return link.first == u"good1"; }) == 1;
        return code == u"good1" && first;
    };
    callbacks.addLink = [&seen](qint64 chatId, const QString &text) -> std::optional<QString> {
        std::lock_guard lock(seen.mutex);
        seen.adds.emplace_back(chatId, text);
        if (chatId != 42)
            return std::nullopt;
        return u"My \"Title\" <b>"_qs;
    };
    return callbacks;
}

std::string text(const char16_t *reply)
{
    return QString::fromUtf16(reply).toStdString();
}

std::vector<std::string> textsTo(const ExtrasFakeTelegram &telegram, qint64 chatId)
{
    std::vector<std::string> texts;
    for (const auto &sent : telegram.sent()) {
        if (sent.chatId == chatId)
            texts.push_back(sent.text);
    }
    return texts;
}

} // namespace

class TelegramTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linksWithCode();
    void addsLinks();
    void offsetAdvancesAndNothingTwice();
    void recoversFromErrors();
    void survivesThrowingCallback();
    void stopsPromptlyDuringLongPoll();
    void stopConfirmsWhatWasHandled();
    void noTokenNoBot();
    void deepLinks();
};

void TelegramTest::linksWithCode()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    Seen seen;
    TelegramBot bot(configFor(telegram), callbacksFor(seen));
    telegram.pushMessage(42, "/start good1");
    telegram.pushMessage(43, "/start good1"); // already used
    telegram.pushMessage(44, "/start@clipvane_bot wrong");
    telegram.pushMessage(45, "/start ../../etc"); // never a code: not even asked
    telegram.pushMessage(46, "/start");
    telegram.pushMessage(47, "/help");
    bot.start();
    QTRY_COMPARE_WITH_TIMEOUT(telegram.sent().size(), std::size_t(6), kWaitMs);

    QCOMPARE(textsTo(telegram, 42), std::vector<std::string>{text(TelegramTexts::linked)});
    QCOMPARE(textsTo(telegram, 43), std::vector<std::string>{text(TelegramTexts::badCode)});
    QCOMPARE(textsTo(telegram, 44), std::vector<std::string>{text(TelegramTexts::badCode)});
    QCOMPARE(textsTo(telegram, 45), std::vector<std::string>{text(TelegramTexts::badCode)});
    QCOMPARE(textsTo(telegram, 46), std::vector<std::string>{text(TelegramTexts::welcome)});
    QCOMPARE(textsTo(telegram, 47), std::vector<std::string>{text(TelegramTexts::welcome)});
    QVERIFY(text(TelegramTexts::linked).starts_with("Linked!"));

    std::lock_guard lock(seen.mutex);
    const std::vector<std::pair<QString, qint64>> expected{{u"good1"_qs, 42}, {u"good1"_qs, 43}, {u"wrong"_qs, 44}};
    QCOMPARE(seen.links, expected);
    QVERIFY(seen.adds.empty());
}

void TelegramTest::addsLinks()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    Seen seen;
    TelegramBot bot(configFor(telegram), callbacksFor(seen));
    telegram.pushMessage(42, "look at this https://youtu.be/dQw4w9WgXcQ");
    telegram.pushMessage(7, "https://www.youtube.com/watch?v=dQw4w9WgXcQ");
    telegram.pushMessage(42, "hello there");
    telegram.pushMessage(42, "");
    bot.start();
    QTRY_COMPARE_WITH_TIMEOUT(telegram.sent().size(), std::size_t(4), kWaitMs);

    const std::vector<std::string> toLinked{"Added: My \"Title\" <b>", text(TelegramTexts::hint),
                                            text(TelegramTexts::hint)};
    QCOMPARE(textsTo(telegram, 42), toLinked);
    QCOMPARE(textsTo(telegram, 7), std::vector<std::string>{text(TelegramTexts::notAdded)});
    QVERIFY(QString::fromUtf16(TelegramTexts::notAdded).contains(u"Link my account"_qs));

    std::lock_guard lock(seen.mutex);
    const std::vector<std::pair<qint64, QString>> expected{{42, u"look at this https://youtu.be/dQw4w9WgXcQ"_qs},
                                                           {7, u"https://www.youtube.com/watch?v=dQw4w9WgXcQ"_qs}};
    QCOMPARE(seen.adds, expected);
}

void TelegramTest::offsetAdvancesAndNothingTwice()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    Seen seen;
    TelegramBot bot(configFor(telegram), callbacksFor(seen));
    const qint64 first = telegram.pushMessage(42, "https://youtu.be/aaaaaaaaaaa");
    const qint64 second = telegram.pushMessage(42, "https://youtu.be/bbbbbbbbbbb");
    bot.start();
    QTRY_COMPARE_WITH_TIMEOUT(seen.addCount(), std::size_t(2), kWaitMs);
    const qint64 third = telegram.pushMessage(42, "https://youtu.be/ccccccccccc");
    QTRY_COMPARE_WITH_TIMEOUT(seen.addCount(), std::size_t(3), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!telegram.offsets().empty() && telegram.offsets().back() == third + 1, kWaitMs);
    bot.stop();

    const std::vector<qint64> offsets = telegram.offsets();
    QCOMPARE(offsets.front(), qint64(0));
    QVERIFY(std::find(offsets.begin(), offsets.end(), second + 1) != offsets.end());
    QVERIFY(std::is_sorted(offsets.begin(), offsets.end()));
    QVERIFY(first < second);
    for (const int timeout : telegram.pollTimeouts())
        QVERIFY(timeout == 25 || timeout == 0);
    QCOMPARE(seen.addCount(), std::size_t(3));
    QCOMPARE(telegram.sent().size(), std::size_t(3));
}

void TelegramTest::recoversFromErrors()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    Seen seen;
    TelegramBot bot(configFor(telegram), callbacksFor(seen));
    telegram.failNext(3, 502, "<html>Bad Gateway</html>");
    telegram.pushMessage(42, "https://youtu.be/aaaaaaaaaaa");
    bot.start();
    QTRY_COMPARE_WITH_TIMEOUT(seen.addCount(), std::size_t(1), kWaitMs);
    QVERIFY(telegram.pollCount() >= 4);

    // A reply that is not the Bot API's shape counts as a failure too.
    telegram.failNext(2, 200, "not json at all");
    telegram.pushMessage(42, "https://youtu.be/bbbbbbbbbbb");
    QTRY_COMPARE_WITH_TIMEOUT(seen.addCount(), std::size_t(2), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(textsTo(telegram, 42).size(), std::size_t(2), kWaitMs);
}

void TelegramTest::survivesThrowingCallback()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    std::atomic<int> calls{0};
    TelegramBot::Callbacks callbacks;
    callbacks.addLink = [&calls](qint64, const QString &text) -> std::optional<QString> {
        ++calls;
        if (text.contains(u"boom"_qs))
            throw std::runtime_error("database is locked");
        return u"Fine"_qs;
    };
    TelegramBot bot(configFor(telegram), callbacks);
    telegram.pushMessage(42, "https://youtu.be/boom");
    telegram.pushMessage(42, "https://youtu.be/fine");
    bot.start();
    QTRY_COMPARE_WITH_TIMEOUT(textsTo(telegram, 42), std::vector<std::string>{"Added: Fine"}, kWaitMs);
    QCOMPARE(calls.load(), 2);
}

void TelegramTest::stopsPromptlyDuringLongPoll()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    Seen seen;
    TelegramConfig config = configFor(telegram);
    config.pollTimeoutSeconds = 50; // the fake holds the poll that long unless the bot hangs up
    TelegramBot bot(config, callbacksFor(seen));
    bot.start();
    QTRY_COMPARE_WITH_TIMEOUT(telegram.pollCount(), std::size_t(1), kWaitMs);
    auto stopping = std::async(std::launch::async, [&bot] { bot.stop(); });
    // Generous, yet far below the 50 s a bot that waited out its poll would take.
    QCOMPARE(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    QCOMPARE(telegram.pollCount(), std::size_t(1));
    bot.start(); // a stopped bot stays stopped
    QCOMPARE(telegram.pollCount(), std::size_t(1));
}

void TelegramTest::stopConfirmsWhatWasHandled()
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
    QCOMPARE(telegram.offsets().back(), id + 1);
}

void TelegramTest::noTokenNoBot()
{
    ExtrasFakeTelegram telegram(kToken.toStdString());
    Seen seen;
    for (const QString &token : {QString(), u"   "_qs, u"12:ab/../x"_qs, u"a b"_qs}) {
        TelegramConfig config = configFor(telegram);
        config.botToken = token;
        TelegramBot bot(config, callbacksFor(seen));
        bot.start();
        bot.stop();
    }
    QCOMPARE(telegram.server().requests().size(), std::size_t(0));
    TelegramConfig config;
    QVERIFY(!TelegramBot(config, {}).enabled());
}

void TelegramTest::deepLinks()
{
    TelegramConfig config;
    config.botToken = kToken;
    QCOMPARE(TelegramBot(config, {}).deepLink(u"AbC_12-x"_qs), u"https://t.me/clipvane_bot?start=AbC_12-x"_qs);
    config.botName = u"@family_shelf_bot"_qs;
    QCOMPARE(TelegramBot(config, {}).deepLink(u"c"_qs), u"https://t.me/family_shelf_bot?start=c"_qs);
}

QTEST_GUILESS_MAIN(TelegramTest)
#include "TelegramTest.moc"
