#pragma once

#include <QString>

namespace clipvane::service {

class Storage;

// Copies every account, token hash, video (with its stamps and tombstones), feed row, family
// link and Telegram link from one database into an empty one, keeping every ID and stamp and
// the clock: clients go on from their stored cursors without downloading their libraries
// again. The source is read in one snapshot, so a service may keep running on it.
class DatabaseCopy
{
public:
    // Returns the rows copied. Throws SqlError (the destination is left as it was).
    static qint64 run(Storage &from, Storage &to);
};

} // namespace clipvane::service
