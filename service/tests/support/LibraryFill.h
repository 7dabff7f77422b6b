#pragma once

#include "db/Storage.h"
#include "domain/Accounts.h"

namespace clipvane::service::bench {

// Fills a user's library straight through the service's own feed code, `perTransaction`
// videos to a transaction (all of a transaction's rows share its stamp, as after a share).
// Videos are named bench0000000, bench0000001, ...
void fillLibrary(Storage &storage, const Account &user, int count, int perTransaction);

} // namespace clipvane::service::bench
