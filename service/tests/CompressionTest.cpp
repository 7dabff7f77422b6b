// JSON replies travel gzip-compressed to clients that accept it, and never in the HTTP
// layer's slowest brotli form; request bodies may come compressed.

#include "TestService.h"
#include "http/ResponseCompression.h"

#include <QJsonDocument>
#include <QTest>

using namespace clipvane::service;
using namespace clipvane::service::test;

class CompressionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void acceptEncodingValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("gzip");
        QTest::newRow("absent") << QString() << false;
        QTest::newRow("Qt's") << u"gzip, deflate, br"_qs << true;
        QTest::newRow("case and spaces") << u" deflate ,  GZip "_qs << true;
        QTest::newRow("brotli only") << u"br"_qs << false;
        QTest::newRow("refused") << u"gzip;q=0, br"_qs << false;
        QTest::newRow("refused with decimals") << u"gzip; q=0.000"_qs << false;
        QTest::newRow("weighted") << u"br;q=1.0, gzip;q=0.5"_qs << true;
        QTest::newRow("anything") << u"*"_qs << true;
        QTest::newRow("a longer name") << u"gzipx"_qs << false;
    }

    void acceptEncodingValues()
    {
        QFETCH(QString, value);
        QFETCH(bool, gzip);
        QCOMPARE(ResponseCompression::acceptsGzip(value.toStdString()), gzip);
    }

    void pagesArriveGzippedAndIntact()
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

        client.set_decompress(true);
        const auto decompressed = client.Get(page, compressed);
        QVERIFY(decompressed);
        QCOMPARE(decompressed->body, identity->body);
        QVERIFY(QJsonDocument::fromJson(QByteArray::fromStdString(identity->body)).isObject());

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
        QTest::newRow("plain") << QByteArray() << false << 200;
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
        const std::string token = service.token(u"a@example.com"_qs).toStdString();
        const std::string json = R"({"url":"https://youtu.be/packed1234","title":"Packed"})";
        std::string body = json;
        std::string name = coding.toStdString();
        if (name == "gzip")
            body = ResponseCompression::gzip(json);
        else if (name == "deflate")
            body = qCompress(QByteArray::fromStdString(json)).mid(4).toStdString(); // zlib data
        else if (name == "gzip-broken")
            name = "gzip";
        httplib::Client client("127.0.0.1", service.port());
        httplib::Headers headers{{"Authorization", "Bearer " + token}};
        if (!name.empty())
            headers.emplace("Content-Encoding", name);
        const auto reply = chunked
                               ? client.Post(
                                     "/api/upsert.php", headers,
                                     [&body](size_t offset, httplib::DataSink &sink) {
                                         sink.write(body.data() + offset, std::min<size_t>(7, body.size() - offset));
                                         if (offset + 7 >= body.size())
                                             sink.done();
                                         return true;
                                     },
                                     "application/json")
                               : client.Post("/api/upsert.php", headers, body, "application/json");
        QVERIFY(reply);
        QCOMPARE(reply->status, status);
        QCOMPARE(Client(service, QString::fromStdString(token)).sync().title(u"packed1234"_qs),
                 status == 200 ? u"Packed"_qs : QString());
    }
};

QTEST_GUILESS_MAIN(CompressionTest)
#include "CompressionTest.moc"
