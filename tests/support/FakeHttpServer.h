#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

namespace clipvane::test {

// One scripted answer of the fake server.
struct FakeReply
{
    int status = 200;
    QByteArray body;
    // Extra headers; "Content-Type" defaults to application/json when not given here.
    QList<QPair<QByteArray, QByteArray>> headers;
    // How long the server waits before answering (a stalled server, for time-outs). The
    // wait ends early when the server stops, so a test never waits for it at tear-down.
    std::chrono::milliseconds delay{0};
    // Sends the body with chunked transfer encoding, without a Content-Length.
    bool chunked = false;

    static FakeReply json(QByteArray body, int status = 200)
    {
        FakeReply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
};

// One request as the server received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path;  // without the query, percent-decoded
    QByteArray query; // the raw query string after '?', in the order the client sent it
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The value of a header, matched without regard to case; empty when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
    // The query items in the client's order, percent-decoded.
    QList<QPair<QString, QString>> queryItems() const;
};

// A local HTTP server for tests: listens on 127.0.0.1 on a free port, answers from its own
// threads (so the test's Qt event loop stays free to drive the client), records every
// request and answers each one from a script:
//
//   1. the next reply queued for the request's path (enqueue), consumed in order;
//   2. otherwise the handler (setHandler), called on a server thread with the request;
//   3. otherwise the default reply (setDefaultReply; initially 404 with a JSON error).
//
// Every accessor is thread-safe. Typical use:
//
//   FakeHttpServer server;
//   QVERIFY(server.start());
//   server.enqueue("/api/videos.php", FakeReply::json(R"({"videos":[]})"));
//   ... point the client at server.url("/api") and run it ...
//   QCOMPARE(server.requests().at(0).query, "since=0&after_id=0&limit=600");
//
// The server stops in its destructor; replies still waiting out a delay are cut short.
class FakeHttpServer
{
public:
    using Handler = std::function<FakeReply(const RecordedRequest &)>;

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    // Binds a free port on 127.0.0.1 and starts answering (once per server object). False when
    // no port could be bound.
    bool start();
    // Stops answering and closes the port; waits for the server threads. Idempotent.
    void stop();

    quint16 port() const;
    // http://127.0.0.1:<port> followed by path (for example "/api").
    QUrl url(const QString &path = {}) const;

    void enqueue(const QByteArray &path, FakeReply reply);
    void setHandler(Handler handler);
    void setDefaultReply(FakeReply reply);

    QList<RecordedRequest> requests() const;
    int requestCount() const;
    RecordedRequest lastRequest() const;
    void clearRequests();

    // Body bytes of chunked replies handed to the connection so far, over all replies: a
    // client that stops reading early leaves this below what was scripted.
    qint64 chunkedBytesSent() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace clipvane::test
