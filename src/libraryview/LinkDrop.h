#pragma once

#include <QStringList>

class QMimeData;

namespace clipvane {

class SyncEngine;
class VideoStore;

// Links dropped onto the library window.
namespace LinkDrop {

// The texts a drop carries: each URL as a whole address, or else each non-empty line of
// plain text (browsers and editors drag links either way).
QStringList texts(const QMimeData &mime);
bool carriesLinks(const QMimeData &mime);

// Adds the video of every text that holds a YouTube link (the whole text is the link). True
// when at least one did, even if its video was already stored; then saves and schedules a sync.
// Texts without a link are skipped silently.
bool add(const QStringList &texts, SyncEngine &sync, VideoStore &store);

} // namespace LinkDrop

} // namespace clipvane
