#include "core/search/ExtractionClient.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

QString refusedEndpoint()
{
    LoopbackHttpServer s;
    const QString url = s.baseUrl();
    s.stop();
    return url;
}

} // namespace

class TestExtractionClient : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase() { testsupport::useTemporaryCacheHome(); }

    void defaultEndpoint()
    {
        QCOMPARE(ExtractionServerEndpoint(), u"http://localhost:9998"_qs);
        SetExtractionServerEndpoint(u"http://127.0.0.1:1"_qs);
        QCOMPARE(ExtractionServerEndpoint(), u"http://127.0.0.1:1"_qs);
        SetExtractionServerEndpoint(QString());
        QCOMPARE(ExtractionServerEndpoint(), DefaultExtractionServerEndpoint());
        // The environment may name another server (delvora-find's tests use that).
        qputenv("DELVORA_EXTRACTION_URL", "http://127.0.0.1:2");
        QCOMPARE(ExtractionServerEndpoint(), u"http://127.0.0.1:2"_qs);
        qunsetenv("DELVORA_EXTRACTION_URL");
        QCOMPARE(ExtractionServerEndpoint(), u"http://localhost:9998"_qs);
    }

    // However the answer is cut into network reads, the text is the one-piece decoding.
    void textIsDecodedWholeAcrossReads_data()
    {
        QTest::addColumn<int>("pieceSize");
        for (int size : {1, 2, 3, 5})
            QTest::addRow("pieces of %d", size) << size;
    }
    void textIsDecodedWholeAcrossReads()
    {
        QFETCH(int, pieceSize);
        const QByteArray body = "Gr\xC3\xBC\xC3\x9F"
                                "e \xE2\x82\xAC \xF0\x9F\x98\x80 bad \xFF\xC3 "
                                "end \xE2\x82";
        const QString path = testsupport::writeFile(m_dir.path(), "pieces.pdf", "bytes");
        LoopbackHttpServer server;
        HttpAnswer answer = HttpAnswer::text(body);
        answer.chunked = true;
        answer.pieceSize = pieceSize;
        server.setAnswer("/tika", answer);
        QString text, error;
        QVERIFY(ExtractTextViaServer(path, text, error, server.baseUrl()));
        QCOMPARE(text, QString::fromUtf8(body));
    }

    // A server that never stops sending: the first part of its text is kept, no more.
    void endlessTextIsCutAtTheBound()
    {
        const QString path = testsupport::writeFile(m_dir.path(), "endless.pdf", "bytes");
        LoopbackHttpServer server;
        HttpAnswer endless;
        endless.body = "first words ";
        endless.chunked = true;
        endless.endlessTail = QByteArray(65536, 'w');
        server.setAnswer("/tika", endless);
        QString text, error;
        bool truncated = false;
        QVERIFY(ExtractTextViaServer(path, text, error, server.baseUrl(), 10000, &truncated));
        QVERIFY(truncated);
        QCOMPARE(text.size(), kMaxExtractedTextLength);
        QVERIFY(text.startsWith(u"first words www"));
        // A whole text is not marked.
        server.setAnswer("/tika", HttpAnswer::text("short"));
        QVERIFY(ExtractTextViaServer(path, text, error, server.baseUrl(), 10000, &truncated));
        QVERIFY(!truncated);
        QCOMPARE(text, u"short"_qs);
    }

    // The cancel flag ends an exchange with a server that never answers at once, long before
    // the read time-out.
    void cancelEndsTheExchange()
    {
        const QString path = testsupport::writeFile(m_dir.path(), "held.pdf", "bytes");
        LoopbackHttpServer server;
        HttpAnswer never = HttpAnswer::text("late");
        never.delayBeforeMs = 600000;
        server.setAnswer("/tika", never);
        std::thread canceller([&] {
            for (int i = 0; i < 1000 && server.requestCount() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ContentTestCancelled = true;
        });
        QElapsedTimer timer;
        timer.start();
        QString text, error;
        const bool ok = ExtractTextViaServer(path, text, error, server.baseUrl(), 60000);
        canceller.join();
        ContentTestCancelled = false;
        QVERIFY(!ok);
        QCOMPARE(error, u"Error: Cancelled"_qs);
        QCOMPARE(server.requestCount(), 1);
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    }

    void sendsTheFileAndDecodesTheAnswer()
    {
        QByteArray content(3 * 1024 * 1024 + 5, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>((i * 7919) >> 3);
        const QString path = testsupport::writeFile(m_dir.path(), "doc.pdf", content);
        LoopbackHttpServer server;
        HttpAnswer answer = HttpAnswer::text("Gr\xC3\xBC\xC3\x9F"
                                             "e \xE2\x82\xAC");
        answer.headers = {
            qMakePair(QByteArray("Content-Type"), QByteArray("text/plain; charset=iso-8859-1"))};
        server.setAnswer("/tika", answer);

        QString text, error = "stale";
        QVERIFY(ExtractTextViaServer(path, text, error, server.baseUrl() + "/"));
        // UTF-8 whatever the answer declares.
        QCOMPARE(text, u"Grüße €"_qs);
        QVERIFY(error.isEmpty());

        const auto requests = server.requests();
        QCOMPARE(requests.size(), 1);
        const auto &r = requests[0];
        QCOMPARE(r.method, QByteArray("PUT"));
        QCOMPARE(r.path, QByteArray("/tika"));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/octet-stream"));
        QCOMPARE(r.header("Accept"), QByteArray("text/plain; charset=utf-8"));
        QVERIFY(!r.hasHeader("Expect"));
        QVERIFY(r.bodyComplete);
        QVERIFY(r.body == content);
    }

    void failures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("422") << 422 << QByteArray("Unprocessable Entity") << QByteArray("x")
                             << u"HTTP error (422): Unprocessable Entity"_qs;
        QTest::newRow("500") << 500 << QByteArray("Internal Server Error") << QByteArray()
                             << u"HTTP error (500): Internal Server Error"_qs;
        QTest::newRow("302") << 302 << QByteArray("Found") << QByteArray("moved")
                             << u"HTTP error (302): Found"_qs;
        // A document without text: no success, but nothing went wrong either.
        QTest::newRow("200 empty") << 200 << QByteArray("OK") << QByteArray() << QString();
    }
    void failures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const QString path = testsupport::writeFile(m_dir.path(), "f.doc", "bytes");
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text(body, status, reason));
        QString text = "stale", errorText = "stale";
        QVERIFY(!ExtractTextViaServer(path, text, errorText, server.baseUrl()));
        QVERIFY(text.isEmpty());
        QCOMPARE(errorText, error);
    }

    // Nobody listening: every file gets the reason, the later ones on this thread without a
    // new attempt; a server that comes up there is asked at once by the next search's threads.
    void noServerListening()
    {
        const QString path = testsupport::writeFile(m_dir.path(), "f.odt", "bytes");
        const QString endpoint = refusedEndpoint();
        QString firstError;
        for (int i = 0; i < 3; ++i) {
            QString text, error;
            QVERIFY(!ExtractTextViaServer(path, text, error, endpoint));
            QVERIFY2(error.startsWith(u"Error: "), qPrintable(error));
            QVERIFY(error.size() > 7);
            QVERIFY(text.isEmpty());
            if (i == 0)
                firstError = error;
            QCOMPARE(error, firstError);
        }
        const quint16 port = quint16(endpoint.section(QLatin1Char(':'), -1).toUInt());
        LoopbackHttpServer server(port);
        server.setAnswer("/tika", HttpAnswer::text("words"));
        bool ok = false;
        QString text, error;
        std::thread next([&] { ok = ExtractTextViaServer(path, text, error, endpoint); });
        next.join();
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(text, u"words"_qs);
    }

    void serverStopsSending()
    {
        const QString path = testsupport::writeFile(m_dir.path(), "slow.doc", "bytes");
        LoopbackHttpServer server;
        HttpAnswer stalled = HttpAnswer::text(QByteArray(1000, 'a'));
        stalled.pieceSize = 100;
        stalled.delayBetweenPiecesMs = 10000;
        server.setAnswer("/tika", stalled);
        QElapsedTimer timer;
        timer.start();
        QString text, error;
        QVERIFY(!ExtractTextViaServer(path, text, error, server.baseUrl(), 500));
        QCOMPARE(error, u"Error: Read timed out"_qs);
        QVERIFY(text.isEmpty());
        QVERIFY(timer.elapsed() < 9000);
    }

    void unopenableFileSendsNothing()
    {
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text("text"));
        QString text, error;
        // A folder stands for a file that cannot be opened (tests run as root).
        QVERIFY(!ExtractTextViaServer(m_dir.path(), text, error, server.baseUrl()));
        QVERIFY(error.contains(m_dir.path()));
        QVERIFY(!error.startsWith(u"Error: "));
        QVERIFY(
            !ExtractTextViaServer(m_dir.filePath("missing.pdf"), text, error, server.baseUrl()));
        QVERIFY(!error.isEmpty());
        QCOMPARE(server.requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestExtractionClient)
#include "tst_ExtractionClient.moc"
