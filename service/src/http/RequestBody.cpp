#include "http/RequestBody.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace clipvane::service {

namespace {

constexpr size_t kInflateChunk = 16 * 1024;
constexpr int kAnyZlibHeader = 15 + 32; // gzip or zlib, detected from the header

std::string lowered(std::string_view text)
{
    std::string out;
    for (const char c : text)
        if (c != ' ' && c != '\t')
            out.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

} // namespace

RequestBody::Coding RequestBody::codingOf(std::string_view contentEncoding)
{
    const std::string coding = lowered(contentEncoding);
    if (coding.empty() || coding == "identity")
        return Coding::Identity;
    if (coding == "gzip" || coding == "x-gzip" || coding == "deflate")
        return Coding::Gzip;
    return Coding::Unsupported;
}

RequestBody::RequestBody(size_t limit, Coding coding)
    : m_limit(limit)
    , m_coding(coding)
{
    if (m_coding == Coding::Unsupported) {
        m_state = State::Malformed;
        return;
    }
    if (m_coding == Coding::Gzip) {
        m_stream = new z_stream{};
        if (inflateInit2(m_stream, kAnyZlibHeader) != Z_OK) {
            delete m_stream;
            m_stream = nullptr;
            m_state = State::Malformed;
        }
    }
}

RequestBody::~RequestBody()
{
    if (m_stream) {
        inflateEnd(m_stream);
        delete m_stream;
    }
}

RequestBody::State RequestBody::append(std::string_view data)
{
    if (m_state != State::Reading || data.empty())
        return m_state;
    if (m_coding == Coding::Identity) {
        if (data.size() > m_limit - m_text.size())
            m_state = State::TooLarge;
        else
            m_text.append(data);
        return m_state;
    }
    inflateSome(data);
    return m_state;
}

void RequestBody::inflateSome(std::string_view data)
{
    if (m_streamEnded) {
        m_state = State::Malformed; // bytes after the end of the compressed stream
        return;
    }
    std::array<char, kInflateChunk> out{};
    m_stream->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    m_stream->avail_in = uInt(data.size());
    while (m_stream->avail_in > 0 && !m_streamEnded) {
        m_stream->next_out = reinterpret_cast<Bytef *>(out.data());
        m_stream->avail_out = uInt(out.size());
        const int result = inflate(m_stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            m_state = State::Malformed;
            return;
        }
        const size_t produced = out.size() - m_stream->avail_out;
        if (produced > m_limit - m_text.size()) {
            m_state = State::TooLarge;
            return;
        }
        m_text.append(out.data(), produced);
        m_streamEnded = result == Z_STREAM_END;
        if (result == Z_BUF_ERROR && produced == 0)
            break;
    }
    if (m_streamEnded && m_stream->avail_in > 0)
        m_state = State::Malformed;
}

RequestBody::State RequestBody::finish()
{
    if (m_state == State::Reading && m_coding == Coding::Gzip && !m_streamEnded)
        m_state = State::Malformed;
    return m_state;
}

} // namespace clipvane::service
