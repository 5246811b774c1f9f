// How delvora-textd starts and ends as a systemd user service: the listening socket handed
// over by socket activation (systemd-socket-activate stands in for the user's systemd, which
// does not run here) and the end after a time without connections.
#include "tests/support/TextdServer.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using testsupport::TextdServer;

namespace {

constexpr int kLongWaitMs = 60000;

// One request on a connection that stays open (keep-alive); the answer's body, empty on failure.
QByteArray askVersion(QTcpSocket &socket)
{
    socket.write("GET /version HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QByteArray received;
    QDeadlineTimer deadline(kLongWaitMs);
    for (;;) {
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            const QByteArray head = received.left(headEnd).toLower();
            const qsizetype at = head.indexOf("content-length:");
            const qint64 length =
                at < 0 ? -1 : head.mid(at + 15).split('\r').value(0).trimmed().toLongLong();
            if (length >= 0 && received.size() >= headEnd + 4 + length)
                return received.mid(headEnd + 4, length);
        }
        if (deadline.hasExpired() || socket.state() != QAbstractSocket::ConnectedState)
            return {};
        socket.waitForReadyRead(200);
        received += socket.readAll();
    }
}

QByteArray putText(quint16 port, const QByteArray &text)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(kLongWaitMs))
        return {};
    socket.write("PUT /tika HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
                 "Content-Type: text/plain\r\nContent-Length: " +
                 QByteArray::number(text.size()) + "\r\n\r\n" + text);
    QByteArray received;
    QDeadlineTimer deadline(kLongWaitMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(200);
        received += socket.readAll();
    }
    received += socket.readAll();
    return received;
}

bool endsWithin(QProcess &process, int ms)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(ms);
}

} // namespace

class TextdActivationTest : public QObject
{
    Q_OBJECT

private slots:
    void socketActivatedServerServesAndEnds();
    void foreignListenVariablesAreIgnored();
    void idleExitWaitsForOpenConnections();
    void idleExitValues_data();
    void idleExitValues();
};

void TextdActivationTest::socketActivatedServerServesAndEnds()
{
    const QString activate =
        QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
    QVERIFY2(!activate.isEmpty(), "systemd-socket-activate is missing (package systemd)");

    // A port found free a moment ago may be taken by now: then another is tried.
    QProcess process;
    quint16 port = 0;
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 candidate = probe.serverPort();
        probe.close();
        // --host names an address the server refuses to open itself: it must use the socket
        // it was given, whose address systemd chose.
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(activate,
                      {QStringLiteral("--listen=127.0.0.1:%1").arg(candidate),
                       TextdServer::executable(), QStringLiteral("--host"),
                       QStringLiteral("0.0.0.0"), QStringLiteral("--workers"), QStringLiteral("1"),
                       QStringLiteral("--idle-exit"), QStringLiteral("1")});
        QVERIFY(process.waitForStarted(kLongWaitMs));
        QByteArray err;
        QDeadlineTimer deadline(kLongWaitMs);
        while (!err.contains("Listening on") && process.state() == QProcess::Running &&
               !deadline.hasExpired()) {
            process.waitForReadyRead(200);
            err += process.readAllStandardError();
        }
        if (err.contains("Listening on"))
            port = candidate;
        else
            QVERIFY(endsWithin(process, kLongWaitMs));
    }
    QVERIFY(port != 0);

    // The first connection starts the server, which answers it.
    const QByteArray reply = putText(port, "started by its first request");
    QVERIFY2(reply.startsWith("HTTP/1.1 200"), reply.constData());
    QVERIFY2(reply.contains("started by its first request"), reply.constData());

    QVERIFY2(endsWithin(process, kLongWaitMs), "the server did not end when idle");
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, err.constData());
    QVERIFY2(!err.contains("refusing"), err.constData());
}

void TextdActivationTest::foreignListenVariablesAreIgnored()
{
    // Variables meant for another process (inherited from a parent) leave descriptor 3 alone.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LISTEN_PID"), QStringLiteral("1"));
    env.insert(QStringLiteral("LISTEN_FDS"), QStringLiteral("1"));
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1")}, env),
             qPrintable(server.errorText()));
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(socket.waitForConnected(kLongWaitMs));
    QVERIFY(askVersion(socket).startsWith("Delvora delvora-textd "));
}

void TextdActivationTest::idleExitWaitsForOpenConnections()
{
    TextdServer server;
    QVERIFY2(server.start({QStringLiteral("--workers"), QStringLiteral("1"),
                           QStringLiteral("--idle-exit"), QStringLiteral("1"),
                           QStringLiteral("--request-timeout"), QStringLiteral("600"),
                           QStringLiteral("--connection-timeout"), QStringLiteral("600")}),
             qPrintable(server.errorText()));
    QProcess &process = server.process();

    // Once a request is answered the connection is known to be open; kept open, it keeps the
    // server running well past the idle time.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    QVERIFY(socket.waitForConnected(kLongWaitMs));
    QVERIFY(askVersion(socket).startsWith("Delvora delvora-textd "));
    QVERIFY(!process.waitForFinished(3000));
    QVERIFY(askVersion(socket).startsWith("Delvora delvora-textd "));

    socket.disconnectFromHost();
    QVERIFY2(endsWithin(process, kLongWaitMs), "the server did not end when idle");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void TextdActivationTest::idleExitValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("negative") << QStringLiteral("-5");
    QTest::newRow("not a number") << QStringLiteral("soon");
    QTest::newRow("over a day") << QStringLiteral("86401");
}

void TextdActivationTest::idleExitValues()
{
    QFETCH(QString, value);
    QProcess p;
    p.start(TextdServer::executable(), {QStringLiteral("--idle-exit"), value});
    QVERIFY(p.waitForFinished(kLongWaitMs));
    QCOMPARE(p.exitCode(), 2);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(err.contains("--idle-exit"), err.constData());
}

QTEST_GUILESS_MAIN(TextdActivationTest)
#include "tst_textd_activation.moc"
