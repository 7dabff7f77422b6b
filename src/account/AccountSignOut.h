#pragma once

class QSettings;

namespace clipvane {

class SyncEngine;

// Ends the session from the settings window (sign-out, or an account just deleted): the engine
// forgets the credentials and the cursors, and the main window goes back to onboarding. The
// local records stay.
class AccountSignOut
{
public:
    static void run(SyncEngine &sync, QSettings &standard);
};

} // namespace clipvane
