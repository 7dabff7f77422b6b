#include "AppSignals.h"

namespace clipvane {

AppSignals &AppSignals::instance()
{
    static AppSignals shared;
    return shared;
}

} // namespace clipvane
