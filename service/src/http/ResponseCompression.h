#pragma once

#include <string>

namespace clipvane::service {

class ServerRequest;
struct ServerResponse;

// Compresses JSON replies with gzip when the client accepts it (about 2 ms for a page of 600
// videos; brotli at its slowest level, which Qt's network stack also lists, costs 0.3 s).
namespace ResponseCompression {

inline constexpr char kJsonType[] = "application/json; charset=utf-8";

// Sets a JSON reply body: in gzip form when it has at least kMinimumBytes and the request
// accepts gzip, as it is otherwise.
void setJson(const ServerRequest &request, ServerResponse &response, const std::string &body);

// Whether an Accept-Encoding value allows gzip (listed, and not with q=0).
bool acceptsGzip(const std::string &acceptEncoding);

// The gzip form of data; empty when compression failed.
std::string gzip(const std::string &data);

inline constexpr size_t kMinimumBytes = 1024;

} // namespace ResponseCompression

} // namespace clipvane::service
