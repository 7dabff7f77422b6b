#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace clipvane {

class Video;

// The collections the library column shows beside the visible list. They come from every
// record of the store, excluded, shared and pending deletion included; null pointers are skipped.
namespace LibraryLists {

// Entries of the year menu: year texts exactly four characters long, without duplicates,
// newest (greatest text) first. No check that they are digits.
QStringList years(const QList<const Video *> &records);

// Owners of shared (read-only) records, without duplicates, in ascending text order. An empty
// owner is an entry like any other.
QStringList sharedOwners(const QList<const Video *> &records);

// youtubeID to record; when two records share an ID the first one in store order wins.
QHash<QString, const Video *> byID(const QList<const Video *> &records);

} // namespace LibraryLists

} // namespace clipvane
