#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

using HttpHeaderList = QList<QPair<QByteArray, QByteArray>>;

// One scripted answer of the loopback server.
struct HttpAnswer
{
    int status = 200;
    QByteArray reason = "OK";
    HttpHeaderList headers; // sent as given, after the status line
    QByteArray body;
    bool chunked = false;      // Transfer-Encoding: chunked instead of Content-Length
    bool contentLength = true; // false (and not chunked): the body ends when the connection closes
    int pieceSize = 0;         // body sent in pieces of this many bytes (0: all at once)
    int delayBeforeMs = 0;     // wait before the status line is sent
    int delayBetweenPiecesMs = 0;    // wait before every piece of the body after the first
    qint64 closeAfterBodyBytes = -1; // close the connection after this many body bytes
    bool readBody = true;            // false: answer without reading the request body
    QByteArray endlessTail;       // sent after the body again and again until the client goes away
    bool keepAlive = false;       // the connection stays open for the client's next request
    bool closeUnanswered = false; // the request is read, then the connection closed silently

    static HttpAnswer text(const QByteArray &body, int status = 200,
                           const QByteArray &reason = "OK");
    static HttpAnswer redirect(const QByteArray &location, int status = 302);
};

// A received request as the server saw it.
struct HttpRequestRecord
{
    QByteArray method;
    QByteArray path; // request target, query included
    HttpHeaderList headers;
    QByteArray body;
    qint64 bodySize = 0;
    bool bodyComplete = false;    // the whole announced body arrived
    qint64 bytesAfterBody = 0;    // sent by the client beyond the announced body
    bool connectionEnded = false; // the server is done with the connection: all counts final
    int connection = 0;           // the connection it came over, counted from 1 as accepted

    // Value of the first header named Name (case-insensitive); null when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

// A real HTTP/1.1 server on 127.0.0.1 and a free port, serving on its own threads so that a
// blocking client can run on the test's thread. Answers are scripted per path; unknown paths
// get 404. A connection is closed after its answer unless the answer keeps it alive.
class LoopbackHttpServer
{
public:
    using Handler = std::function<HttpAnswer(const HttpRequestRecord &)>;

    // On Port, or on a free port when 0.
    explicit LoopbackHttpServer(quint16 port = 0);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;
    // baseUrl() + Path
    QString url(const QString &path) const;

    // Answer for requests whose path (without query) is Path.
    void setAnswer(const QByteArray &path, const HttpAnswer &answer);
    // Computes the answer for every request that has no fixed answer.
    void setHandler(Handler handler);

    QList<HttpRequestRecord> requests() const;
    int requestCount() const;
    void clearRequests();

    // Stops listening and ends every connection; the destructor calls it.
    void stop();

private:
    void acceptLoop();
    void serve(int fd, int connection);
    bool sleepUnlessStopped(int ms);

    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopCv;
    std::map<QByteArray, HttpAnswer> m_answers;
    Handler m_handler;
    QList<HttpRequestRecord> m_requests;
    std::vector<std::thread> m_connections;
    std::vector<int> m_openFds;
    int m_accepted = 0;
};

} // namespace testsupport
