#include "api/JsonText.h"

#include <array>
#include <charconv>

namespace clipvane::service {

JsonText &JsonText::raw(std::string_view text)
{
    m_out.append(text);
    return *this;
}

void JsonText::separate()
{
    if (!m_first)
        m_out.push_back(',');
    m_first = false;
}

JsonText &JsonText::key(std::string_view name)
{
    separate();
    m_out.push_back('"');
    m_out.append(name);
    m_out.append("\":");
    m_first = true; // the value follows without a comma
    return *this;
}

JsonText &JsonText::string(std::string_view utf8)
{
    separate();
    m_out.push_back('"');
    size_t plainFrom = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        m_out.append(utf8.substr(plainFrom, i - plainFrom));
        plainFrom = i + 1;
        switch (c) {
        case '"':
            m_out.append("\\\"");
            break;
        case '\\':
            m_out.append("\\\\");
            break;
        case '\n':
            m_out.append("\\n");
            break;
        case '\r':
            m_out.append("\\r");
            break;
        case '\t':
            m_out.append("\\t");
            break;
        default: {
            static constexpr char kHex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
            m_out.append(escaped, sizeof escaped);
        }
        }
    }
    m_out.append(utf8.substr(plainFrom));
    m_out.push_back('"');
    m_first = false;
    return *this;
}

JsonText &JsonText::number(qint64 value)
{
    separate();
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    m_out.append(digits.data(), result.ptr);
    return *this;
}

JsonText &JsonText::boolean(bool value)
{
    separate();
    m_out.append(value ? "true" : "false");
    return *this;
}

JsonText &JsonText::beginObject()
{
    separate();
    m_out.push_back('{');
    m_first = true;
    return *this;
}

JsonText &JsonText::endObject()
{
    m_out.push_back('}');
    m_first = false;
    return *this;
}

JsonText &JsonText::beginArray()
{
    separate();
    m_out.push_back('[');
    m_first = true;
    return *this;
}

JsonText &JsonText::endArray()
{
    m_out.push_back(']');
    m_first = false;
    return *this;
}

} // namespace clipvane::service
