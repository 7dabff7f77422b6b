#pragma once

#include <QString>

namespace clipvane::bench {

// Makes a signed-in, onboarded profile in folder whose library holds count videos of every
// kind the list shows: shared ones of two owners, excluded, waiting to sync, links that are not
// YouTube videos ("x-"), every source, titles of one to three lines.
void fillSignedInProfile(const QString &folder, int count);

} // namespace clipvane::bench
