#pragma once

#include "NetworkWatch.h"

namespace clipvane {

// The platform's reachability reports. Without a reachability backend nothing is ever
// reported, so the path counts as always usable.
class SystemNetworkWatch : public NetworkWatch
{
    Q_OBJECT

public:
    explicit SystemNetworkWatch(QObject *parent = nullptr);

    // Whether a reachability backend could be loaded.
    bool hasBackend() const { return m_hasBackend; }

private:
    bool m_hasBackend = false;
};

} // namespace clipvane
