#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace dv::textd {

// Keeps slow or idle peers from holding the server. A request must bring its headers whole
// within the request time, and its body at a minimum rate and within the upload time, or its
// connection is shut: the clients are programs of this machine, which send at memory speed.
// When all connection slots are taken, the one that has waited longest for its request headers
// makes room for the newcomer, else the upload furthest behind (the latest to finish at the
// rate it has kept); only when every slot is busy with real work is the newcomer refused
// (503). The HTTP library accepts a reserve of connections beyond the slots, so refusing and
// making room can happen at all. Thread-safe.
class ConnectionGuard
{
public:
    struct Settings
    {
        int maxConnections = 64;
        int requestTimeoutSeconds = 10;
        // A kept-alive connection may idle this long before the next request starts.
        int idleTimeoutSeconds = 30;
        qint64 minUploadRate = 1024 * 1024; // bytes per second; 0: none
        // The whole body must be in this long after the headers; 0: no limit.
        int uploadTimeoutSeconds = 120;
        // An upload of unknown length is taken to be this long.
        qint64 maxUploadBytes = 1024LL * 1024 * 1024;
    };

    struct Connection;

    explicit ConnectionGuard(const Settings &settings);
    ConnectionGuard(const ConnectionGuard &) = delete;
    ConnectionGuard &operator=(const ConnectionGuard &) = delete;
    ~ConnectionGuard();

    // Connections the HTTP library should accept at most: the slots and their reserve.
    int acceptLimit() const;

    // A new connection on the socket; may shut an older one to make room.
    Connection *opened(int fd);
    void closed(Connection *connection);
    // The request's headers are in, announcing a body of BodyBytes (-1: unknown); false when
    // the connection got no slot (answer 503).
    bool requestStarted(Connection *connection, qint64 bodyBytes = -1);
    void bodyReceived(Connection *connection, qint64 bytes);
    // The request is in whole; its parse has limits of its own.
    void requestReceived(Connection *connection);
    // The answer is out; the connection may carry another request.
    void requestEnded(Connection *connection);

private:
    using Clock = std::chrono::steady_clock;
    void watch();
    void shutLocked(Connection &connection);
    // Seconds the upload on Connection still needs at the rate it has kept.
    double secondsToFinish(const Connection &connection, Clock::time_point now) const;

    Settings m_settings;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::list<Connection> m_connections;
    bool m_stopping = false;
    std::thread m_watcher;
};

} // namespace dv::textd
