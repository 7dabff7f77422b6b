#pragma once

namespace clipvane {

class OnboardedFlag;
class SyncEngine;

// Ends the session from the settings window (sign-out, or an account just deleted): the engine
// forgets the credentials and the cursors, and the main window goes back to onboarding. The
// local records stay.
class AccountSignOut
{
public:
    static void run(SyncEngine &sync, OnboardedFlag &onboarded);
    // The same after the service erased the account: no later sign-in takes over its records.
    static void afterDeletion(SyncEngine &sync, OnboardedFlag &onboarded);
};

} // namespace clipvane
