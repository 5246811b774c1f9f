#include "core/net/CurlApi.h"
#include "core/net/HttpClient.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TextdServer.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace dv;
using testsupport::HttpAnswer;
using testsupport::LoopbackHttpServer;

namespace {

QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 12345;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

// A port on the loopback where nothing listens.
QString refusedUrl()
{
    quint16 port;
    {
        LoopbackHttpServer s;
        port = s.port();
    }
    return QStringLiteral("http://127.0.0.1:%1/tika").arg(port);
}

// A listener on the loopback whose queue is full: further connection attempts hang in the
// handshake.
class FullListener
{
public:
    FullListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(m_listener, 0);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            m_fillers.push_back(fd);
        }
        QTest::qWait(200);
    }
    ~FullListener()
    {
        for (int fd : m_fillers)
            ::close(fd);
        ::close(m_listener);
    }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::vector<int> m_fillers;
};

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    // Runs first: programs that never send a request must not pay for loading libcurl.
    void libcurlIsLoadedByTheFirstRequestOnly()
    {
        const auto curlLoaded = [] {
            void *h = dlopen("libcurl.so.4", RTLD_LAZY | RTLD_NOLOAD);
            if (h)
                dlclose(h);
            return h != nullptr;
        };
        QVERIFY(!curlLoaded());
        HttpClient client;
        QVERIFY(!curlLoaded());
        LoopbackHttpServer server;
        server.setAnswer("/x", HttpAnswer::text("x"));
        QCOMPARE(client.get(server.url("/x")).body, QByteArray("x"));
        QVERIFY(curlLoaded());
    }

    void unusableLibraryIsATransportError_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("missing") << QByteArray("libdelvora-absent.so.0")
                                 << QByteArray("libdelvora-absent.so.0");
        QTest::newRow("not libcurl") << QByteArray("libc.so.6") << QByteArray("curl_global_init");
    }
    void unusableLibraryIsATransportError()
    {
        QFETCH(QByteArray, library);
        QFETCH(QByteArray, named);
        try {
            CurlApi::Load(library.constData());
            QFAIL("loaded");
        } catch (const HttpTransportError &e) {
            QCOMPARE(e.kind(), HttpTransportError::Kind::Failure);
            QVERIFY2(QByteArray(e.what()).contains(named), e.what());
        }
    }

    void getSendsHeadersAndReturnsStatusHeadersAndBody()
    {
        LoopbackHttpServer server;
        HttpAnswer answer = HttpAnswer::text("hello");
        answer.headers.append(qMakePair(QByteArray("X-Thing"), QByteArray("42")));
        server.setAnswer("/doc", answer);

        HttpClient client;
        client.setAccept("text/plain; charset=utf-8");
        client.setUserAgent("Delvora-test");
        const HttpResponse r = client.get(server.url("/doc"));
        QCOMPARE(r.statusCode, 200);
        QCOMPARE(r.statusText, QByteArray("OK"));
        QCOMPARE(r.body, QByteArray("hello"));
        QCOMPARE(r.header("x-thing"), QByteArray("42"));
        QVERIFY(r.header("X-Missing").isNull());

        const auto requests = server.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].method, QByteArray("GET"));
        QCOMPARE(requests[0].path, QByteArray("/doc"));
        QCOMPARE(requests[0].header("Accept"), QByteArray("text/plain; charset=utf-8"));
        QCOMPARE(requests[0].header("User-Agent"), QByteArray("Delvora-test"));
    }

    void putStreamsAFileExactlyWithoutExpect()
    {
        QTemporaryDir dir;
        const QByteArray content = patternBytes(3 * 1024 * 1024 + 17);
        const QString path = testsupport::writeFile(dir.path(), "big.bin", content);
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text("text"));

        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        HttpClient client;
        client.setContentType("application/octet-stream");
        QElapsedTimer timer;
        timer.start();
        const HttpResponse r = client.put(server.url("/tika"), fd);
        ::close(fd);
        QCOMPARE(r.body, QByteArray("text"));

        const auto requests = server.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].method, QByteArray("PUT"));
        QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/octet-stream"));
        QCOMPARE(requests[0].header("Content-Length"), QByteArray::number(content.size()));
        QVERIFY(!requests[0].hasHeader("Expect"));
        QVERIFY(requests[0].bodyComplete);
        QCOMPARE(requests[0].bodySize, content.size());
        QVERIFY(requests[0].body == content);
    }

    // A file that grows while it is sent (a log being written): exactly the length announced
    // goes out, so the server's answer is not followed by writes it will never read.
    void putOfAGrowingFileSendsTheAnnouncedLength()
    {
        QTemporaryDir dir;
        const QByteArray content = patternBytes(4 * 1024 * 1024 + 1000); // ends mid-read
        const QString path = testsupport::writeFile(dir.path(), "growing.log", content);
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text("text"));
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QFile appender(path);
        QVERIFY(appender.open(QIODevice::Append));
        int grown = 0;
        HttpClient client;
        client.setReadTimeout(10000);
        // Called all through the transfer: the file grows after its length was announced.
        client.setProgressCallback([&](qint64, qint64) {
            if (grown < 16 && appender.write(patternBytes(256 * 1024)) > 0 && appender.flush())
                ++grown;
            return true;
        });
        const HttpResponse r = client.put(server.url("/tika"), fd);
        ::close(fd);
        QCOMPARE(r.body, QByteArray("text"));
        QVERIFY(grown > 0);
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().value(0).connectionEnded, 10000);
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].header("Content-Length"), QByteArray::number(content.size()));
        QVERIFY(requests[0].bodyComplete);
        QVERIFY(requests[0].body == content);
        QCOMPARE(requests[0].bytesAfterBody, qint64(0));

        // A file that shrank below the announced length fails at once, not at the time-out.
        const int shrinking = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(shrinking >= 0);
        bool cut = false;
        client.setProgressCallback([&](qint64, qint64) {
            if (!cut)
                cut = appender.resize(1024);
            return true;
        });
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(HttpTransportError, client.put(server.url("/tika"), shrinking));
        ::close(shrinking);
        QVERIFY(cut);
        QVERIFY(timer.elapsed() < 10000);
    }

    // The body of a success handed over as it arrives; the receiver may stop it, also an
    // endless one, and the request still succeeds.
    void bodyCallbackTakesTheBodyAndMayStopIt()
    {
        LoopbackHttpServer server;
        HttpAnswer endless;
        endless.body = "start ";
        endless.contentLength = false;
        endless.endlessTail = patternBytes(65536);
        server.setAnswer("/endless", endless);
        server.setAnswer("/missing", HttpAnswer::text("nope", 404, "Not Found"));
        HttpClient client;
        client.setReadTimeout(10000);
        qint64 received = 0;
        QByteArray head;
        client.setBodyCallback([&](const char *data, qsizetype size) {
            if (head.size() < 6)
                head.append(data, std::min<qsizetype>(size, 6 - head.size()));
            received += size;
            return received < 4 * 1024 * 1024;
        });
        const HttpResponse r = client.get(server.url("/endless"));
        QCOMPARE(r.statusCode, 200);
        QVERIFY(r.body.isEmpty());
        QCOMPARE(head, QByteArray("start "));
        QVERIFY(received >= 4 * 1024 * 1024);
        // An error answer's body stays with the error, not with the receiver.
        received = 0;
        try {
            client.get(server.url("/missing"));
            QFAIL("no error");
        } catch (const HttpStatusError &e) {
            QCOMPARE(e.response().body, QByteArray("nope"));
        }
        QCOMPARE(received, qint64(0));
    }

    void putFromAPipeGoesChunked()
    {
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        QVERIFY(::write(fds[1], "streamed", 8) == 8);
        ::close(fds[1]);
        LoopbackHttpServer server;
        server.setAnswer("/up", HttpAnswer::text("ok"));
        HttpClient client;
        client.put(server.url("/up"), fds[0]);
        ::close(fds[0]);
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].header("Transfer-Encoding").contains("chunked"));
        QCOMPARE(requests[0].body, QByteArray("streamed"));
    }

    void errorStatusKeepsCodeReasonAndBody()
    {
        LoopbackHttpServer server;
        server.setAnswer("/tika", HttpAnswer::text("cannot parse", 422, "Unprocessable Entity"));
        HttpClient client;
        try {
            client.put(server.url("/tika"), QByteArray("abc"));
            QFAIL("no error");
        } catch (const HttpStatusError &e) {
            QCOMPARE(e.statusCode(), 422);
            QCOMPARE(e.statusText(), QByteArray("Unprocessable Entity"));
            QCOMPARE(e.response().body, QByteArray("cannot parse"));
        }
    }

    // A server may refuse an upload before reading it; its answer still counts.
    void earlyAnswerDuringUpload()
    {
        LoopbackHttpServer server;
        HttpAnswer refuse = HttpAnswer::text("too big", 413, "Payload Too Large");
        refuse.readBody = false;
        server.setAnswer("/tika", refuse);
        HttpClient client;
        client.setReadTimeout(10000);
        try {
            client.put(server.url("/tika"), patternBytes(8 * 1024 * 1024));
            QFAIL("no error");
        } catch (const HttpStatusError &e) {
            QCOMPARE(e.statusCode(), 413);
        }
    }

    void transportFailures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("refused") << 0;
        QTest::newRow("closed mid-body") << 1;
    }
    void transportFailures()
    {
        QFETCH(int, kind);
        LoopbackHttpServer server;
        QString url = server.url("/x");
        if (kind == 0) {
            url = refusedUrl();
        } else if (kind == 1) {
            HttpAnswer a = HttpAnswer::text(QByteArray(10000, 'a'));
            a.closeAfterBodyBytes = 100;
            server.setAnswer("/x", a);
        }
        HttpClient client;
        try {
            client.get(url);
            QFAIL("no error");
        } catch (const HttpTransportError &e) {
            // Nobody at the address is told apart from an exchange that broke off.
            QCOMPARE(e.kind(), kind == 0 ? HttpTransportError::Kind::Unreachable
                                         : HttpTransportError::Kind::Failure);
            QVERIFY(!QByteArray(e.what()).isEmpty());
        } catch (const HttpStatusError &e) {
            QFAIL(qPrintable(QStringLiteral("status error %1").arg(e.statusCode())));
        }
    }

    // The time-out bounds each wait for data, not the whole exchange.
    void readTimeoutIsPerWait()
    {
        LoopbackHttpServer server;
        HttpAnswer silent = HttpAnswer::text("late");
        silent.delayBeforeMs = 5000;
        server.setAnswer("/silent", silent);
        HttpAnswer trickle = HttpAnswer::text(QByteArray(8, 'x'));
        trickle.pieceSize = 1;
        trickle.delayBetweenPiecesMs = 150;
        server.setAnswer("/trickle", trickle);

        HttpClient client;
        client.setReadTimeout(600);
        QElapsedTimer timer;
        timer.start();
        try {
            client.get(server.url("/silent"));
            QFAIL("no time-out");
        } catch (const HttpTransportError &e) {
            QCOMPARE(e.kind(), HttpTransportError::Kind::Timeout);
            QCOMPARE(QByteArray(e.what()), QByteArray("Read timed out"));
        }
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 550 && elapsed < 4500, QByteArray::number(elapsed).constData());

        // About a second in all, each gap well inside the time-out.
        QCOMPARE(client.get(server.url("/trickle")).body, QByteArray(8, 'x'));
    }

    // While the connection is still being set up, only the connect time-out applies.
    void readTimeoutStartsWithTheConnection()
    {
        const FullListener listener;
        HttpClient client;
        client.setReadTimeout(200);
        client.setConnectTimeout(1500);
        QElapsedTimer timer;
        timer.start();
        try {
            client.get(listener.url());
            QFAIL("connected");
        } catch (const HttpTransportError &e) {
            QVERIFY2(QByteArray(e.what()) != "Read timed out", e.what());
        }
        QVERIFY(timer.elapsed() >= 1000);
    }

    // A deadline ends a request at that moment, whatever phase it is in and however data
    // flows; a request started after it fails without reaching the server.
    void deadlineBoundsTheWholeExchange_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("connecting") << "connect";
        QTest::newRow("waiting for the answer") << "answer";
        QTest::newRow("body trickling") << "trickle";
        QTest::newRow("started after it") << "after";
    }
    void deadlineBoundsTheWholeExchange()
    {
        QFETCH(QString, phase);
        const FullListener listener;
        LoopbackHttpServer server;
        HttpAnswer silent = HttpAnswer::text("late");
        silent.delayBeforeMs = 20000;
        server.setAnswer("/answer", silent);
        HttpAnswer trickle = HttpAnswer::text(QByteArray(100, 'x'));
        trickle.pieceSize = 1;
        trickle.delayBetweenPiecesMs = 100; // each gap well inside the read time-out
        server.setAnswer("/trickle", trickle);
        server.setAnswer("/after", HttpAnswer::text("fine"));

        HttpClient client;
        client.setReadTimeout(5000);
        const auto start = std::chrono::steady_clock::now();
        client.setDeadline(start + std::chrono::milliseconds(phase == "after" ? 0 : 800));
        QElapsedTimer timer;
        timer.start();
        try {
            client.get(phase == "connect" ? listener.url() : server.url('/' + phase));
            QFAIL("no time-out");
        } catch (const HttpTransportError &e) {
            QCOMPARE(e.kind(), HttpTransportError::Kind::Timeout);
        }
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed < 4000, QByteArray::number(elapsed).constData());
        if (phase == "after")
            QCOMPARE(server.requestCount(), 0);
        else
            QVERIFY2(elapsed >= 750, QByteArray::number(elapsed).constData());
    }

    void redirects()
    {
        LoopbackHttpServer server;
        server.setAnswer("/a", HttpAnswer::redirect("/b"));
        server.setAnswer("/b", HttpAnswer::redirect(server.url("/c").toUtf8(), 301));
        server.setAnswer("/c", HttpAnswer::text("final"));
        server.setAnswer("/loop", HttpAnswer::redirect("/loop"));

        HttpClient plain;
        const HttpResponse notFollowed = plain.get(server.url("/a"));
        QCOMPARE(notFollowed.statusCode, 302);
        QCOMPARE(notFollowed.header("Location"), QByteArray("/b"));

        HttpClient following;
        following.setFollowRedirects(true, 5);
        const HttpResponse r = following.get(server.url("/a"));
        QCOMPARE(r.statusCode, 200);
        QCOMPARE(r.body, QByteArray("final"));

        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        following.get(server.url("/a"), sink);
        QCOMPARE(sink.data(), QByteArray("final"));

        following.setFollowRedirects(true, 2);
        QVERIFY_THROWS_EXCEPTION(HttpTransportError, following.get(server.url("/loop")));
    }

    // Kept-alive requests of one thread share a connection. When the server closes it after
    // reading the next request, unanswered, that request goes again over a new connection,
    // its body whole and from where it started (the file is read again from its offset).
    void keptAliveConnectionIsReusedAndReplaced_data()
    {
        QTest::addColumn<bool>("fromFile");
        QTest::newRow("file body") << true;
        QTest::newRow("memory body") << false;
    }
    void keptAliveConnectionIsReusedAndReplaced()
    {
        QFETCH(bool, fromFile);
        const QByteArray content = patternBytes(300000);
        const qint64 start = fromFile ? 1000 : 0;
        QTemporaryDir dir;
        const QString path = testsupport::writeFile(dir.path(), "doc.bin", content);
        LoopbackHttpServer server;
        std::atomic<int> seen{0};
        server.setHandler([&](const testsupport::HttpRequestRecord &) {
            HttpAnswer a = HttpAnswer::text("text");
            a.keepAlive = true;
            a.closeUnanswered = ++seen == 3;
            return a;
        });
        HttpClient client;
        client.setKeepAlive(true);
        client.setReadTimeout(10000);
        for (int i = 0; i < 3; ++i) {
            if (!fromFile) {
                QCOMPARE(client.put(server.url("/tika"), content).body, QByteArray("text"));
                continue;
            }
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY(fd >= 0 && ::lseek(fd, start, SEEK_SET) == start);
            const QByteArray body = client.put(server.url("/tika"), fd).body;
            ::close(fd);
            QCOMPARE(body, QByteArray("text"));
        }
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 4);
        const int connections[] = {1, 1, 1, 2};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(requests[i].connection, connections[i]);
            QCOMPARE(requests[i].header("Content-Length"),
                     QByteArray::number(content.size() - start));
            QVERIFY(requests[i].bodyComplete);
            QVERIFY(requests[i].body == content.mid(start));
        }
    }

    // A request that failed leaves the thread's kept-alive handle fit for the next one.
    void keptAliveHandleWorksAfterAFailedRequest_data()
    {
        using Kind = HttpTransportError::Kind;
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("kind"); // of the failure; -1: an error status
        QTest::newRow("refused") << QString() << int(Kind::Unreachable);
        QTest::newRow("error status") << QStringLiteral("/missing") << -1;
        QTest::newRow("closed mid-body") << QStringLiteral("/cut") << int(Kind::Failure);
        QTest::newRow("timed out") << QStringLiteral("/silent") << int(Kind::Timeout);
        QTest::newRow("cancelled") << QStringLiteral("/slow") << int(Kind::Cancelled);
    }
    void keptAliveHandleWorksAfterAFailedRequest()
    {
        QFETCH(QString, path);
        QFETCH(int, kind);
        LoopbackHttpServer server;
        const auto kept = [](HttpAnswer a) {
            a.keepAlive = true;
            return a;
        };
        server.setAnswer("/ok", kept(HttpAnswer::text("fine")));
        server.setAnswer("/missing", kept(HttpAnswer::text("nope", 404, "Not Found")));
        HttpAnswer cut = kept(HttpAnswer::text(QByteArray(10000, 'a')));
        cut.closeAfterBodyBytes = 100;
        server.setAnswer("/cut", cut);
        HttpAnswer silent = kept(HttpAnswer::text("late"));
        silent.delayBeforeMs = 5000;
        server.setAnswer("/silent", silent);
        HttpAnswer slow = kept(HttpAnswer::text(QByteArray(8, 'x')));
        slow.pieceSize = 1;
        slow.delayBetweenPiecesMs = 100;
        server.setAnswer("/slow", slow);

        HttpClient client;
        client.setKeepAlive(true);
        client.setReadTimeout(300);
        QCOMPARE(client.put(server.url("/ok"), QByteArray("a")).body, QByteArray("fine"));
        if (path == "/slow")
            client.setProgressCallback([](qint64 received, qint64) { return received < 2; });
        const QString failing = path.isEmpty() ? refusedUrl() : server.url(path);
        try {
            client.put(failing, QByteArray("b"));
            QFAIL("no failure");
        } catch (const HttpTransportError &e) {
            QCOMPARE(int(e.kind()), kind);
        } catch (const HttpStatusError &e) {
            QCOMPARE(kind, -1);
            QCOMPARE(e.statusCode(), 404);
        }
        client.setProgressCallback({});
        QCOMPARE(client.put(server.url("/ok"), QByteArray("c")).body, QByteArray("fine"));
        QCOMPARE(server.requests().last().body, QByteArray("c"));
    }

    // Against the real delvora-textd: documents, an error answer and a cancelled request one
    // after the other over the kept-alive connection, and again after the server shut it for
    // idling past its time-out.
    void keptAliveAgainstTheTextServer()
    {
        testsupport::TextdServer textd;
        QVERIFY2(textd.start({"--connection-timeout", "1"}), qPrintable(textd.errorText()));
        HttpClient client;
        client.setKeepAlive(true);
        client.setReadTimeout(30000);
        const auto put = [&](const char *name) {
            QFile f(QStringLiteral(DELVORA_SOURCE_DIR "/tests/textd/extract/fixtures/") +
                    QLatin1String(name));
            if (!f.open(QIODevice::ReadOnly))
                qFatal("missing fixture %s", name);
            return client.put(textd.baseUrl() + "/tika", f.readAll()).body;
        };
        QVERIFY(put("sample.pdf").contains("Lighthouse inspection report"));
        QVERIFY_THROWS_EXCEPTION(HttpStatusError, put("corrupt.docx"));
        QVERIFY(put("sample.docx").contains("Quarterly report of the lighthouse keepers"));
        client.setProgressCallback([](qint64, qint64) { return false; });
        QVERIFY_THROWS_EXCEPTION(HttpTransportError, put("sample.pdf"));
        client.setProgressCallback({});
        QVERIFY(put("sample.docx").contains("Quarterly report of the lighthouse keepers"));
        QTest::qWait(2500); // the server's idle time-out passes
        QVERIFY(put("sample.pdf").contains("Lighthouse inspection report"));
    }

    void chunkedDownloadToFileWithProgressAndCancel()
    {
        LoopbackHttpServer server;
        const QByteArray payload = patternBytes(300000);
        HttpAnswer chunked;
        chunked.body = payload;
        chunked.chunked = true;
        chunked.pieceSize = 50000;
        server.setAnswer("/chunked", chunked);
        HttpAnswer sized = chunked;
        sized.chunked = false;
        sized.delayBetweenPiecesMs = 100;
        server.setAnswer("/sized", sized);
        server.setAnswer("/missing", HttpAnswer::text("nope", 404, "Not Found"));

        QTemporaryDir dir;
        QFile file(dir.filePath("download.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        qint64 lastReceived = 0, lastTotal = 0;
        HttpClient client;
        client.setProgressCallback([&](qint64 received, qint64 total) {
            lastReceived = received;
            lastTotal = total;
            return true;
        });
        client.get(server.url("/chunked"), file);
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == payload);
        QCOMPARE(lastTotal, qint64(-1));
        QCOMPARE(lastReceived, payload.size());

        // An error answer never lands in the download.
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        QVERIFY_THROWS_EXCEPTION(HttpStatusError, client.get(server.url("/missing"), sink));
        QVERIFY(sink.data().isEmpty());

        client.setProgressCallback([&](qint64 received, qint64 total) {
            lastTotal = total;
            return received < 100000;
        });
        try {
            client.get(server.url("/sized"));
            QFAIL("not cancelled");
        } catch (const HttpTransportError &e) {
            QCOMPARE(e.kind(), HttpTransportError::Kind::Cancelled);
        }
        QCOMPARE(lastTotal, payload.size());
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_HttpClient.moc"
