#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace clipvane::service {

class StreamBody;

// A reply as a handler makes it; the HTTP layer adds the length and the framing.
struct ServerResponse
{
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When set, the body is this stream instead, sent as it comes, uncompressed.
    std::shared_ptr<StreamBody> stream;

    void setHeader(std::string name, std::string value) { headers.emplace_back(std::move(name), std::move(value)); }
    void setContent(std::string content, std::string type)
    {
        body = std::move(content);
        setHeader("Content-Type", std::move(type));
    }
    std::string header(const std::string &name) const
    {
        for (const auto &[key, value] : headers)
            if (key == name)
                return value;
        return {};
    }
};

} // namespace clipvane::service
