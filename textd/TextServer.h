#pragma once

#include "textd/ConnectionGuard.h"
#include "textd/WorkerPool.h"

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
};

} // namespace dv::textd
