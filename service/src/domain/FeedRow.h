#pragma once

#include <QString>

#include <string_view>

namespace clipvane::service {

// One video as a user sees it: the user's own copy, the standing copy of a shared library,
// or a deletion record. This is the record the pull and the edits send. Text is QString for
// a row kept beyond a query, std::string_view (UTF-8 straight from the database, valid only
// while the query stands on the row) for a page visited at speed.
template<typename Text> struct BasicFeedRow
{
    qint64 id = 0;
    Text youtubeId{};
    Text title{};
    Text url{};
    Text uploadDate{};
    Text duration{};
    bool excluded = false;
    Text source{};
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    qint64 ownerId = 0; // the library the copy comes from; not sent
    Text ownerEmail{};  // empty for the user's own copy
    bool readOnly = false;
    bool deleted = false;
    // The owner's viewing; false and 0 on a shared library's copy, viewing being each viewer's own.
    bool watched = false;
    qint64 position = 0; // whole seconds
};

using FeedRow = BasicFeedRow<QString>;
using FeedRowView = BasicFeedRow<std::string_view>;

} // namespace clipvane::service
