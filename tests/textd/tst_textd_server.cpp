#include "tests/support/TextdServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::TextdServer;

namespace {

struct Reply
{
    int status = 0; // 0: the connection closed without an answer
    QByteArray statusLine;
    QByteArray headers; // raw, lower-cased
    QByteArray body;    // without the chunk framing
    bool chunked = false;
    bool complete = true; // false: a chunked body without its closing chunk
};

// Removes the chunk framing; false when the closing zero-size chunk is missing.
bool dechunk(const QByteArray &raw, QByteArray &body)
{
    body.clear();
    qsizetype pos = 0;
    for (;;) {
        const qsizetype lineEnd = raw.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return false;
        bool ok = false;
        const qint64 size = raw.mid(pos, lineEnd - pos).split(';').value(0).toLongLong(&ok, 16);
        if (!ok)
            return false;
        pos = lineEnd + 2;
        if (size == 0)
            return raw.indexOf("\r\n", pos) >= 0;
        if (pos + size + 2 > raw.size())
            return false;
        body += raw.mid(pos, size);
        pos += size + 2;
    }
}

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
    r.chunked = r.headers.contains("transfer-encoding: chunked");
    if (r.chunked)
        r.complete = dechunk(rest.mid(headEnd + 4), r.body);
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

// A bare client socket for peers that misbehave (blocking connect, writes that never wait).
int connectRaw(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendRaw(int fd, const QByteArray &data)
{
    [[maybe_unused]] const ssize_t n =
        ::send(fd, data.constData(), size_t(data.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
}

// True once the server has closed or reset the connection (anything it sent is dropped).
bool closedByPeer(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
}

// Reads from Socket until Received contains Text (or the time is up).
bool readUntil(QTcpSocket &socket, QByteArray &received, const QByteArray &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!received.contains(text) && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    return received.contains(text);
}

void readToEnd(QTcpSocket &socket, QByteArray &received, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    received += socket.readAll();
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
    void longParseStreamsItsText_data();
    void longParseStreamsItsText();
    void parseStopsWhenItsClientLeaves();
    void uploadSizeIsCapped_data();
    void uploadSizeIsCapped();
    void grownWorkerIsRetired_data();
    void grownWorkerIsRetired();
    void slowClientsDoNotBlockService();
    void slowRequestsAreCut_data();
    void slowRequestsAreCut();
    void excessRequestsAreRefusedWith503();
    void uploadsJustAboveTheMinimumRateShutNobodyOut();

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

void TextdServerTest::longParseStreamsItsText_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<bool>("complete");

    QTest::newRow("parse ends well") << QByteArray("stream-until") << true;
    // The status is out already: the transfer breaks off rather than ending as if whole.
    QTest::newRow("parse fails later") << QByteArray("stream-until-fail") << false;
}

void TextdServerTest::longParseStreamsItsText()
{
    QFETCH(QByteArray, kind);
    QFETCH(bool, complete);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString go = dir.filePath(QStringLiteral("go"));
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                           QStringLiteral("--timeout"), QStringLiteral("300")},
                          hookEnvironment()),
             qPrintable(server.errorText()));

    // The parse sends its first part, then waits for the file: the first part must reach the
    // client while the parse goes on.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(socket.waitForConnected(30000));
    socket.write(put("DELVORA-TEST:" + kind + " " + QFile::encodeName(go)));
    QByteArray received;
    QVERIFY2(readUntil(socket, received, "first part", 30000), received.constData());
    QVERIFY(QFile(go).open(QIODevice::WriteOnly));
    readToEnd(socket, received, 30000);

    const Reply r = parseReply(received);
    QCOMPARE(r.status, 200);
    QVERIFY(r.chunked);
    QCOMPARE(r.complete, complete);
    QVERIFY2(r.body.startsWith("first part pid="), r.body.constData());
    QCOMPARE(r.body.endsWith("\nsecond part\n"), complete);
}

void TextdServerTest::parseStopsWhenItsClientLeaves()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                           QStringLiteral("--timeout"), QStringLiteral("300")},
                          hookEnvironment()),
             qPrintable(server.errorText()));

    // A parse that would go on to the time limit; its client leaves after the first part.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(socket.waitForConnected(30000));
    socket.write(put("DELVORA-TEST:stream-until " + QFile::encodeName(dir.filePath("never"))));
    QByteArray received;
    const QRegularExpression pidLine(QStringLiteral("first part pid=(\\d+)\n"));
    QRegularExpressionMatch match;
    QDeadlineTimer deadline(30000);
    while (!(match = pidLine.match(QString::fromLatin1(received))).hasMatch() &&
           !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    QVERIFY2(match.hasMatch(), received.constData());
    const pid_t child = pid_t(match.captured(1).toLongLong());
    socket.abort();

    // The child is stopped and reaped at once, and the only slot serves the next document.
    QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) != 0, 30000);
    const Reply next = exchange(server.port(), put("DELVORA-TEST:pid"), 30000);
    QCOMPARE(next.status, 200);
    QVERIFY(next.body.startsWith("pid="));
    QVERIFY(next.body != "pid=" + QByteArray::number(child) + "\n");
}

void TextdServerTest::uploadSizeIsCapped_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("status");

    constexpr qsizetype Cap = 1024 * 1024;
    QTest::newRow("at the cap") << put(QByteArray(Cap, 'a')) << 200;
    // Refused on the headers alone, before any of the body is stored.
    QTest::newRow("declared past the cap")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(Cap + 1) + "\r\n\r\n")
        << 413;
    // Without a length the cap is found while receiving: the connection is dropped.
    const QByteArray chunk =
        QByteArray::number(Cap / 2 + 1, 16) + "\r\n" + QByteArray(Cap / 2 + 1, 'a') + "\r\n";
    QTest::newRow("chunked past the cap")
        << "PUT /tika HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
           "Transfer-Encoding: chunked\r\n\r\n" +
               chunk + chunk + "0\r\n\r\n"
        << 0;
}

void TextdServerTest::uploadSizeIsCapped()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, status);

    static TextdServer capped;
    if (capped.port() == 0)
        QVERIFY2(capped.start({QStringLiteral("--workers"), QStringLiteral("1"),
                               QStringLiteral("--max-upload"), QStringLiteral("1")}),
                 qPrintable(capped.errorText()));
    const Reply r = exchange(capped.port(), raw, 30000);
    QCOMPARE(r.status, status);
    QCOMPARE(exchange(capped.port(), put("served after")).status, 200);
}

void TextdServerTest::grownWorkerIsRetired_data()
{
    QTest::addColumn<int>("keptMiB");
    QTest::addColumn<bool>("retired");

    QTest::newRow("grown past the threshold") << 96 << true;
    QTest::newRow("still small") << 4 << false;
}

void TextdServerTest::grownWorkerIsRetired()
{
    QFETCH(int, keptMiB);
    QFETCH(bool, retired);

    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                           QStringLiteral("--retire-memory"), QStringLiteral("64")},
                          hookEnvironment()),
             qPrintable(server.errorText()));
    const Reply before = exchange(server.port(), put("DELVORA-TEST:pid"));
    QCOMPARE(before.status, 200);
    // The child keeps the memory, as a heap grown on a huge document does.
    const Reply grown =
        exchange(server.port(), put("DELVORA-TEST:keep " + QByteArray::number(keptMiB)));
    QCOMPARE(grown.status, 200);
    QCOMPARE(grown.body, before.body);
    const Reply after = exchange(server.port(), put("DELVORA-TEST:pid"));
    QCOMPARE(after.status, 200);
    QCOMPARE(after.body != before.body, retired);
}

void TextdServerTest::slowClientsDoNotBlockService()
{
    // The default configuration against 200 clients that send one byte a second and never
    // finish their headers.
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1")}),
             qPrintable(server.errorText()));
    std::vector<int> slow;
    for (int i = 0; i < 200; ++i) {
        const int fd = connectRaw(server.port());
        QVERIFY(fd >= 0);
        sendRaw(fd, "PUT /tika HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        slow.push_back(fd);
    }
    Reply legitimate;
    std::atomic<bool> done = false;
    std::thread client([&] {
        legitimate = exchange(server.port(), put("served among slow clients"), 20000);
        done = true;
    });
    QDeadlineTimer deadline(25000);
    while (!done && !deadline.hasExpired()) {
        for (int fd : slow)
            sendRaw(fd, "a");
        for (int i = 0; i < 10 && !done; ++i)
            QThread::msleep(100);
    }
    client.join();
    for (int fd : slow)
        ::close(fd);
    QCOMPARE(legitimate.status, 200);
    QCOMPARE(legitimate.body.trimmed(), QByteArray("served among slow clients"));
}

void TextdServerTest::slowRequestsAreCut_data()
{
    QTest::addColumn<QByteArray>("start");

    QTest::newRow("headers a byte at a time")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nX-Slow: ");
    QTest::newRow("body a byte at a time")
        << QByteArray("PUT /tika HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n");
}

void TextdServerTest::slowRequestsAreCut()
{
    QFETCH(QByteArray, start);

    // Never idle for the connection time-out (30 s), yet far too slow.
    static TextdServer server;
    if (server.port() == 0)
        QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                               QStringLiteral("--request-timeout"), QStringLiteral("2"),
                               QStringLiteral("--min-upload-rate"), QStringLiteral("1000")}),
                 qPrintable(server.errorText()));
    const int fd = connectRaw(server.port());
    QVERIFY(fd >= 0);
    sendRaw(fd, start);
    QDeadlineTimer deadline(20000);
    bool closed = false;
    while (!closed && !deadline.hasExpired()) {
        sendRaw(fd, "a");
        QThread::msleep(200);
        closed = closedByPeer(fd);
    }
    ::close(fd);
    QVERIFY(closed);
}

void TextdServerTest::excessRequestsAreRefusedWith503()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString go = dir.filePath(QStringLiteral("go"));
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                           QStringLiteral("--max-connections"), QStringLiteral("1"),
                           QStringLiteral("--timeout"), QStringLiteral("300")},
                          hookEnvironment()),
             qPrintable(server.errorText()));
    QTcpSocket busy;
    busy.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(busy.waitForConnected(30000));
    busy.write(put("DELVORA-TEST:stream-until " + QFile::encodeName(go)));
    QByteArray received;
    QVERIFY2(readUntil(busy, received, "first part", 30000), received.constData());

    // The only slot is at work: a newcomer is told so at once instead of waiting.
    const Reply refused = exchange(server.port(), put("refused"), 30000);
    QCOMPARE(refused.status, 503);
    QVERIFY2(refused.body.contains("busy"), refused.body.constData());

    QVERIFY(QFile(go).open(QIODevice::WriteOnly));
    readToEnd(busy, received, 30000);
    QVERIFY(parseReply(received).complete);
    const Reply served = exchange(server.port(), put("served again"), 30000);
    QCOMPARE(served.status, 200);
}

void TextdServerTest::uploadsJustAboveTheMinimumRateShutNobodyOut()
{
    // The attack, bounded: twice as many uploads as there are slots, each announcing 1 GB and
    // keeping just above the minimum rate, past the grace; every ordinary request is served.
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                           QStringLiteral("--max-connections"), QStringLiteral("4"),
                           QStringLiteral("--request-timeout"), QStringLiteral("1"),
                           QStringLiteral("--min-upload-rate"), QStringLiteral("1000")}),
             qPrintable(server.errorText()));
    std::vector<int> uploads;
    for (int i = 0; i < 8; ++i) {
        const int fd = connectRaw(server.port());
        QVERIFY(fd >= 0);
        sendRaw(fd, "PUT /tika HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000\r\n\r\n");
        uploads.push_back(fd);
    }
    std::atomic<bool> stop = false;
    std::thread trickle([&] {
        while (!stop) {
            for (int fd : uploads)
                sendRaw(fd, QByteArray(120, 'a')); // 1,200 bytes a second
            QThread::msleep(100);
        }
    });
    QThread::msleep(1500);
    int served = 0;
    for (int i = 0; i < 10; ++i) {
        const QByteArray text = "ordinary request " + QByteArray::number(i);
        const Reply reply = exchange(server.port(), put(text), 20000);
        if (reply.status == 200 && reply.body.trimmed() == text)
            ++served;
    }
    stop = true;
    trickle.join();
    for (int fd : uploads)
        ::close(fd);
    QCOMPARE(served, 10);
}

QTEST_GUILESS_MAIN(TextdServerTest)
#include "tst_textd_server.moc"
