#include "SyncState.h"

namespace clipvane {

SyncState syncStateFromRaw(const QString &raw)
{
    if (raw == SyncStateRaw::synced)
        return SyncState::synced;
    if (raw == SyncStateRaw::needsAdd)
        return SyncState::needsAdd;
    if (raw == SyncStateRaw::needsPatch)
        return SyncState::needsPatch;
    if (raw == SyncStateRaw::needsDelete)
        return SyncState::needsDelete;
    return SyncState::unrecognised;
}

QString rawFromSyncState(SyncState state)
{
    switch (state) {
    case SyncState::needsAdd:
        return SyncStateRaw::needsAdd;
    case SyncState::needsPatch:
        return SyncStateRaw::needsPatch;
    case SyncState::needsDelete:
        return SyncStateRaw::needsDelete;
    case SyncState::synced:
    case SyncState::unrecognised:
        break;
    }
    return SyncStateRaw::synced;
}

} // namespace clipvane
