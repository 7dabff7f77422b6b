#include "AccountSignOut.h"

#include "SettingsKeys.h"
#include "SyncEngine.h"

#include <QSettings>

namespace clipvane {

void AccountSignOut::run(SyncEngine &sync, QSettings &standard)
{
    sync.signOut();
    standard.setValue(SettingsKeys::onboarded, false);
    standard.sync();
}

} // namespace clipvane
