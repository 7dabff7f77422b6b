#include "SystemNetworkWatch.h"

#include <QNetworkInformation>

namespace clipvane {

SystemNetworkWatch::SystemNetworkWatch(QObject *parent)
    : NetworkWatch(parent)
{
    m_hasBackend = QNetworkInformation::instance() != nullptr || QNetworkInformation::loadDefaultBackend();
    QNetworkInformation *information = QNetworkInformation::instance();
    if (!m_hasBackend || information == nullptr)
        return;
    // The service may run on this machine or in the home network, so every state but a
    // disconnected one can reach it.
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                Q_EMIT usableChanged(reachability != QNetworkInformation::Reachability::Disconnected);
            });
}

} // namespace clipvane
