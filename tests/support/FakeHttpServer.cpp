#include "FakeHttpServer.h"

#include <QUrlQuery>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <httplib.h>
#include <map>
#include <mutex>
#include <thread>
#include <zlib.h>

namespace clipvane::test {

namespace {

constexpr std::size_t kChunkBytes = 4096;
constexpr time_t kKeepAliveSeconds = 1;

// Pseudo-headers cpp-httplib adds about the connection; they were never sent by the client.
bool isConnectionDetail(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

FakeReply FakeReply::html(QByteArray body, int status)
{
    FakeReply reply = json(std::move(body), status);
    reply.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    return reply;
}

FakeReply FakeReply::eventStream(std::shared_ptr<ReplyFeed> feed)
{
    FakeReply reply = json(QByteArrayLiteral(": open\n\n"));
    reply.headers = {{"Content-Type", "text/event-stream"}, {"Cache-Control", "no-cache"}};
    reply.feed = std::move(feed);
    return reply;
}

FakeReply FakeReply::trickle(QByteArray body, qsizetype bytes, std::chrono::milliseconds every)
{
    FakeReply reply = json(std::move(body));
    reply.trickleBytes = bytes;
    reply.trickleEvery = every;
    return reply;
}

namespace {

// A gzip stream of plain followed by zeros zero bytes, made piece by piece so that a huge
// inflated size costs no memory here.
QByteArray gzipOf(const QByteArray &plain, qint64 zeros)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        qFatal("fake server: no gzip stream");
    const QByteArray zeroPiece(1024 * 1024, '\0');
    QByteArray out;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    bool plainGiven = false;
    int flush = Z_NO_FLUSH;
    do {
        if (stream.avail_in == 0 && flush == Z_NO_FLUSH) {
            const QByteArray &source = plainGiven ? zeroPiece : plain;
            const qint64 piece = plainGiven ? std::min<qint64>(zeros, zeroPiece.size()) : plain.size();
            stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(source.constData()));
            stream.avail_in = uInt(piece);
            if (plainGiven)
                zeros -= piece;
            plainGiven = true;
            if (zeros == 0)
                flush = Z_FINISH;
        }
        stream.next_out = reinterpret_cast<Bytef *>(buffer.data());
        stream.avail_out = uInt(buffer.size());
        deflate(&stream, flush);
        out.append(buffer.constData(), buffer.size() - qsizetype(stream.avail_out));
    } while (!(flush == Z_FINISH && stream.avail_out != 0));
    deflateEnd(&stream);
    return out;
}

} // namespace

FakeReply FakeReply::gzipped(const QByteArray &body)
{
    FakeReply reply = json(gzipOf(body, 0));
    reply.headers = {{"Content-Encoding", "gzip"}};
    return reply;
}

FakeReply FakeReply::gzipBomb(qint64 inflatedBytes)
{
    FakeReply reply = json(gzipOf({}, inflatedBytes));
    reply.headers = {{"Content-Encoding", "gzip"}};
    return reply;
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    return std::any_of(headers.cbegin(), headers.cend(),
                       [&](const auto &entry) { return entry.first.compare(name, Qt::CaseInsensitive) == 0; });
}

QList<QPair<QString, QString>> RecordedRequest::queryItems() const
{
    return QUrlQuery(QString::fromLatin1(query)).queryItems(QUrl::FullyDecoded);
}

struct FakeHttpServer::State
{
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> loopEnded = false;
    std::atomic<qint64> chunkedBytesSent = 0;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::map<QByteArray, std::deque<FakeReply>> queues;
    Handler handler;
    FakeReply defaultReply = FakeReply::json(QByteArrayLiteral(R"({"error":"no scripted reply"})"), 404);
    QList<RecordedRequest> requests;

    FakeReply answer(const RecordedRequest &request)
    {
        Handler chosen;
        {
            std::lock_guard lock(mutex);
            requests.append(request);
            auto queue = queues.find(request.path);
            if (queue != queues.end() && !queue->second.empty()) {
                FakeReply reply = std::move(queue->second.front());
                queue->second.pop_front();
                return reply;
            }
            if (!handler)
                return defaultReply;
            chosen = handler;
        }
        // Outside the lock: the handler may call back into the server's accessors.
        return chosen(request);
    }

    // The body first, then whatever the feed gives, until the feed drops the connection, the
    // client goes or the server stops.
    void serveFeed(const FakeReply &reply, const std::string &contentType, httplib::Response &out)
    {
        const std::shared_ptr<ReplyFeed> feed = reply.feed;
        const int epoch = feed->opened();
        auto first = std::make_shared<std::string>(reply.body.toStdString());
        const auto provide = [this, feed, epoch, first](std::size_t, httplib::DataSink &sink) {
            std::string piece = std::exchange(*first, std::string());
            if (piece.empty()) {
                {
                    std::lock_guard lock(mutex);
                    if (stopping)
                        return false;
                }
                switch (feed->take(epoch, piece, std::chrono::milliseconds(20))) {
                case ReplyFeed::Take::dropped:
                    return false;
                case ReplyFeed::Take::idle:
                    return sink.is_writable();
                case ReplyFeed::Take::bytes:
                    break;
                }
            }
            chunkedBytesSent += qint64(piece.size());
            return sink.write(piece.data(), piece.size());
        };
        out.set_chunked_content_provider(contentType, provide, [feed](bool) { feed->closed(); });
    }

    void serve(const httplib::Request &in, httplib::Response &out)
    {
        RecordedRequest request;
        request.method = bytes(in.method);
        request.path = bytes(in.path);
        const auto mark = in.target.find('?');
        if (mark != std::string::npos)
            request.query = bytes(in.target.substr(mark + 1));
        for (const auto &[name, value] : in.headers) {
            if (!isConnectionDetail(name))
                request.headers.append({bytes(name), bytes(value)});
        }
        request.body = bytes(in.body);

        const FakeReply reply = answer(request);
        if (reply.delay.count() > 0) {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, reply.delay, [this] { return stopping; });
        }

        std::string contentType = "application/json";
        for (const auto &[name, value] : reply.headers) {
            if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
                contentType = value.toStdString();
            else
                out.set_header(name.toStdString(), value.toStdString());
        }
        out.status = reply.status;
        if (reply.feed) {
            serveFeed(reply, contentType, out);
            return;
        }
        // A body of a known length written through a provider goes out as it is: the library
        // compresses only whole bodies and chunked ones, which would hold a trickle back and
        // wrap an encoded body a second time.
        const bool encoded = std::any_of(reply.headers.cbegin(), reply.headers.cend(), [](const auto &header) {
            return header.first.compare("Content-Encoding", Qt::CaseInsensitive) == 0;
        });
        const bool sized = reply.trickleBytes > 0 || encoded;
        if (!reply.chunked && !sized) {
            out.set_content(reply.body.toStdString(), contentType);
            return;
        }
        const std::string body = reply.body.toStdString();
        const std::size_t piece = reply.trickleBytes > 0 ? std::size_t(reply.trickleBytes) : kChunkBytes;
        const auto pause = reply.trickleBytes > 0 ? reply.trickleEvery : std::chrono::milliseconds(0);
        const auto provide = [this, body, piece, pause](std::size_t offset, httplib::DataSink &sink) {
            if (offset > 0 && pause.count() > 0) {
                std::unique_lock lock(mutex);
                if (wake.wait_for(lock, pause, [this] { return stopping; }))
                    return false;
            }
            if (offset < body.size()) {
                const std::size_t length = std::min(piece, body.size() - offset);
                if (!sink.write(body.data() + offset, length))
                    return false;
                chunkedBytesSent += qint64(length);
                return true;
            }
            sink.done();
            return true;
        };
        if (sized)
            out.set_content_provider(
                body.size(), contentType,
                [provide](std::size_t offset, std::size_t, httplib::DataSink &sink) { return provide(offset, sink); });
        else
            out.set_chunked_content_provider(contentType, provide);
    }
};

FakeHttpServer::FakeHttpServer()
    : m_state(std::make_unique<State>())
{}

FakeHttpServer::~FakeHttpServer()
{
    stop();
}

bool FakeHttpServer::start()
{
    State *state = m_state.get();
    if (state->thread.joinable())
        return true;
    // The state outlives the server's threads: stop() joins them before it goes away.
    const auto route = [state](const httplib::Request &in, httplib::Response &out) { state->serve(in, out); };
    state->server.Get(".*", route).Post(".*", route).Put(".*", route).Patch(".*", route);
    state->server.Delete(".*", route).Options(".*", route).set_keep_alive_timeout(kKeepAliveSeconds);

    state->port = state->server.bind_to_any_port("127.0.0.1");
    if (state->port <= 0)
        return false;
    state->thread = std::thread([state] {
        state->server.listen_after_bind();
        state->loopEnded = true;
    });
    // stop() is ignored by a server that has not begun its loop yet, so wait for the loop.
    while (!state->server.is_running() && !state->loopEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (state->loopEnded) {
        state->thread.join();
        return false;
    }
    return true;
}

void FakeHttpServer::stop()
{
    State *state = m_state.get();
    {
        std::lock_guard lock(state->mutex);
        state->stopping = true;
    }
    state->wake.notify_all();
    if (state->thread.joinable()) {
        state->server.stop();
        state->thread.join();
    }
}

quint16 FakeHttpServer::port() const
{
    return quint16(m_state->port);
}

QUrl FakeHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void FakeHttpServer::enqueue(const QByteArray &path, FakeReply reply)
{
    std::lock_guard lock(m_state->mutex);
    m_state->queues[path].push_back(std::move(reply));
}

void FakeHttpServer::setHandler(Handler handler)
{
    std::lock_guard lock(m_state->mutex);
    m_state->handler = std::move(handler);
}

void FakeHttpServer::setDefaultReply(FakeReply reply)
{
    std::lock_guard lock(m_state->mutex);
    m_state->defaultReply = std::move(reply);
}

QList<RecordedRequest> FakeHttpServer::requests() const
{
    std::lock_guard lock(m_state->mutex);
    // A list of its own: one sharing the server's would be read by the caller while a server
    // thread grows it, which Qt's sharing does not order across threads.
    return QList<RecordedRequest>(m_state->requests.cbegin(), m_state->requests.cend());
}

int FakeHttpServer::requestCount() const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->requests.size());
}

RecordedRequest FakeHttpServer::lastRequest() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->requests.isEmpty() ? RecordedRequest() : m_state->requests.constLast();
}

qint64 FakeHttpServer::chunkedBytesSent() const
{
    return m_state->chunkedBytesSent;
}

void FakeHttpServer::clearRequests()
{
    std::lock_guard lock(m_state->mutex);
    m_state->requests.clear();
}

} // namespace clipvane::test
