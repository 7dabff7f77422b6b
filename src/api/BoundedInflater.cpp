#include "BoundedInflater.h"

#include <zlib.h>

namespace clipvane {

namespace {

constexpr qsizetype kOutputStep = 64 * 1024;
// zlib reads a gzip header (and only that) with this many window bits.
constexpr int kGzipWindowBits = MAX_WBITS + 16;

} // namespace

BoundedInflater::BoundedInflater(qint64 bound)
    : m_stream(std::make_unique<z_stream_s>())
    , m_bound(bound)
{
    m_usable = inflateInit2(m_stream.get(), kGzipWindowBits) == Z_OK;
}

BoundedInflater::~BoundedInflater()
{
    if (m_usable)
        inflateEnd(m_stream.get());
}

BoundedInflater::Result BoundedInflater::append(QByteArrayView compressed, QByteArray &out)
{
    if (!m_usable)
        return Result::broken;
    // Bytes after the end of the stream are not part of the reply.
    if (m_ended)
        return compressed.isEmpty() ? Result::ok : Result::broken;
    m_stream->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
    m_stream->avail_in = uInt(compressed.size());
    while (m_stream->avail_in > 0 || m_stream->avail_out == 0) {
        const qsizetype before = out.size();
        out.resize(before + kOutputStep);
        m_stream->next_out = reinterpret_cast<Bytef *>(out.data() + before);
        m_stream->avail_out = uInt(kOutputStep);
        const int status = inflate(m_stream.get(), Z_NO_FLUSH);
        const qsizetype produced = kOutputStep - qsizetype(m_stream->avail_out);
        out.resize(before + produced);
        m_inflated += produced;
        if (m_inflated > m_bound)
            return Result::tooLarge;
        if (status == Z_STREAM_END) {
            m_ended = true;
            return m_stream->avail_in == 0 ? Result::ok : Result::broken;
        }
        if (status != Z_OK && status != Z_BUF_ERROR)
            return Result::broken;
        if (status == Z_BUF_ERROR && m_stream->avail_in == 0)
            break;
    }
    return Result::ok;
}

} // namespace clipvane
