#include "textd/ConnectionGuard.h"

#include <algorithm>
#include <limits>
#include <sys/socket.h>

namespace dv::textd {

struct ConnectionGuard::Connection
{
    enum class Phase
    {
        Headers, // waiting for a request's headers
        Body,    // receiving an upload
        Working  // parsing or answering
    };
    int fd = -1;
    Phase phase = Phase::Headers;
    Clock::time_point since;    // start of the phase
    Clock::time_point deadline; // for Headers
    qint64 bodyBytes = 0;
    qint64 bodyExpected = -1;
    bool admitted = true;
    bool shut = false;
    std::list<Connection>::iterator self;
};

ConnectionGuard::ConnectionGuard(const Settings &settings) : m_settings(settings)
{
    m_watcher = std::thread([this] { watch(); });
}

ConnectionGuard::~ConnectionGuard()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_watcher.join();
}

int ConnectionGuard::acceptLimit() const
{
    // Room for the connections being shut or refused while the slots are full.
    return m_settings.maxConnections + std::max(16, m_settings.maxConnections / 4);
}

void ConnectionGuard::shutLocked(Connection &connection)
{
    // The HTTP library's thread for this connection sees the end and closes it; the descriptor
    // stays valid until closed() has been called.
    connection.shut = true;
    ::shutdown(connection.fd, SHUT_RDWR);
}

double ConnectionGuard::secondsToFinish(const Connection &c, Clock::time_point now) const
{
    const qint64 total = c.bodyExpected >= 0 ? c.bodyExpected : m_settings.maxUploadBytes;
    const double elapsed = std::max(1e-3, std::chrono::duration<double>(now - c.since).count());
    if (c.bodyBytes <= 0)
        return std::numeric_limits<double>::infinity();
    return double(std::max<qint64>(0, total - c.bodyBytes)) * elapsed / double(c.bodyBytes);
}

ConnectionGuard::Connection *ConnectionGuard::opened(int fd)
{
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    int admitted = 0;
    Connection *longestWaiting = nullptr;
    Connection *furthestBehind = nullptr;
    double furthestSeconds = 0;
    for (Connection &c : m_connections) {
        if (c.shut || !c.admitted)
            continue;
        ++admitted;
        if (c.phase == Connection::Phase::Headers &&
            (!longestWaiting || c.since < longestWaiting->since))
            longestWaiting = &c;
        if (c.phase == Connection::Phase::Body) {
            const double seconds = secondsToFinish(c, now);
            if (!furthestBehind || seconds > furthestSeconds ||
                (seconds == furthestSeconds && c.since < furthestBehind->since)) {
                furthestBehind = &c;
                furthestSeconds = seconds;
            }
        }
    }
    Connection *const victim = longestWaiting ? longestWaiting : furthestBehind;
    Connection &c = m_connections.emplace_back();
    c.self = std::prev(m_connections.end());
    c.fd = fd;
    c.since = now;
    c.deadline = now + std::chrono::seconds(m_settings.requestTimeoutSeconds);
    if (admitted >= m_settings.maxConnections) {
        if (victim)
            shutLocked(*victim);
        else
            c.admitted = false;
    }
    return &c;
}

void ConnectionGuard::closed(Connection *connection)
{
    std::lock_guard lock(m_mutex);
    m_connections.erase(connection->self);
}

bool ConnectionGuard::requestStarted(Connection *connection, qint64 bodyBytes)
{
    std::lock_guard lock(m_mutex);
    connection->phase = Connection::Phase::Body;
    connection->since = Clock::now();
    connection->bodyBytes = 0;
    connection->bodyExpected = bodyBytes;
    return connection->admitted;
}

void ConnectionGuard::bodyReceived(Connection *connection, qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    connection->bodyBytes += bytes;
}

void ConnectionGuard::requestReceived(Connection *connection)
{
    std::lock_guard lock(m_mutex);
    connection->phase = Connection::Phase::Working;
}

void ConnectionGuard::requestEnded(Connection *connection)
{
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    connection->phase = Connection::Phase::Headers;
    connection->since = now;
    connection->deadline = now + std::chrono::seconds(m_settings.idleTimeoutSeconds +
                                                      m_settings.requestTimeoutSeconds);
}

void ConnectionGuard::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(250));
        const auto now = Clock::now();
        const auto grace = std::chrono::seconds(m_settings.requestTimeoutSeconds);
        for (Connection &c : m_connections) {
            if (c.shut)
                continue;
            if (c.phase == Connection::Phase::Headers && now >= c.deadline) {
                shutLocked(c);
            } else if (c.phase == Connection::Phase::Body && m_settings.uploadTimeoutSeconds > 0 &&
                       now - c.since > std::chrono::seconds(m_settings.uploadTimeoutSeconds)) {
                shutLocked(c);
            } else if (c.phase == Connection::Phase::Body && m_settings.minUploadRate > 0 &&
                       now - c.since > grace) {
                // The rate counts from the end of the grace: a slow start is forgiven once.
                const double seconds = std::chrono::duration<double>(now - c.since - grace).count();
                if (double(c.bodyBytes) < double(m_settings.minUploadRate) * seconds)
                    shutLocked(c);
            }
        }
    }
}

} // namespace dv::textd
