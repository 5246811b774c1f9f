#pragma once

#include "textd/ConnectionGuard.h"
#include "textd/WorkerPool.h"

#include <atomic>
#include <memory>
#include <microhttpd.h>

namespace dv::textd {

class ListenSocket;

// The HTTP front: GET /tika (greeting), GET /version, PUT /tika (document in, plain text out).
// Runs libmicrohttpd with a thread per connection; each upload is received into a RequestBody
// and parsed by the worker pool, never in this process.
class TextServer
{
public:
    struct Settings
    {
        int connectionTimeoutSeconds = 30;
        int maxConnections = 64;
        int requestTimeoutSeconds = 10;
        qint64 minUploadRate = 1024 * 1024; // bytes per second
        qint64 maxUploadBytes = 1024LL * 1024 * 1024;
    };

    TextServer(WorkerPool &pool, const Settings &settings);
    TextServer(const TextServer &) = delete;
    TextServer &operator=(const TextServer &) = delete;
    ~TextServer();

    // Starts serving on the socket (taking it over); false when the HTTP library refuses.
    bool start(ListenSocket &socket);
    void stop();

    int openConnections() const { return m_openConnections.load(); }
    // Milliseconds since the last connection closed (or the start); 0 while one is open.
    qint64 idleMilliseconds() const;
    // Accepts no more connections and lets go of the socket; those already open are served.
    // Under socket activation a newcomer then waits in systemd's socket for the next start.
    void stopAccepting();

    static QByteArray greeting();
    static QByteArray versionText();

private:
    struct Request;
    struct Stream;

    static MHD_Result onAccess(void *self, MHD_Connection *connection, const char *url,
                               const char *method, const char *version, const char *uploadData,
                               size_t *uploadDataSize, void **state);
    static void onCompleted(void *self, MHD_Connection *connection, void **state,
                            MHD_RequestTerminationCode reason);
    static void onConnection(void *self, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode code);
    MHD_Result handle(MHD_Connection *connection, const char *url, const char *method,
                      const char *uploadData, size_t *uploadDataSize, void **state);
    MHD_Result extract(MHD_Connection *connection, Request &request);
    MHD_Result queueStream(MHD_Connection *connection, std::unique_ptr<WorkerPool::Job> job,
                           const QByteArray &first);

    WorkerPool &m_pool;
    Settings m_settings;
    std::unique_ptr<ConnectionGuard> m_guard;
    MHD_Daemon *m_daemon = nullptr;
    std::atomic<int> m_openConnections{0};
    std::atomic<qint64> m_lastClosedMs{0}; // steady clock
};

} // namespace dv::textd
