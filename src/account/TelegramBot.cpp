#include "TelegramBot.h"

namespace clipvane {

QString TelegramBot::userName()
{
    return QStringLiteral(CLIPVANE_TELEGRAM_BOT);
}

QString TelegramBot::displayLink()
{
    return QStringLiteral(CLIPVANE_TELEGRAM_BOT_ADDRESS);
}

QString TelegramBot::clipboardLink()
{
    return QStringLiteral("https://") + displayLink();
}

} // namespace clipvane
