#pragma once

#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace clipvane::service {

// Compresses JSON replies with gzip when the client accepts it. The HTTP layer's own choice
// would be brotli at its slowest level whenever a client lists "br" (Qt's network stack
// does): about 0.3 s of CPU for one page of 600 videos, against about 2 ms for gzip.
namespace ResponseCompression {

inline constexpr char kJsonType[] = "application/json; charset=utf-8";

// Sets a JSON reply body: in gzip form when it has at least kMinimumBytes and the request
// accepts gzip, as it is otherwise.
void setJson(const httplib::Request &request, httplib::Response &response, const std::string &body);

// Whether an Accept-Encoding value allows gzip (listed, and not with q=0).
bool acceptsGzip(const std::string &acceptEncoding);

// The gzip form of data; empty when compression failed.
std::string gzip(const std::string &data);

inline constexpr size_t kMinimumBytes = 1024;

} // namespace ResponseCompression

} // namespace clipvane::service
