#pragma once

#include "Clock.h"

namespace clipvane {

// The computer's clock.
class SystemClock : public Clock
{
public:
    qint64 nowMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
};

} // namespace clipvane
