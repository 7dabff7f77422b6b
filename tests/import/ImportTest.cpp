#include "ImportFormat.h"
#include "LineWindows.h"
#include "LinkFileReader.h"
#include "LinkImport.h"
#include "LocalEdits.h"
#include "TestLibrary.h"
#include "VideoStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace clipvane;

namespace {

struct Read
{
    QStringList links; // "line:text", or "line:!text" for a row refused by the reader
    QString problem;
};

Read readFile(const QString &path)
{
    Read read;
    LinkFileReader::Hooks hooks;
    hooks.found = [&](FoundLink link) {
        read.links.append(QString::number(link.line) + u':' + (link.refusal.isEmpty() ? QString() : u"!"_qs) +
                          link.text);
    };
    hooks.read = [](qint64) {};
    hooks.cancelled = [] { return false; };
    read.problem = LinkFileReader::read(path, hooks);
    return read;
}

QByteArray utf16(const QString &text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

} // namespace

class ImportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void readers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<bool>("readable");

        const QByteArray watch = "https://www.youtube.com/watch?v=";
        QTest::newRow("playlist export") << QByteArray("Video ID,Playlist Video Creation Timestamp\n"
                                                       "dQw4w9WgXcQ,2020-01-01T00:00:00+00:00\n"
                                                       "\n"
                                                       "bad id!,2020\n"
                                                       "\"abcdefghijk\",2021\n")
                                         << QStringList{u"2:"_qs + QString::fromLatin1(watch) + u"dQw4w9WgXcQ"_qs,
                                                        u"4:!bad id!"_qs,
                                                        u"5:"_qs + QString::fromLatin1(watch) + u"abcdefghijk"_qs}
                                         << true;
        QTest::newRow("older playlist export, CRLF")
            << QByteArray("Playlist Id,Channel Id\r\nPL1,UC1\r\n\r\nVideo Id,Time Added\r\nxxxxxxxxxxx,2019\r\n")
            << QStringList{u"5:"_qs + QString::fromLatin1(watch) + u"xxxxxxxxxxx"_qs} << true;
        QTest::newRow("IDs without the header are no links")
            << QByteArray("dQw4w9WgXcQ,2020\nabcdefghijk,2021\n") << QStringList{} << false;
        QTest::newRow("watch history")
            << QByteArray("[{\n \"header\": \"YouTube\",\n \"title\": \"Watched a\",\n"
                          " \"titleUrl\": \"https://www.youtube.com/watch?v\\u003daaaaaaaaaaa\",\n"
                          " \"subtitles\": [{\"name\": \"C\", \"url\": \"https://www.youtube.com/channel/UC1\"}]\n"
                          "},{\"title\": \"Visited a channel\", \"titleUrl\": \"https://www.youtube.com/channel/UC2\"},"
                          "{\"title\": \"no link\"},\n{\"titleUrl\": \"https:\\/\\/youtu.be\\/bbbbbbbbbbb\"}]\n")
            << QStringList{u"4:https://www.youtube.com/watch?v=aaaaaaaaaaa"_qs, u"7:https://youtu.be/bbbbbbbbbbb"_qs}
            << true;
        QTest::newRow("truncated watch history keeps what came before")
            << QByteArray("[{\"titleUrl\": \"https://youtu.be/aaaaaaaaaaa\"}, {\"titleUrl\": \"https://youtu.be/bbb")
            << QStringList{u"1:https://youtu.be/aaaaaaaaaaa"_qs} << true;
        QTest::newRow("JSON array of links")
            << QByteArray("[\"https://youtu.be/aaaaaaaaaaa\",\"https://youtu.be/bbbbbbbbbbb\"]")
            << QStringList{u"1:https://youtu.be/aaaaaaaaaaa"_qs, u"1:https://youtu.be/bbbbbbbbbbb"_qs} << true;
        QTest::newRow("bookmarks with entities")
            << QByteArray("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
                          "<DT><A HREF=\"https://www.youtube.com/watch?feature=share&amp;v=aaaaaaaaaaa\" "
                          "ADD_DATE=\"1\">A &amp; B</A>\n"
                          "<DT><A HREF=\"https://example.com/youtu.be/\">not a video</A>\n"
                          "<DT><a href='https://youtu.be/bbbbbbbbbbb&#63;t=1'>b</a>\n</DL>\n")
            << QStringList{u"3:https://www.youtube.com/watch?feature=share&v=aaaaaaaaaaa"_qs,
                           u"5:https://youtu.be/bbbbbbbbbbb?t=1"_qs}
            << true;
        QTest::newRow("Markdown, duplicates and other links")
            << QByteArray("# Later\n- [talk](https://youtu.be/aaaaaaaaaaa) and https://example.com/x\n"
                          "see <https://youtu.be/aaaaaaaaaaa>, https://www.youtube.com/@channel\n")
            << QStringList{u"2:https://youtu.be/aaaaaaaaaaa"_qs, u"3:https://youtu.be/aaaaaaaaaaa"_qs} << true;
        QTest::newRow("quoted-printable mail")
            << QByteArray("Subject: watch\nContent-Transfer-Encoding: quoted-printable\n\n"
                          "Look: https://www.youtube.com/watch?v=3Daaaaa=\naaaaaa and more\n")
            << QStringList{u"4:https://www.youtube.com/watch?v=aaaaaaaaaaa"_qs} << true;
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBFhttps://youtu.be/aaaaaaaaaaa\n")
                                        << QStringList{u"1:https://youtu.be/aaaaaaaaaaa"_qs} << true;
        QTest::newRow("UTF-16 LE") << utf16(u"Video ID,Time\r\naaaaaaaaaaa,1\r\n"_qs, QStringConverter::Utf16LE)
                                   << QStringList{u"2:"_qs + QString::fromLatin1(watch) + u"aaaaaaaaaaa"_qs} << true;
        QTest::newRow("UTF-16 BE") << utf16(u"één https://youtu.be/aaaaaaaaaaa\n"_qs, QStringConverter::Utf16BE)
                                   << QStringList{u"1:https://youtu.be/aaaaaaaaaaa"_qs} << true;
        QTest::newRow("binary") << QByteArray("\x7F"
                                              "ELF\x02\x01\x01\0\0\0https://youtu.be/aaaaaaaaaaa",
                                              37)
                                << QStringList{} << false;
        QTest::newRow("invalid UTF-8") << QByteArray("https://youtu.be/aaaaaaaaaaa \xC3\x28\xFF\n") << QStringList{}
                                       << false;
        QTest::newRow("empty") << QByteArray() << QStringList{} << false;
    }

    void readers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, links);
        QFETCH(bool, readable);
        const Read read = readFile(write(u"links"_qs, bytes));
        QCOMPARE(read.links, links);
        QCOMPARE(read.problem.isEmpty(), readable);
    }

    // One line far longer than a window, with links at every distance from the windows' edges,
    // read in chunks whose edges fall elsewhere: each link is found once, whole.
    void longLineAcrossWindowsAndChunks()
    {
        QByteArray line;
        QStringList expected;
        int number = 0;
        for (qsizetype at : {qsizetype(10), LineWindows::kWindow - 12, LineWindows::kWindow + 3,
                             2 * LineWindows::kWindow - LineWindows::kBehind - 5, LinkFileReader::kChunk - 9,
                             LinkFileReader::kChunk * 3 - 1}) {
            line.append(QByteArray(at - line.size(), 'z'));
            const QByteArray link = "https://youtu.be/v" + QByteArray::number(1000000000 + number++);
            line.append(' ' + link + ',');
            expected.append(u"1:"_qs + QString::fromLatin1(link));
        }
        line.append(QByteArray(LinkFileReader::kChunk, 'z'));
        line.append("\nhttps://youtu.be/lastlastlas");
        expected.append(u"2:https://youtu.be/lastlastlas"_qs);
        const Read read = readFile(write(u"long"_qs, line));
        QCOMPARE(read.links, expected);
    }

    void unreadableFilesSayWhy()
    {
        QVERIFY(readFile(m_dir.filePath(u"missing"_qs)).problem.contains(u"missing"_qs));
        QVERIFY(readFile(m_dir.path()).problem.contains(m_dir.path()));
        QVERIFY(readFile(write(u"plain"_qs, QByteArray(100000, 'a'))).problem.startsWith(u"No video links"_qs));
    }

    void sniffsByContent_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("kind");
        QTest::newRow("Markdown link first")
            << QByteArray("[talk](https://youtu.be/x)") << int(ImportFormat::Kind::text);
        QTest::newRow("JSON object") << QByteArray("  {\"a\": 1}") << int(ImportFormat::Kind::json);
        QTest::newRow("history") << QByteArray("[ {\"titleUrl\": \"\"} ]") << int(ImportFormat::Kind::watchHistory);
        QTest::newRow("bookmarks lower case")
            << QByteArray("<!doctype netscape-bookmark-file-1>") << int(ImportFormat::Kind::bookmarks);
        QTest::newRow("playlist quoted") << QByteArray("\"Video Id\",\"Time Added\"\n")
                                         << int(ImportFormat::Kind::playlistCsv);
        QTest::newRow("video ideas") << QByteArray("video ideas,\n") << int(ImportFormat::Kind::text);
    }

    void sniffsByContent()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, kind);
        QCOMPARE(int(ImportFormat::sniff(head, true).kind), kind);
        // A multi-byte character cut by the end of the sniffed part is no sign of a binary file.
        QVERIFY(!ImportFormat::sniff(head + "\xC3", false).binary);
    }

    // An import of links in two files into a library that holds one of them: each video once,
    // one store save per batch, one sync asked for at the end.
    void importCountsBatchesAndDuplicates()
    {
        // No cycle of its own between the batches: only the import saves the store.
        test::TestLibrary library(QUrl(u"http://127.0.0.1:9/api"_qs), std::chrono::hours(1));
        LocalEdits &edits = library.session->engine().edits();
        VideoStore &store = library.session->store();
        edits.add(u"https://youtu.be/v0000000000"_qs);

        constexpr int kLinks = LinkImport::kBatch * 2 + 10;
        QByteArray first = "Video ID,Time\n";
        for (int i = 0; i < kLinks; ++i)
            first.append("v" + QByteArray::number(i).rightJustified(10, '0') + ",1\n");
        first.append("x-refusedID,1\n");
        const QString one = write(u"playlist.csv"_qs, first);
        const QString two = write(u"notes.txt"_qs, "again https://youtu.be/v0000000001\n");
        const QString three = write(u"picture"_qs, QByteArray("\x89PNG\r\n\x1a\n\0\0", 10));

        QSignalSpy saves(&store, &VideoStore::saved);
        QSignalSpy syncs(&edits, &LocalEdits::changed);
        QSignalSpy answers(&edits, &LocalEdits::addAnswered);
        LinkImport import(edits, {one, two, three});
        QSignalSpy finished(&import, &LinkImport::finished);
        QSignalSpy progress(&import, &LinkImport::progress);
        import.start();
        QVERIFY(finished.wait(20000));

        const auto summary = finished.constFirst().constFirst().value<ImportSummary>();
        QCOMPARE(summary.added, kLinks - 1);
        QCOMPARE(summary.addedIDs.size(), kLinks - 1);
        QCOMPARE(summary.alreadyThere, 2);
        QCOMPARE(summary.refused.size(), 1);
        QCOMPARE(summary.refused.constFirst().file, one);
        QCOMPARE(summary.refused.constFirst().line, kLinks + 2);
        QCOMPARE(summary.unreadable.size(), 1);
        QCOMPARE(summary.unreadable.constFirst().file, three);
        QVERIFY(!summary.allFilesRead());
        QCOMPARE(store.all().size(), kLinks);
        QVERIFY(!store.hasUnsavedChanges());
        // Three batches of the playlist (the last with the refused row), the note's, the end.
        QCOMPARE(saves.size(), 3);
        QCOMPARE(syncs.size(), 1);
        QCOMPARE(answers.size(), 0);
        QVERIFY(progress.size() >= 3);
        QCOMPARE(progress.constLast().at(2).toInt(), kLinks + 2);
    }

    // A file of endless bad rows keeps the first refusals to name them, and only counts the rest.
    void refusalsAreBounded()
    {
        ImportSummary summary;
        for (int i = 0; i < ImportSummary::kKeptRefusals + 5; ++i)
            summary.refuse(ImportProblem{u"bad.csv"_qs, i + 2, u"?"_qs, u"not an ID"_qs});
        QCOMPARE(summary.refused.size(), ImportSummary::kKeptRefusals);
        QCOMPARE(summary.refused.constLast().line, ImportSummary::kKeptRefusals + 1);
        QCOMPARE(summary.text(), u"1,005 not added."_qs);
    }

    void cancelledImportKeepsWhatItAdded()
    {
        // No cycle of its own between the batches: only the import saves the store.
        test::TestLibrary library(QUrl(u"http://127.0.0.1:9/api"_qs), std::chrono::hours(1));
        LocalEdits &edits = library.session->engine().edits();
        QByteArray lines;
        for (int i = 0; i < LinkImport::kBatch * LinkImport::kBatchesAhead * 4; ++i)
            lines.append("https://youtu.be/c" + QByteArray::number(i).rightJustified(10, '0') + '\n');
        LinkImport import(edits, {write(u"many"_qs, lines)});
        QSignalSpy finished(&import, &LinkImport::finished);
        connect(&import, &LinkImport::progress, &import, &LinkImport::cancel);
        import.start();
        QVERIFY(finished.wait(20000));
        const auto summary = finished.constFirst().constFirst().value<ImportSummary>();
        QCOMPARE(summary.added, LinkImport::kBatch);
        QCOMPARE(library.session->store().all().size(), LinkImport::kBatch);
        QVERIFY(!import.isRunning());
    }
};

QTEST_GUILESS_MAIN(ImportTest)
#include "ImportTest.moc"
