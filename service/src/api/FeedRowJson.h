#pragma once

#include "api/JsonText.h"
#include "domain/FeedRow.h"

#include <string>

namespace clipvane::service::FeedRowJson {

// A feed row as the pull and the edits send it: keys in alphabetical order, flags as the
// integers 0 and 1, times as whole milliseconds. Clients read the keys; the order is kept
// so replies stay the same byte for byte.
void write(JsonText &json, const FeedRow &row);
void write(JsonText &json, const FeedRowView &row);

// The reply of an edit: {"video": row}.
std::string videoReply(const FeedRow &row);

} // namespace clipvane::service::FeedRowJson
