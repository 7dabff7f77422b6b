#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <memory>

struct z_stream_s;

namespace clipvane {

// Inflates a gzip-encoded reply as its bytes arrive and refuses it the moment the inflated
// bytes pass a bound: a small reply that inflates without end never costs more memory than
// the bound, and says so at once instead of stalling.
class BoundedInflater
{
public:
    enum class Result { ok, tooLarge, broken };

    explicit BoundedInflater(qint64 bound);
    ~BoundedInflater();
    BoundedInflater(const BoundedInflater &) = delete;
    BoundedInflater &operator=(const BoundedInflater &) = delete;

    // Appends what compressed inflates to out.
    Result append(QByteArrayView compressed, QByteArray &out);
    // The stream reached its proper end (a reply cut short did not).
    bool ended() const { return m_ended; }

private:
    std::unique_ptr<z_stream_s> m_stream;
    qint64 m_bound;
    qint64 m_inflated = 0;
    bool m_usable = false;
    bool m_ended = false;
};

} // namespace clipvane
