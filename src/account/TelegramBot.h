#pragma once

#include <QString>

namespace clipvane {

// The service's Telegram bot, as the build configures it (the public bot by default).
class TelegramBot
{
public:
    static QString userName();
    // The bot's address without scheme, as shown.
    static QString displayLink();
    // The same address with the https scheme, as copied.
    static QString clipboardLink();
};

} // namespace clipvane
