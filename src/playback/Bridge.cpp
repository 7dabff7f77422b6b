#include "Bridge.h"

#include "PlayerController.h"

#include <QJsonObject>
#include <cmath>
#include <limits>

namespace clipvane {

namespace {

// A number that is a whole value and fits an int; -1 otherwise (missing, text, fraction, ...).
int integerOr(const QJsonValue &value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
        return fallback;
    return int(number);
}

} // namespace

Bridge::Bridge(PlayerController &controller, QObject *parent)
    : QObject(parent)
    , m_controller(&controller)
{}

void Bridge::postMessage(const QJsonValue &body)
{
    if (!m_controller || !body.isObject())
        return;
    const QJsonObject message = body.toObject();
    const QJsonValue type = message.value(QLatin1String("t"));
    if (!type.isString())
        return;
    const QString name = type.toString();
    if (name == u"ready")
        m_controller->pageReady();
    else if (name == u"state")
        m_controller->handleState(integerOr(message.value(QLatin1String("s")), -1));
    else if (name == u"error")
        m_controller->handleError(integerOr(message.value(QLatin1String("c")), -1));
    else if (name == u"time")
        m_controller->handleTime(message.value(QLatin1String("p")).toDouble(-1),
                                 message.value(QLatin1String("d")).toDouble(0));
}

} // namespace clipvane
