#include "http/ResponseCompression.h"

#include "http/ServerRequest.h"
#include "http/ServerResponse.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>

namespace clipvane::service::ResponseCompression {

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

bool acceptsGzip(const std::string &acceptEncoding)
{
    size_t start = 0;
    const std::string value = lowered(acceptEncoding);
    while (start <= value.size()) {
        const size_t end = std::min(value.find(',', start), value.size());
        const std::string item = value.substr(start, end - start);
        start = end + 1;
        const size_t semicolon = item.find(';');
        const std::string coding = trimmed(item.substr(0, semicolon));
        if (coding != "gzip" && coding != "x-gzip" && coding != "*")
            continue;
        if (semicolon == std::string::npos)
            return true;
        // "q=0", "q=0.0", "q=0.000": refused.
        const std::string parameter = trimmed(item.substr(semicolon + 1));
        if (parameter.rfind("q=", 0) != 0)
            return true;
        const std::string q = parameter.substr(2);
        return q.find_first_not_of("0.") != std::string::npos || q.empty();
    }
    return false;
}

std::string gzip(const std::string &data)
{
    z_stream stream{};
    // 15 + 16: a gzip header and trailer around the deflate data.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&stream, uLong(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const size_t written = stream.total_out;
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return {};
    out.resize(written);
    return out;
}

void setJson(const ServerRequest &request, ServerResponse &response, const std::string &body)
{
    if (body.size() >= kMinimumBytes) {
        response.setHeader("Vary", "Accept-Encoding");
        if (acceptsGzip(request.header("Accept-Encoding"))) {
            std::string compressed = gzip(body);
            if (!compressed.empty()) {
                response.setHeader("Content-Encoding", "gzip");
                response.setContent(std::move(compressed), kJsonType);
                return;
            }
        }
    }
    response.setContent(body, kJsonType);
}

} // namespace clipvane::service::ResponseCompression
