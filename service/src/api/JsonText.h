#pragma once

#include <QtGlobal>

#include <string>
#include <string_view>

namespace clipvane::service {

// Appends JSON tokens to a text, for the feed rows: a page of the pull is too large to build
// through QJsonObject at speed, and an edit's reply sends its row the same way. Strings must
// be UTF-8, as SQLite hands them out.
class JsonText
{
public:
    explicit JsonText(std::string &out)
        : m_out(out)
    {}

    JsonText &raw(std::string_view text);
    JsonText &key(std::string_view name); // "name": (after a comma unless first in its object)
    JsonText &string(std::string_view utf8);
    JsonText &number(qint64 value);
    JsonText &boolean(bool value);
    JsonText &beginObject();
    JsonText &endObject();
    JsonText &beginArray();
    JsonText &endArray();

private:
    void separate();

    std::string &m_out;
    bool m_first = true; // nothing written yet at the current level
};

} // namespace clipvane::service
