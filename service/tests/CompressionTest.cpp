// Compression both ways over the real server: which clients get gzip, pages that arrive
// compressed, and request bodies that come compressed.

#include "RawHttp.h"
#include "TestService.h"
#include "http/ResponseCompression.h"

#include <QStandardPaths>
#include <QTest>

using namespace clipvane::service;
using namespace clipvane::service::test;

class CompressionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // JSON replies travel gzip-compressed to clients that accept it, and never in the HTTP
    // layer's slowest brotli form.
    void acceptEncodingValues()
    {
        for (const char *value : {"gzip, deflate, br", " deflate ,  GZip ", "br;q=1.0, gzip;q=0.5", "*"})
            QVERIFY2(ResponseCompression::acceptsGzip(value), value);
        for (const char *value : {"", "br", "gzip;q=0, br", "gzip; q=0.000", "gzipx"})
            QVERIFY2(!ResponseCompression::acceptsGzip(value), value);
    }

    // That the body arrives intact, every pull of the application through the real service shows.
    void pagesArriveGzipped()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        for (int i = 0; i < 40; ++i)
            service.add(token, u"https://youtu.be/video%1abcd"_qs.arg(i, 2, 10, QLatin1Char('0')));

        httplib::Client client("127.0.0.1", service.port());
        client.set_decompress(false);
        const httplib::Headers plain{{"Authorization", "Bearer " + token.toStdString()}};
        httplib::Headers compressed = plain;
        compressed.emplace("Accept-Encoding", "gzip, deflate, br");
        const char *page = "/api/videos.php?since=0&after_id=0&limit=600";

        const auto identity = client.Get(page, plain);
        const auto gzipped = client.Get(page, compressed);
        QVERIFY(identity && gzipped);
        QCOMPARE(identity->get_header_value("Content-Encoding"), std::string());
        QCOMPARE(gzipped->get_header_value("Content-Encoding"), std::string("gzip"));
        QCOMPARE(gzipped->get_header_value("Content-Type"), std::string("application/json; charset=utf-8"));
        QVERIFY(gzipped->body.size() * 4 < identity->body.size());
        // Small replies go as they are.
        const auto small = client.Get("/api/videos.php?since=0&after_id=0&limit=1", compressed);
        QVERIFY(small);
        QCOMPARE(small->get_header_value("Content-Encoding"), std::string());
    }

    // Request bodies may come compressed, whole or in chunks; what is stored is the decoded body.
    void requestBodiesMayBeCompressed_data()
    {
        QTest::addColumn<QByteArray>("coding"); // Content-Encoding
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("status");
        QTest::newRow("gzip") << QByteArray("gzip") << false << 200;
        QTest::newRow("gzip in chunks") << QByteArray("gzip") << true << 200;
        QTest::newRow("deflate") << QByteArray("deflate") << false << 200;
        QTest::newRow("unknown coding") << QByteArray("br") << false << 415;
        QTest::newRow("not what it claims") << QByteArray("gzip-broken") << false << 400;
    }
    void requestBodiesMayBeCompressed()
    {
        QFETCH(QByteArray, coding);
        QFETCH(bool, chunked);
        QFETCH(int, status);
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const std::string json = R"({"url":"https://youtu.be/packed1234","title":"Packed"})";
        std::string body = coding == "gzip"      ? ResponseCompression::gzip(json)
                           : coding == "deflate" ? qCompress(QByteArray::fromStdString(json)).mid(4).toStdString()
                                                 : json; // qCompress: a length, then zlib data
        if (chunked)
            body = chunk(body.substr(0, 7)) + chunk(body.substr(7)) + "0\r\n\r\n";
        std::string lines = "Content-Encoding: " + coding.replace("-broken", "").toStdString() + "\r\n";
        lines += chunked ? "Transfer-Encoding: chunked\r\n" : "Content-Length: " + std::to_string(body.size()) + "\r\n";
        RawHttp client(service.port());
        client.send(postHead(token.toStdString(), lines) + body);
        QCOMPARE(client.readStatus(), status);
        QCOMPARE(Client(service, token).sync().title(u"packed1234"_qs), status == 200 ? u"Packed"_qs : QString());
    }
};

QTEST_GUILESS_MAIN(CompressionTest)
#include "CompressionTest.moc"
