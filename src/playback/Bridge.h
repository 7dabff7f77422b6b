#pragma once

#include <QJsonValue>
#include <QObject>
#include <QPointer>

namespace clipvane {

class PlayerController;

// The receiver of the player page's messages (the handler "player"), published to the page
// over the web channel. It reads each message and hands it to the controller; anything it
// cannot read is ignored. It cannot exist without a controller, and keeps it only weakly, so a
// page that outlives the window state reaches nothing.
class Bridge : public QObject
{
    Q_OBJECT

public:
    explicit Bridge(PlayerController &controller, QObject *parent = nullptr);

    // One message as the page posted it: an object with "t" ("ready", "state" with integer "s",
    // "error" with integer "c", "time" with
    // the position "p" and length "d" in seconds). Called by the page through the web channel.
    Q_INVOKABLE void postMessage(const QJsonValue &body);

private:
    QPointer<PlayerController> m_controller;
};

} // namespace clipvane
