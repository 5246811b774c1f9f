#include "tests/support/LoopbackHttpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    return sendAll(fd, bytes.constData(), bytes.size());
}

// Buffered reader over a blocking socket.
class SocketReader
{
public:
    explicit SocketReader(int fd) : m_fd(fd) {}

    bool fill()
    {
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            m_buffer.append(chunk, n);
            return true;
        }
    }

    // A line without its CR LF; false when the connection ends first.
    bool readLine(QByteArray &line)
    {
        for (;;) {
            const qsizetype end = m_buffer.indexOf("\r\n");
            if (end >= 0) {
                line = m_buffer.left(end);
                m_buffer.remove(0, end + 2);
                return true;
            }
            if (m_buffer.size() > 1024 * 1024 || !fill())
                return false;
        }
    }

    // Appends up to Count bytes to Out (all of them unless the connection ends).
    qint64 read(qint64 count, QByteArray &out)
    {
        qint64 got = 0;
        while (got < count) {
            if (m_buffer.isEmpty() && !fill())
                break;
            const qint64 take = std::min<qint64>(count - got, m_buffer.size());
            out.append(m_buffer.constData(), take);
            m_buffer.remove(0, take);
            got += take;
        }
        return got;
    }

    // Bytes received but not read yet.
    qsizetype buffered() const { return m_buffer.size(); }

private:
    int m_fd;
    QByteArray m_buffer;
};

QByteArray pathWithoutQuery(const QByteArray &target)
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

} // namespace

HttpAnswer HttpAnswer::text(const QByteArray &body, int status, const QByteArray &reason)
{
    HttpAnswer a;
    a.status = status;
    a.reason = reason;
    a.body = body;
    a.headers.append(
        qMakePair(QByteArray("Content-Type"), QByteArray("text/plain; charset=utf-8")));
    return a;
}

HttpAnswer HttpAnswer::redirect(const QByteArray &location, int status)
{
    HttpAnswer a;
    a.status = status;
    a.reason = status == 301 ? "Moved Permanently" : "Found";
    a.headers.append(qMakePair(QByteArray("Location"), location));
    a.body = "redirected";
    return a;
}

QByteArray HttpRequestRecord::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second.isNull() ? QByteArray("") : h.second;
    }
    return {};
}

bool HttpRequestRecord::hasHeader(const QByteArray &name) const
{
    return !header(name).isNull();
}

LoopbackHttpServer::LoopbackHttpServer(quint16 port)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("LoopbackHttpServer: socket failed");
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 64) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("LoopbackHttpServer: bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("LoopbackHttpServer: pipe failed");
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    stop();
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QString LoopbackHttpServer::url(const QString &path) const
{
    return baseUrl() + path;
}

void LoopbackHttpServer::setAnswer(const QByteArray &path, const HttpAnswer &answer)
{
    std::lock_guard lock(m_mutex);
    m_answers[path] = answer;
}

void LoopbackHttpServer::setHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

QList<HttpRequestRecord> LoopbackHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int LoopbackHttpServer::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

void LoopbackHttpServer::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void LoopbackHttpServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    const char c = 'x';
    [[maybe_unused]] ssize_t w = ::write(m_wakePipe[1], &c, 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
        connections.swap(m_connections);
    }
    m_stopCv.notify_all();
    for (auto &t : connections)
        t.join();
    ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

void LoopbackHttpServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (m_stopping || (fds[1].revents & POLLIN))
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_openFds.push_back(fd);
        m_connections.emplace_back([this, fd, n = ++m_accepted] { serve(fd, n); });
    }
}

bool LoopbackHttpServer::sleepUnlessStopped(int ms)
{
    if (ms <= 0)
        return !m_stopping;
    std::unique_lock lock(m_mutex);
    m_stopCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
    return !m_stopping;
}

void LoopbackHttpServer::serve(int fd, int connection)
{
    bool abrupt = false;
    qsizetype recordIndex = -1;
    qint64 overRead = 0; // received past the body along with it
    SocketReader reader(fd);
    // One request and its answer; true when the connection carries another.
    const auto exchange = [&]() -> bool {
        HttpRequestRecord request;
        request.connection = connection;
        QByteArray line;
        if (!reader.readLine(line))
            return false;
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3)
            return false;
        request.method = parts[0];
        request.path = parts[1];
        while (reader.readLine(line) && !line.isEmpty()) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }

        HttpAnswer answer;
        Handler handler;
        bool fixed = false;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_answers.find(pathWithoutQuery(request.path));
            if (it != m_answers.end()) {
                answer = it->second;
                fixed = true;
            }
            handler = m_handler;
        }

        // The body is read before the handler runs, so a handler can look at it.
        const bool readBody = !fixed || answer.readBody;
        if (readBody) {
            if (request.header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0)
                sendAll(fd, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
            if (request.header("Transfer-Encoding").toLower().contains("chunked")) {
                request.bodyComplete = false;
                for (;;) {
                    if (!reader.readLine(line))
                        break;
                    bool ok = false;
                    const qint64 size = line.split(';').first().trimmed().toLongLong(&ok, 16);
                    if (!ok)
                        break;
                    if (size == 0) {
                        while (reader.readLine(line) && !line.isEmpty()) {
                        }
                        request.bodyComplete = true;
                        break;
                    }
                    if (reader.read(size, request.body) != size || !reader.readLine(line))
                        break;
                }
            } else {
                const qint64 length = request.header("Content-Length").toLongLong();
                request.bodyComplete = reader.read(length, request.body) == length;
            }
            request.bodySize = request.body.size();
            overRead = reader.buffered();
        }
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(request);
            recordIndex = m_requests.size() - 1;
        }
        if (!fixed)
            answer = handler ? handler(request) : HttpAnswer::text("not found", 404, "Not Found");
        if (answer.closeUnanswered) {
            abrupt = true;
            return false;
        }

        if (!sleepUnlessStopped(answer.delayBeforeMs))
            return false;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason +
                          (answer.keepAlive ? "\r\n" : "\r\nConnection: close\r\n");
        for (const auto &h : answer.headers)
            head += h.first + ": " + h.second + "\r\n";
        if (answer.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (answer.contentLength)
            head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        head += "\r\n";
        if (!sendAll(fd, head))
            return false;

        qint64 limit = answer.body.size();
        if (answer.closeAfterBodyBytes >= 0 && answer.closeAfterBodyBytes < limit) {
            limit = answer.closeAfterBodyBytes;
            abrupt = true;
        }
        const qint64 piece = answer.pieceSize > 0 ? answer.pieceSize : std::max<qint64>(1, limit);
        for (qint64 offset = 0; offset < limit; offset += piece) {
            if (offset > 0 && !sleepUnlessStopped(answer.delayBetweenPiecesMs))
                return false;
            const qint64 n = std::min(piece, limit - offset);
            if (answer.chunked && !sendAll(fd, QByteArray::number(n, 16) + "\r\n"))
                return false;
            if (!sendAll(fd, answer.body.constData() + offset, n))
                return false;
            if (answer.chunked && !sendAll(fd, QByteArray("\r\n")))
                return false;
        }
        while (!answer.endlessTail.isEmpty() && !abrupt && !m_stopping) {
            const QByteArray &tail = answer.endlessTail;
            if (answer.chunked &&
                !sendAll(fd, QByteArray::number(tail.size(), 16) + "\r\n" + tail + "\r\n"))
                return false;
            if (!answer.chunked && !sendAll(fd, tail))
                return false;
        }
        if (answer.chunked && !abrupt)
            sendAll(fd, QByteArray("0\r\n\r\n"));
        if (!answer.keepAlive || abrupt || !readBody)
            return false;
        std::lock_guard lock(m_mutex);
        m_requests[recordIndex].connectionEnded = true; // its counts are final
        return true;
    };
    while (exchange() && !m_stopping) {
    }

    if (!abrupt) {
        // Half-close and drain, so that unread request bytes do not turn into a reset that
        // would destroy the answer before the client has read it.
        ::shutdown(fd, SHUT_WR);
        timeval tv{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char sink[65536];
        qint64 drained = overRead;
        for (ssize_t n; !m_stopping && (n = ::recv(fd, sink, sizeof sink, 0)) > 0;)
            drained += n;
        std::lock_guard lock(m_mutex);
        if (recordIndex >= 0 && recordIndex < m_requests.size())
            m_requests[recordIndex].bytesAfterBody = drained;
    }
    std::lock_guard lock(m_mutex);
    if (recordIndex >= 0 && recordIndex < m_requests.size())
        m_requests[recordIndex].connectionEnded = true;
    m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
    ::close(fd);
}

} // namespace testsupport
