#include "AccountSignOut.h"

#include "OnboardedFlag.h"
#include "SyncEngine.h"

namespace clipvane {

void AccountSignOut::run(SyncEngine &sync, OnboardedFlag &onboarded)
{
    sync.signOut();
    onboarded.set(false);
}

void AccountSignOut::afterDeletion(SyncEngine &sync, OnboardedFlag &onboarded)
{
    sync.signOutDeletedAccount();
    onboarded.set(false);
}

} // namespace clipvane
