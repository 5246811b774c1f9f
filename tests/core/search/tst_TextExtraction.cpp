#include "core/platform/FileName.h"
#include "core/search/ExtractionClient.h"
#include "core/search/ReadOnlyFile.h"
#include "core/search/TextExtraction.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

class TestTextExtraction : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;

    static bool writeRaw(const QByteArray &path, const QByteArray &bytes)
    {
        FILE *fp = ::fopen(path.constData(), "w");
        if (!fp)
            return false;
        ::fwrite(bytes.constData(), 1, bytes.size(), fp);
        return ::fclose(fp) == 0;
    }

    QString write(const QString &name, const QByteArray &bytes)
    {
        return testsupport::writeFile(m_dir.path(), name, bytes);
    }

private slots:
    void initTestCase()
    {
        testsupport::useTemporaryCacheHome();
        QVERIFY(m_dir.isValid());
        // Every file that reaches the server path comes here and yields "from server".
        m_server.setAnswer("/tika", HttpAnswer::text("from server"));
        SetExtractionServerEndpoint(m_server.baseUrl());
    }
    void init() { m_server.clearRequests(); }
    void cleanupTestCase() { SetExtractionServerEndpoint(QString()); }

    void fileExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ext");
        QTest::newRow("plain") << "/a/b/notes.txt"
                               << ".txt";
        QTest::newRow("double") << "/a/notes.txt.bak"
                                << ".bak";
        QTest::newRow("none") << "/a/README"
                              << "";
        QTest::newRow("dot in folder") << "/a.b/README"
                                       << "";
        QTest::newRow("hidden") << "/a/.bashrc"
                                << ".bashrc";
    }
    void fileExtension()
    {
        QFETCH(QString, name);
        QFETCH(QString, ext);
        QCOMPARE(FileExtension(name), ext);
    }

    void textExtensionsIgnoreCase()
    {
        QVERIFY(IsTextExtension(u".TXT"));
        QVERIFY(IsTextExtension(u".Json"));
        QVERIFY(IsTextExtension(u".mk"));
        QVERIFY(!IsTextExtension(u""));
        QVERIFY(!IsTextExtension(u".bak"));
        QVERIFY(!IsTextExtension(u"txt"));
        // Beyond ASCII the case is folded per code point: KELVIN SIGN lower-cases to "k".
        QVERIFY(IsTextExtension(u".m\u212A"));
        QVERIFY(!IsTextExtension(u".t\u00E4t"));
        QVERIFY(!IsTextExtension(u".averylongextensionname"));
    }

    void looksLikeTextThreshold_data()
    {
        QTest::addColumn<int>("controls");
        QTest::addColumn<bool>("text");
        QTest::newRow("2457 of 8192") << 2457 << true;
        QTest::newRow("2458 of 8192") << 2458 << false;
    }
    void looksLikeTextThreshold()
    {
        QFETCH(int, controls);
        QFETCH(bool, text);
        QByteArray bytes(8192, 'a');
        for (int i = 0; i < controls; ++i)
            bytes[i * 3 % 8192] = '\x01';
        bytes[1] = '\t';
        bytes[2] = '\n';
        bytes[4] = '\r';
        QCOMPARE(bytes.count('\x01'), controls);
        QCOMPARE(LooksLikeText(bytes.constData(), bytes.size()), text);
        // The same probe at the start of a larger file decides for the whole file.
        const QString path =
            write(QStringLiteral("probe%1.log").arg(controls), bytes + QByteArray(20000, 'z'));
        QString out;
        QCOMPARE(ExtractText(path, 0, out), text);
    }

    void looksLikeTextEdges()
    {
        QVERIFY(!LooksLikeText("abc", 0));
        QVERIFY(!LooksLikeText("a\0c", 3));
        QVERIFY(LooksLikeText("a\tb\r\n", 5));
        QByteArray longer(100, 'a');
        longer[50] = '\0';
        QVERIFY(!LooksLikeText(longer.constData(), longer.size()));
        // High bytes are no control characters.
        const QByteArray high(100, '\xC3');
        QVERIFY(LooksLikeText(high.constData(), high.size()));
        QByteArray controls(100, '\x1F');
        controls.replace(0, 71, QByteArray(71, '\x7F'));
        QVERIFY(LooksLikeText(controls.constData(), controls.size()));
        controls[0] = '\x1B';
        QVERIFY(!LooksLikeText(controls.constData(), controls.size()));
    }

    // The vector loops (32 and 16 bytes) and the byte loop after them against a plain count.
    void looksLikeTextAgreesWithReference()
    {
        QRandomGenerator rng(3);
        const char alphabet[] = {'a', '\0', '\x01', '\t', '\n', '\r', '\x1F', ' ', '\x80', '\xFF'};
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes(rng.bounded(300), 'a');
            const int rare = rng.bounded(1, 12); // how many kinds of byte this round mixes in
            for (char &c : bytes)
                if (rng.bounded(rare) == 0)
                    c = alphabet[rng.bounded(int(sizeof alphabet))];
            qint64 control = 0;
            bool zero = false;
            for (const char c : bytes) {
                const auto b = static_cast<unsigned char>(c);
                zero = zero || b == 0;
                control += b < 32 && b != 9 && b != 10 && b != 13;
            }
            const bool expected = !bytes.isEmpty() && !zero && control * 100 / bytes.size() < 30;
            QVERIFY2(LooksLikeText(bytes.constData(), bytes.size()) == expected,
                     bytes.toHex().constData());
        }
    }

    void decodeUtf8Lenient_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << QByteArray("Hello") << u"Hello"_qs;
        QTest::newRow("2 and 3 bytes") << QByteArray("\xC3\xA4\xE2\x82\xAC") << u"ä€"_qs;
        QTest::newRow("emoji") << QByteArray("a\xF0\x9F\x98\x80z") << u"a?z"_qs;
        QTest::newRow("overlong nul") << QByteArray("\xC0\x80", 2) << QString(QChar(0));
        QTest::newRow("overlong letter") << QByteArray("\xC1\x81") << u"A"_qs;
        QTest::newRow("lone surrogate") << QByteArray("\xED\xA0\x80") << QString(QChar(0xD800));
        QTest::newRow("stray continuation") << QByteArray("a\x80z") << u"a?z"_qs;
        QTest::newRow("truncated at end") << QByteArray("a\xE2\x82") << u"a??"_qs;
        QTest::newRow("broken 3-byte") << QByteArray("\xE2\x82z") << u"??z"_qs;
        QTest::newRow("F8 to FF") << QByteArray("\xF8\xFF") << u"??"_qs;
        QTest::newRow("latin1") << QByteArray("caf\xE9") << u"caf?"_qs;
    }
    void decodeUtf8Lenient()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(DecodeUtf8Lenient(bytes, 0, bytes.size()), expected);
    }

    void decodeUtf8LenientRange()
    {
        const QByteArray bytes("xx\xE2\x82\xACyy");
        // The sequence is cut by the end of the range, not by the end of the array.
        QCOMPARE(DecodeUtf8Lenient(bytes, 2, 2), u"??"_qs);
        QCOMPARE(DecodeUtf8Lenient(bytes, 2, 3), u"€"_qs);
        QCOMPARE(DecodeUtf8Lenient(bytes, 0, 0), QString());
        QCOMPARE(DecodeUtf8Lenient(bytes, 0, -4), QString());
    }

    void directPathDecoding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bom stripped") << "bom.txt" << QByteArray("\xEF\xBB\xBFhi") << u"hi"_qs;
        QTest::newRow("upper-case ext") << "UP.TXT" << QByteArray("upper") << u"upper"_qs;
        QTest::newRow("mixed-case ext") << "m.Json" << QByteArray("{}") << u"{}"_qs;
        QTest::newRow("markup stays") << "p.html" << QByteArray("<b>x</b>") << u"<b>x</b>"_qs;
        // A few accented 1252 letters in ASCII text stay "?": far from half the text.
        QTest::newRow("1252 keeps ?")
            << "few.txt" << QByteArray("Der B\xE4r ist gro\xDF") << u"Der B?r ist gro?"_qs;
        // Mostly undecodable: the whole buffer is read as Windows-1252, mark included.
        QTest::newRow("ansi fallback")
            << "ansi.txt" << QByteArray("\xE4\xF6\xFC\x80x") << u"äöü€x"_qs;
        QTest::newRow("genuine ? count") << "q.txt" << QByteArray("??\xE9\xE9") << u"??éé"_qs;
        QTest::newRow("exactly half") << "h.txt" << QByteArray("ab\xE9\xE9") << u"ab??"_qs;
    }
    void directPathDecoding()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QString text;
        QCOMPARE(ExtractText(write(name, bytes), 0, text), true);
        QCOMPARE(text, expected);
        QCOMPARE(m_server.requestCount(), 0);
    }

    void directPathRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << "notes.txt" << QByteArray();
        QTest::newRow("utf-16") << "wide.txt" << QByteArray("h\0i\0", 4);
        QTest::newRow("bom only") << "bomonly.txt" << QByteArray("\xEF\xBB\xBF");
    }
    void directPathRefusals()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QString text = "stale";
        QVERIFY(!ExtractText(write(name, bytes), 0, text));
        QVERIFY(text.isEmpty());
        QCOMPARE(m_server.requestCount(), 0);
    }

    void limitCutsLargeFiles()
    {
        QByteArray bytes(5 * 1024 * 1024, 'a');
        bytes[2 * 1024 * 1024 - 1] = 'B';
        bytes[2 * 1024 * 1024] = 'C';
        const QString path = write("big.log", bytes);
        QString text;
        bool truncated = false;
        QVERIFY(ExtractText(path, 0, text, &truncated));
        QCOMPARE(text.size(), 2 * 1024 * 1024);
        QVERIFY(text.endsWith(u"aB"));
        QVERIFY(truncated);
        QVERIFY(ExtractText(path, 10, text, &truncated));
        QCOMPARE(text, u"aaaaaaaaaa"_qs);
        QVERIFY(truncated);
        // Exactly at the limit nothing is left out.
        QVERIFY(ExtractText(write("exact.log", QByteArray(10, 'x')), 10, text, &truncated));
        QCOMPARE(text.size(), 10);
        QVERIFY(!truncated);
    }

    void otherExtensionsGoToTheServer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("no extension") << "README";
        QTest::newRow("txt.bak") << "notes.txt.bak";
        QTest::newRow("pdf") << "doc.pdf";
    }
    void otherExtensionsGoToTheServer()
    {
        QFETCH(QString, name);
        QString text;
        QVERIFY(ExtractText(write(name, "%PDF-1.7 raw bytes"), 0, text));
        QCOMPARE(text, u"from server"_qs);
        const auto requests = m_server.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].body, QByteArray("%PDF-1.7 raw bytes"));
    }

    // None of these may block, crash or reach the server.
    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("directory") << "directory";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("dangling link") << "link";
        QTest::newRow("fifo, server path") << "fifo-doc";
        QTest::newRow("name not utf-8") << "badname";
    }
    void unreadableFiles()
    {
        QFETCH(QString, kind);
        const QString base = m_dir.filePath(kind);
        QDir().mkpath(base);
        QString path = base + "/x.txt";
        if (kind == "directory") {
            QDir().mkpath(path);
        } else if (kind == "fifo" || kind == "fifo-doc") {
            if (kind == "fifo-doc")
                path = base + "/x.pdf";
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "link") {
            QVERIFY(QFile::link(base + "/gone.txt", path));
        } else if (kind == "badname") {
            // Decoded lossily, the name no longer names the file.
            const QByteArray raw = EncodeFileName(base) + "/caf\xE9.txt";
            QVERIFY(writeRaw(raw, "content"));
            path = QString::fromUtf8(raw);
        }
        QElapsedTimer timer;
        timer.start();
        QString text;
        QVERIFY(!ExtractText(path, 0, text));
        QVERIFY(text.isEmpty());
        QCOMPARE(m_server.requestCount(), 0);

        QString error;
        ReadOnlyFile file = OpenFileForReading(path, error);
        QVERIFY(!file.isOpen());
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY(timer.elapsed() < 20000);
    }

    // Names that are not valid UTF-8 reach the file through the file-name codec.
    void namesNotValidUtf8()
    {
        const QByteArray raw = EncodeFileName(m_dir.path()) + "/na\xEFve\xFF.txt";
        QVERIFY(writeRaw(raw, "caf\xC3\xA9"));
        QString text;
        QVERIFY(ExtractText(DecodeFileName(raw), 0, text));
        QCOMPARE(text, u"café"_qs);
        const QByteArray doc = EncodeFileName(m_dir.path()) + "/\xFE.pdf";
        QVERIFY(writeRaw(doc, "%PDF-1.7"));
        QVERIFY(ExtractText(DecodeFileName(doc), 0, text));
        QCOMPARE(text, u"from server"_qs);
    }

    void openFileForReadingShares()
    {
        const QString path = write("shared.txt", "0123456789");
        QString error = "stale";
        ReadOnlyFile file = OpenFileForReading(path, error);
        QVERIFY(file.isOpen());
        QVERIFY(error.isEmpty());
        QCOMPARE(file.size(), 10);
        // Another writer is not locked out meanwhile.
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::Append));
        QCOMPARE(writer.write("ab"), 2);
        writer.close();
        char buffer[32];
        QCOMPARE(file.read(buffer, sizeof buffer), 12);
    }

    void ansiRoundTrip()
    {
        QCOMPARE(EncodeAnsi(u"Ärger €"), QByteArray("\xC4rger \x80"));
        // Characters Windows-1252 lacks become "?".
        QCOMPARE(EncodeAnsi(u"a\u4E2Db\U0001F600c"), QByteArray("a?b?c"));
        QCOMPARE(DecodeAnsi("\xC4\x80", 2), u"Ä€"_qs);
    }
};

QTEST_GUILESS_MAIN(TestTextExtraction)
#include "tst_TextExtraction.moc"
