#pragma once

#include <QString>

namespace clipvane {

// What an invitation sends: the typed address with spaces and tabs trimmed at both ends and
// nothing else changed (no lower-casing, no format check: the service decides).
class FamilyInvite
{
public:
    static QString address(const QString &typed);
    // "Invite" is offered while something is typed (even only spaces) and no change is running.
    static bool canInvite(const QString &typed, bool busy);
};

} // namespace clipvane
