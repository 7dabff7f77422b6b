#pragma once

#include "ReplyFeed.h"

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
    QList<QPair<QByteArray, QByteArray>> headers; // "Content-Type" defaults to application/json
    std::chrono::milliseconds delay{0};           // a stalled server; cut short when the server stops
    bool chunked = false;                         // chunked transfer encoding, no Content-Length
    // A trickling server: the body (of a known length) goes out trickleBytes at a time, one
    // piece every trickleEvery (cut short when the server stops).
    qsizetype trickleBytes = 0;
    std::chrono::milliseconds trickleEvery{1000};
    // An open-ended body (chunked) taken from the feed for as long as the connection lasts.
    std::shared_ptr<ReplyFeed> feed;

    static FakeReply json(QByteArray body, int status = 200)
    {
        FakeReply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    // What a proxy or a web server in front of the service answers: a page, not JSON.
    static FakeReply html(QByteArray body, int status = 200);
    // A text/event-stream reply that begins with the service's opening comment.
    static FakeReply eventStream(std::shared_ptr<ReplyFeed> feed);
    static FakeReply trickle(QByteArray body, qsizetype bytes, std::chrono::milliseconds every);
    // A few hundred kilobytes on the wire, sent with "Content-Encoding: gzip", that inflate to
    // inflatedBytes zeros.
    static FakeReply gzipped(const QByteArray &body);
    static FakeReply gzipBomb(qint64 inflatedBytes);
};

// One request as the server received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path;  // without the query, percent-decoded
    QByteArray query; // the raw query string after '?', in the order the client sent it
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const; // any case; empty when absent
    bool hasHeader(const QByteArray &name) const;
    QList<QPair<QString, QString>> queryItems() const; // in the client's order, decoded
};

// A local HTTP server for tests on a free port of 127.0.0.1. It answers from its own threads,
// so the test's event loop stays free to drive the client, and records every request. Each
// request gets the next reply queued for its path (enqueue), else the handler's (called on a
// server thread), else the default reply (at first 404 with a JSON error). Every accessor is
// thread-safe; the destructor stops the server.
class FakeHttpServer
{
public:
    using Handler = std::function<FakeReply(const RecordedRequest &)>;

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    bool start(); // false when no port could be bound
    void stop();  // waits for the server's threads; idempotent

    quint16 port() const;
    QUrl url(const QString &path = {}) const; // http://127.0.0.1:<port><path>

    void enqueue(const QByteArray &path, FakeReply reply);
    void setHandler(Handler handler);
    void setDefaultReply(FakeReply reply);

    QList<RecordedRequest> requests() const;
    int requestCount() const;
    RecordedRequest lastRequest() const;
    void clearRequests();

    // Chunked, trickled and encoded body bytes handed to connections so far: below what was
    // scripted when a client stops reading early.
    qint64 chunkedBytesSent() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace clipvane::test
