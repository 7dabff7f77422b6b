#pragma once

#include <QStringList>

class QMimeData;

namespace clipvane {

class SyncEngine;

// Links dropped onto the library window.
namespace LinkDrop {

// The texts a drop carries: each URL as a whole address, or else each non-empty line of
// plain text (browsers and editors drag links either way).
// Files (file:// URLs) are not among them: they are imported, see files().
QStringList texts(const QMimeData &mime);
// The local files a drop carries, whose links are imported.
QStringList files(const QMimeData &mime);
bool carriesLinks(const QMimeData &mime);

// Adds the video of every text that holds a YouTube link (the whole text is the link) through
// the library's one door, which tells the window what came of each. True when at least one
// text named a video that is in the library now.
bool add(const QStringList &texts, SyncEngine &sync);

} // namespace LinkDrop

} // namespace clipvane
