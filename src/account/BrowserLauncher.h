#pragma once

#include <QString>
#include <QUrl>
#include <chrono>
#include <qcorotask.h>

namespace clipvane {

// Opens an address in the user's web browser and finds out whether one opened. On Linux the
// desktop's opener is run and its exit status decides: launching it proves nothing, since it
// fails only after looking for a browser and finding none.
class BrowserLauncher
{
public:
    // An opener still running after this long waits on the browser it started.
    static constexpr std::chrono::milliseconds kSettleTime{5000};

    // True once a browser has the address. program is the desktop's opener (tests name others).
    static QCoro::Task<bool> open(QUrl url, QString program = QStringLiteral("xdg-open"),
                                  std::chrono::milliseconds settle = kSettleTime);
};

} // namespace clipvane
