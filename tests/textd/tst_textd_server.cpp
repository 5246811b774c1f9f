#include "tests/support/TextdServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <thread>
#include <vector>

using testsupport::TextdServer;

namespace {

struct Reply
{
    int status = 0; // 0: the connection closed without an answer
    QByteArray statusLine;
    QByteArray headers; // raw, lower-cased
    QByteArray body;
};

Reply parseReply(const QByteArray &raw)
{
    Reply r;
    QByteArray rest = raw;
    // Skip interim "100 Continue" answers.
    while (rest.startsWith("HTTP/1.1 100")) {
        const qsizetype end = rest.indexOf("\r\n\r\n");
        if (end < 0)
            return r;
        rest = rest.mid(end + 4);
    }
    const qsizetype headEnd = rest.indexOf("\r\n\r\n");
    if (!rest.startsWith("HTTP/") || headEnd < 0)
        return r;
    const QByteArray head = rest.left(headEnd);
    r.statusLine = head.left(head.indexOf("\r\n"));
    r.status = r.statusLine.split(' ').value(1).toInt();
    r.headers = head.mid(r.statusLine.size()).toLower();
    r.body = rest.mid(headEnd + 4);
    return r;
}

// Sends Raw as it is and reads until the server closes the connection.
Reply exchange(quint16 port, const QByteArray &raw, int timeoutMs = 60000)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs))
        return {};
    socket.write(raw);
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(200);
        received += socket.readAll();
    }
    received += socket.readAll();
    return parseReply(received);
}

QByteArray put(const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "PUT /tika HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
           "Content-Type: application/octet-stream\r\nAccept: text/plain; charset=utf-8\r\n" +
           extraHeaders + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray get(const QByteArray &path)
{
    return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
}

QProcessEnvironment hookEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DELVORA_TEXTD_TEST_HOOKS"), QStringLiteral("1"));
    return env;
}

// Runs the server binary to its end (for start-up failures); returns exit code and stderr.
std::pair<int, QByteArray> runToEnd(const QStringList &arguments, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(TextdServer::executable(), arguments);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return {-1, "did not end"};
    }
    if (out)
        *out = p.readAllStandardOutput();
    return {p.exitCode(), p.readAllStandardError()};
}

} // namespace

class TextdServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void greetingAndVersion();
    void documents_data();
    void documents();
    void largeUploadGoesThroughWhole();
    void hintsReachTheParser_data();
    void hintsReachTheParser();
    void failingParseCostsOneRequest_data();
    void failingParseCostsOneRequest();
    void idleWorkerKilledFromOutside();
    void concurrentRequests();
    void malformedHttp_data();
    void malformedHttp();
    void droppedUploadsLeaveNoStuckWorker();
    void startUpFailures_data();
    void startUpFailures();
    void help();

private:
    TextdServer m_server; // plain server with the real extractors
};

void TextdServerTest::initTestCase()
{
    QVERIFY2(m_server.start({QStringLiteral("--workers"), QStringLiteral("2")}),
             qPrintable(m_server.errorText()));
}

void TextdServerTest::greetingAndVersion()
{
    const Reply greeting = exchange(m_server.port(), get("/tika"));
    QCOMPARE(greeting.status, 200);
    QCOMPARE(greeting.statusLine, QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(greeting.headers.contains("content-type: text/plain; charset=utf-8"));
    QVERIFY(greeting.body.contains("Delvora"));
    QVERIFY(greeting.body.contains("PUT"));
    QCOMPARE(greeting.body.count('\n'), 1);

    const Reply version = exchange(m_server.port(), get("/version"));
    QCOMPARE(version.status, 200);
    QVERIFY(version.body.startsWith("Delvora delvora-textd "));

    QCOMPARE(exchange(m_server.port(), get("/nothing-here")).status, 404);
    QCOMPARE(
        exchange(m_server.port(), "DELETE /tika HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            .status,
        405);
}

void TextdServerTest::documents_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("textPart"); // empty: the body must be empty

    QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    png += QByteArray(200, '\x07');
    QByteArray unknown;
    for (int i = 0; i < 512; ++i)
        unknown += char((i * 151 + 7) % 256);

    QTest::newRow("plain text") << QByteArray("Quarterly report\nrevenue grew by 12%\n") << 200
                                << QByteArray("OK") << QByteArray("revenue grew by 12%");
    QTest::newRow("UTF-8 text") << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                              "e aus M\xc3\xbcnchen\n")
                                << 200 << QByteArray("OK")
                                << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                              "e");
    QTest::newRow("image") << png << 200 << QByteArray("OK") << QByteArray();
    QTest::newRow("unknown binary") << unknown << 200 << QByteArray("OK") << QByteArray();
    QTest::newRow("empty body") << QByteArray() << 422 << QByteArray("Unprocessable")
                                << QByteArray();
    QTest::newRow("truncated PDF") << QByteArray("%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pag") << 422
                                   << QByteArray("Unprocessable") << QByteArray();
}

void TextdServerTest::documents()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, textPart);

    const Reply r = exchange(m_server.port(), put(body));
    QCOMPARE(r.status, status);
    QVERIFY2(r.statusLine.contains(reason), r.statusLine.constData());
    if (status == 200) {
        QVERIFY(r.headers.contains("content-type: text/plain; charset=utf-8"));
        if (textPart.isEmpty())
            QCOMPARE(r.body, QByteArray());
        else
            QVERIFY2(r.body.contains(textPart), r.body.constData());
    }
}

void TextdServerTest::largeUploadGoesThroughWhole()
{
    // Larger than what the server keeps in memory: the body goes through a temporary file.
    QByteArray text;
    for (int i = 0; text.size() < 12 * 1024 * 1024; ++i)
        text += "line " + QByteArray::number(i) + " of a long log\n";
    text += "THE-LAST-LINE\n";
    const Reply r = exchange(m_server.port(), put(text));
    QCOMPARE(r.status, 200);
    QVERIFY(r.body.contains("line 0 of a long log"));
    QVERIFY(r.body.contains("THE-LAST-LINE"));
}

void TextdServerTest::hintsReachTheParser_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("octet-stream is no hint") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("type with parameter")
        << QByteArray("Content-Type: Application/PDF; charset=binary\r\n")
        << QByteArray("application/pdf") << QByteArray();
    QTest::newRow("wildcard") << QByteArray("Content-Type: */*\r\n") << QByteArray()
                              << QByteArray();
    QTest::newRow("xml") << QByteArray("Content-Type: application/xml\r\n") << QByteArray()
                         << QByteArray();
    QTest::newRow("File-Name") << QByteArray("File-Name: report.docx\r\n") << QByteArray()
                               << QByteArray("report.docx");
    QTest::newRow("quoted disposition with path")
        << QByteArray("Content-Disposition: attachment; filename=\"C:\\\\tmp\\\\my notes.odt\"\r\n")
        << QByteArray() << QByteArray("my notes.odt");
    QTest::newRow("extended disposition")
        << QByteArray("Content-Disposition: attachment; filename=a.txt; "
                      "filename*=UTF-8''%C3%BCbersicht.pdf\r\n")
        << QByteArray()
        << QByteArray("\xc3\xbc"
                      "bersicht.pdf");
}

void TextdServerTest::hintsReachTheParser()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, name);

    static TextdServer hooked;
    if (hooked.port() == 0)
        QVERIFY2(
            hooked.start({QStringLiteral("--workers"), QStringLiteral("1")}, hookEnvironment()),
            qPrintable(hooked.errorText()));
    // put() sends application/octet-stream; a Content-Type in Headers comes later and wins.
    QByteArray request = put("DELVORA-TEST:hints", headers);
    if (headers.startsWith("Content-Type"))
        request.replace("Content-Type: application/octet-stream\r\n", "");
    const Reply r = exchange(hooked.port(), request);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body, "type=" + type + "\nname=" + name + "\n");
}

void TextdServerTest::failingParseCostsOneRequest_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("wallSeconds");
    QTest::addColumn<int>("status");

    // The processor-time case gets a wide wall time: on a busy machine one second of processor
    // time can take many seconds to use up.
    QTest::newRow("crash") << QByteArray("crash") << QStringLiteral("60") << 422;
    QTest::newRow("memory without bound") << QByteArray("allocate") << QStringLiteral("60") << 422;
    QTest::newRow("processor time") << QByteArray("spin") << QStringLiteral("120") << 422;
    QTest::newRow("hang past the wall time") << QByteArray("hang") << QStringLiteral("3") << 503;
}

void TextdServerTest::failingParseCostsOneRequest()
{
    QFETCH(QByteArray, kind);
    QFETCH(QString, wallSeconds);
    QFETCH(int, status);

    // One worker only: the next request must be served by its replacement.
    TextdServer server;
    QVERIFY2(
        server.start({QStringLiteral("--workers"), QStringLiteral("1"), QStringLiteral("--timeout"),
                      wallSeconds, QStringLiteral("--cpu-limit"), QStringLiteral("1"),
                      QStringLiteral("--memory-limit"), QStringLiteral("256")},
                     hookEnvironment()),
        qPrintable(server.errorText()));

    const Reply failed = exchange(server.port(), put("DELVORA-TEST:" + kind), 180000);
    QCOMPARE(failed.status, status);
    for (int i = 0; i < 2; ++i) {
        const Reply next = exchange(server.port(), put("still serving " + QByteArray::number(i)));
        QCOMPARE(next.status, 200);
        QCOMPARE(next.body.trimmed(), "still serving " + QByteArray::number(i));
    }
    QCOMPARE(server.process().state(), QProcess::Running);
    // The replacement was ready and alive: no job had to be moved off a dead child.
    const QByteArray log = server.process().readAllStandardError();
    QVERIFY2(!log.contains("was gone"), log.constData());
}

void TextdServerTest::idleWorkerKilledFromOutside()
{
    // As the kernel's out-of-memory killer might: the request goes to a replacement.
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1")}),
             qPrintable(server.errorText()));
    QCOMPARE(exchange(server.port(), put("warm up")).status, 200);
    QList<qint64> children;
    const QString task = QStringLiteral("/proc/%1/task").arg(server.process().processId());
    for (const QString &tid : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(task + QLatin1Char('/') + tid + QStringLiteral("/children"));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &pid : f.readAll().simplified().split(' '))
                if (!pid.isEmpty())
                    children << pid.toLongLong();
    }
    QCOMPARE(children.size(), qsizetype(1));
    QCOMPARE(::kill(pid_t(children.first()), SIGKILL), 0);
    // Dead (a zombie until the server reaps it), so its end of the socket is closed.
    const auto isZombie = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(children.first()));
        return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
    };
    QTRY_VERIFY_WITH_TIMEOUT(isZombie(), 30000);

    const Reply r = exchange(server.port(), put("after the kill"));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body.trimmed(), QByteArray("after the kill"));
}

void TextdServerTest::concurrentRequests()
{
    constexpr int Clients = 8;
    std::vector<Reply> replies(Clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        threads.emplace_back([&, i] {
            QByteArray doc;
            for (int line = 0; line < 2000; ++line)
                doc +=
                    "client " + QByteArray::number(i) + " line " + QByteArray::number(line) + "\n";
            replies[size_t(i)] = exchange(m_server.port(), put(doc));
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < Clients; ++i) {
        const Reply &r = replies[size_t(i)];
        QCOMPARE(r.status, 200);
        const QByteArray mine = "client " + QByteArray::number(i) + " ";
        QVERIFY(r.body.contains(mine + "line 1999"));
        QCOMPARE(r.body.count(mine), qsizetype(2000));
    }
}

void TextdServerTest::malformedHttp_data()
{
    QTest::addColumn<QByteArray>("raw");

    QTest::newRow("garbage request line") << QByteArray("HELLO THERE\r\n\r\n");
    QTest::newRow("no path") << QByteArray("PUT\r\nHost: x\r\n\r\n");
    QTest::newRow("bad Content-Length")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nContent-Length: lots\r\n\r\nabc");
    QTest::newRow("negative Content-Length")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\nabc");
    QTest::newRow("header without colon")
        << QByteArray("GET /tika HTTP/1.1\r\nHost: x\r\nthis is not a header\r\n\r\n");
    QTest::newRow("bad chunk size")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "zz\r\nabc\r\n0\r\n\r\n");
    // Claims more than it sends, then goes quiet: the connection time-out ends it.
    QTest::newRow("lying Content-Length")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\nshort");
    QTest::newRow("headers never finished") << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\n");
}

void TextdServerTest::malformedHttp()
{
    QFETCH(QByteArray, raw);

    static TextdServer quick;
    if (quick.port() == 0)
        QVERIFY2(quick.start({QStringLiteral("--workers"), QStringLiteral("1"),
                              QStringLiteral("--connection-timeout"), QStringLiteral("2")}),
                 qPrintable(quick.errorText()));
    const Reply r = exchange(quick.port(), raw, 60000);
    // A client error or a closed connection; never success, never a server failure.
    QVERIFY2(r.status == 0 || (r.status >= 400 && r.status < 500), r.statusLine.constData());
    const Reply next = exchange(quick.port(), put("after the bad request"));
    QCOMPARE(next.status, 200);
    QCOMPARE(quick.process().state(), QProcess::Running);
}

void TextdServerTest::droppedUploadsLeaveNoStuckWorker()
{
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1")}),
             qPrintable(server.errorText()));
    // Clients that vanish in the middle of their uploads, small and spilled to disk.
    for (const qsizetype sent : {qsizetype(10), qsizetype(6 * 1024 * 1024)}) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
        QVERIFY(socket.waitForConnected(30000));
        socket.write("PUT /tika HTTP/1.1\r\nHost: x\r\nContent-Length: 50000000\r\n\r\n");
        socket.write(QByteArray(sent, 'x'));
        QDeadlineTimer deadline(30000);
        while (socket.bytesToWrite() > 0 && !deadline.hasExpired())
            socket.waitForBytesWritten(200);
        socket.abort();
    }
    const Reply next = exchange(server.port(), put("served after the dropped uploads"));
    QCOMPARE(next.status, 200);
    QVERIFY(next.body.contains("served after the dropped uploads"));
}

void TextdServerTest::startUpFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")}
                                    << QByteArray("unknown option '--frobnicate'");
    QTest::newRow("bad port") << QStringList{QStringLiteral("--port"), QStringLiteral("99999")}
                              << QByteArray("--port");
    QTest::newRow("missing value")
        << QStringList{QStringLiteral("--timeout")} << QByteArray("--timeout needs a value");
    QTest::newRow("all interfaces")
        << QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--host"),
                       QStringLiteral("0.0.0.0")}
        << QByteArray("not a loopback address; pass --allow-remote");
    QTest::newRow("port in use") << QStringList{QStringLiteral("--port"), QStringLiteral("{busy}")}
                                 << QByteArray("is already in use");
}

void TextdServerTest::startUpFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::LocalHost));
    arguments.replaceInStrings(QStringLiteral("{busy}"), QString::number(busy.serverPort()));
    const auto [code, stderrText] = runToEnd(arguments);
    QVERIFY(code != 0);
    QVERIFY2(stderrText.contains(message), stderrText.constData());
    QCOMPARE(stderrText.count('\n'), 1); // one clear line
}

void TextdServerTest::help()
{
    QByteArray out;
    const auto [code, stderrText] = runToEnd({QStringLiteral("--help")}, &out);
    QCOMPARE(code, 0);
    for (const char *option : {"--port", "--host", "--allow-remote", "--timeout", "--memory-limit"})
        QVERIFY2(out.contains(option), option);
}

QTEST_GUILESS_MAIN(TextdServerTest)
#include "tst_textd_server.moc"
