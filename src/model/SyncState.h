#pragma once

#include <QString>

namespace clipvane {

// Where a record stands against the server. The order is fixed: rules compare positions.
enum class SyncState { synced, needsAdd, needsPatch, needsDelete, unrecognised };

namespace SyncStateRaw {
inline const QString synced = QStringLiteral("synced");
inline const QString needsAdd = QStringLiteral("needsAdd");
inline const QString needsPatch = QStringLiteral("needsPatch");
inline const QString needsDelete = QStringLiteral("needsDelete");
} // namespace SyncStateRaw

SyncState syncStateFromRaw(const QString &raw);
QString rawFromSyncState(SyncState state);

// A pending record carries a local change the server has not confirmed yet.
inline bool isPending(SyncState state)
{
    return state == SyncState::needsAdd || state == SyncState::needsPatch || state == SyncState::needsDelete;
}

} // namespace clipvane
