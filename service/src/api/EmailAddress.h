#pragma once

#include <QString>

#include <optional>

namespace clipvane::service {

// An e-mail address trimmed and lower-cased, so one person is one account however the
// address was typed; none when it is not a plausible address (ASCII, one "@", a dotted
// domain, at most 254 characters).
std::optional<QString> normaliseEmail(const QString &text);

} // namespace clipvane::service
