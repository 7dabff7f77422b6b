#include "http/ServerRequest.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>

namespace clipvane::service {

namespace {

char lower(char c)
{
    return char(std::tolower(static_cast<unsigned char>(c)));
}

std::string decoded(std::string_view text)
{
    std::string plus(text);
    std::replace(plus.begin(), plus.end(), '+', ' ');
    return QByteArray::fromPercentEncoding(QByteArray::fromStdString(plus)).toStdString();
}

} // namespace

bool ServerRequest::Caseless::operator()(const std::string &a, const std::string &b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

std::string ServerRequest::header(std::string_view name) const
{
    const auto it = m_headers.find(std::string(name));
    return it == m_headers.end() ? std::string() : it->second;
}

bool ServerRequest::hasHeader(std::string_view name) const
{
    return m_headers.contains(std::string(name));
}

void ServerRequest::addHeader(std::string name, std::string value)
{
    m_headers.emplace(std::move(name), std::move(value));
}

const std::string *ServerRequest::param(const std::string &name) const
{
    if (const auto it = m_query.find(name); it != m_query.end())
        return &it->second;
    if (const auto it = m_form.find(name); it != m_form.end())
        return &it->second;
    return nullptr;
}

std::string ServerRequest::paramValue(const std::string &name) const
{
    const std::string *value = param(name);
    return value ? *value : std::string();
}

void ServerRequest::setQuery(std::string_view query)
{
    parseItems(query, m_query);
}

void ServerRequest::readForm()
{
    const std::string type = header("Content-Type");
    if (type.rfind("application/x-www-form-urlencoded", 0) == 0)
        parseItems(body, m_form);
}

void ServerRequest::parseItems(std::string_view text, std::map<std::string, std::string> &into)
{
    while (!text.empty()) {
        const size_t end = std::min(text.find('&'), text.size());
        const std::string_view item = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (item.empty())
            continue;
        // The first "=" splits name from value: "since=1 OR 1=1" is the value "1 OR 1=1".
        const size_t equals = item.find('=');
        const std::string name = decoded(item.substr(0, equals));
        const std::string value = equals == std::string_view::npos ? std::string() : decoded(item.substr(equals + 1));
        into.emplace(name, value);
    }
}

} // namespace clipvane::service
