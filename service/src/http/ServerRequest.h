#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace clipvane::service {

// One request as the HTTP layer hands it over: the head first (before any of the body is
// read), the body once it has arrived whole, within its limit and decoded.
class ServerRequest
{
public:
    // What a handler keeps about a request between its screening and its reply.
    class Context
    {
    public:
        virtual ~Context() = default;
    };

    std::string method;
    std::string path;
    std::string body;
    std::unique_ptr<Context> context;
    // Set by a screening that already did what admitting would do.
    bool admitted = false;

    // A header's value ("" when absent); names compare without regard to case.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
    void addHeader(std::string name, std::string value);
    size_t headerCount() const { return m_headers.size(); }

    // A query item, or for a form body a form field (the query wins); none when absent.
    const std::string *param(const std::string &name) const;
    bool hasParam(const std::string &name) const { return param(name) != nullptr; }
    std::string paramValue(const std::string &name) const;

    // Reads "a=1&b=x%20y" (with "+" for a space); the first of repeated names is kept.
    void setQuery(std::string_view query);
    // Reads an application/x-www-form-urlencoded body into the form fields.
    void readForm();

private:
    struct Caseless
    {
        bool operator()(const std::string &a, const std::string &b) const;
    };
    static void parseItems(std::string_view text, std::map<std::string, std::string> &into);

    std::multimap<std::string, std::string, Caseless> m_headers;
    std::map<std::string, std::string> m_query;
    std::map<std::string, std::string> m_form;
};

} // namespace clipvane::service
