#include "textd/TextServer.h"

#include "textd/ListenSocket.h"
#include "textd/RequestBody.h"

#include <QByteArrayList>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <microhttpd.h>
#include <unistd.h>

namespace dv::textd {

namespace {

qint64 steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char *const PlainTextUtf8 = "text/plain; charset=UTF-8";

ConnectionGuard::Connection *guardedConnection(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionGuard::Connection *>(info->socket_context) : nullptr;
}

MHD_Result queue(MHD_Connection *connection, unsigned status, const QByteArray &body,
                 const char *allow = nullptr, bool close = false)
{
    // The response keeps its own reference to the bytes: no copy of a large text.
    auto *owned = new QByteArray(body);
    MHD_Response *response = MHD_create_response_from_buffer_with_free_callback_cls(
        size_t(owned->size()), const_cast<char *>(owned->constData()),
        [](void *bytes) { delete static_cast<QByteArray *>(bytes); }, owned);
    if (!response) {
        delete owned;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, PlainTextUtf8);
    if (allow)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    if (close)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result rc = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return rc;
}

QByteArray headerValue(MHD_Connection *connection, const char *name)
{
    const char *v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return v ? QByteArray(v) : QByteArray();
}

// A Content-Type counts as a hint unless it says nothing about the format: the generic binary
// type, the wildcard, or plain XML (which Tika's own clients send for any document).
QByteArray typeHintFrom(const QByteArray &contentType)
{
    QByteArray type = contentType;
    const qsizetype semicolon = type.indexOf(';');
    if (semicolon >= 0)
        type.truncate(semicolon);
    type = type.trimmed().toLower();
    if (type.isEmpty() || type == "application/octet-stream" || type == "*/*" ||
        type == "application/xml" || type == "text/xml")
        return {};
    return type;
}

QByteArray percentDecoded(const QByteArray &s)
{
    return QByteArray::fromPercentEncoding(s);
}

// The file name from "attachment; filename=..." (quoted or not, or RFC 5987 filename*=),
// reduced to its last path component.
QByteArray fileNameFromDisposition(const QByteArray &disposition)
{
    QByteArray plain, extended;
    for (QByteArray part : disposition.split(';')) {
        part = part.trimmed();
        const qsizetype eq = part.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = part.left(eq).trimmed().toLower();
        QByteArray value = part.mid(eq + 1).trimmed();
        if (key == "filename") {
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2).replace("\\\"", "\"");
            plain = value;
        } else if (key == "filename*") {
            const qsizetype quote = value.indexOf("''");
            extended = percentDecoded(quote >= 0 ? value.mid(quote + 2) : value);
        }
    }
    return extended.isEmpty() ? plain : extended;
}

QByteArray baseName(QByteArray name)
{
    const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    if (slash >= 0)
        name = name.mid(slash + 1);
    return name.trimmed();
}

} // namespace

struct TextServer::Request
{
    bool isUpload = false;
    bool bodyFailed = false;
    RequestBody body;
    QByteArray typeHint;
    QByteArray nameHint;
};

TextServer::TextServer(WorkerPool &pool, const Settings &settings)
    : m_pool(pool), m_settings(settings)
{}

TextServer::~TextServer()
{
    stop();
}

QByteArray TextServer::greeting()
{
    return "This is delvora-textd, Delvora's text server (" DELVORA_VERSION
           "). Please PUT a document to /tika to get its plain text.\n";
}

QByteArray TextServer::versionText()
{
    return "Delvora delvora-textd " DELVORA_VERSION "\n";
}

bool TextServer::start(ListenSocket &socket)
{
    // The inter-thread channel lets stopAccepting() wake the listening thread.
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                     MHD_USE_POLL | MHD_USE_ITC;
    if (socket.isIpv6())
        flags |= MHD_USE_IPv6;
    const int fd = socket.fd();
    ConnectionGuard::Settings guard;
    guard.maxConnections = m_settings.maxConnections;
    guard.requestTimeoutSeconds = m_settings.requestTimeoutSeconds;
    guard.idleTimeoutSeconds = m_settings.connectionTimeoutSeconds;
    guard.minUploadRate = m_settings.minUploadRate;
    guard.maxUploadBytes = m_settings.maxUploadBytes;
    m_guard = std::make_unique<ConnectionGuard>(guard);
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &TextServer::onAccess, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(m_settings.connectionTimeoutSeconds),
        MHD_OPTION_CONNECTION_LIMIT, unsigned(m_guard->acceptLimit()), MHD_OPTION_NOTIFY_COMPLETED,
        &TextServer::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION, &TextServer::onConnection,
        this, MHD_OPTION_END);
    if (!m_daemon) {
        m_guard.reset();
        return false;
    }
    socket.release(); // the daemon closes it
    m_lastClosedMs = steadyMilliseconds();
    return true;
}

qint64 TextServer::idleMilliseconds() const
{
    if (m_openConnections.load() > 0)
        return 0;
    return std::max<qint64>(0, steadyMilliseconds() - m_lastClosedMs.load());
}

void TextServer::stopAccepting()
{
    if (!m_daemon)
        return;
    const MHD_socket fd = MHD_quiesce_daemon(m_daemon);
    if (fd != MHD_INVALID_SOCKET)
        ::close(fd); // systemd keeps its own copy
}

void TextServer::stop()
{
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
    m_guard.reset();
}

MHD_Result TextServer::onAccess(void *self, MHD_Connection *connection, const char *url,
                                const char *method, const char *, const char *uploadData,
                                size_t *uploadDataSize, void **state)
{
    try {
        return static_cast<TextServer *>(self)->handle(connection, url, method, uploadData,
                                                       uploadDataSize, state);
    } catch (...) {
        // Out of memory or the like: the connection goes, the server stays.
        return MHD_NO;
    }
}

void TextServer::onCompleted(void *self, MHD_Connection *connection, void **state,
                             MHD_RequestTerminationCode)
{
    delete static_cast<Request *>(*state);
    *state = nullptr;
    if (ConnectionGuard::Connection *guarded = guardedConnection(connection))
        static_cast<TextServer *>(self)->m_guard->requestEnded(guarded);
}

void TextServer::onConnection(void *self, MHD_Connection *connection, void **socketContext,
                              MHD_ConnectionNotificationCode code)
{
    auto *server = static_cast<TextServer *>(self);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        ++server->m_openConnections;
    } else {
        server->m_lastClosedMs = steadyMilliseconds();
        --server->m_openConnections;
    }
    ConnectionGuard &guard = *server->m_guard;
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info)
            *socketContext = guard.opened(info->connect_fd);
    } else if (*socketContext) {
        guard.closed(static_cast<ConnectionGuard::Connection *>(*socketContext));
        *socketContext = nullptr;
    }
}

MHD_Result TextServer::handle(MHD_Connection *connection, const char *url, const char *method,
                              const char *uploadData, size_t *uploadDataSize, void **state)
{
    const bool tika = std::strcmp(url, "/tika") == 0 || std::strcmp(url, "/tika/") == 0;
    const bool version = std::strcmp(url, "/version") == 0;
    const bool isGet = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                       std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    const bool isPut = std::strcmp(method, MHD_HTTP_METHOD_PUT) == 0;

    ConnectionGuard::Connection *guarded = guardedConnection(connection);
    auto *request = static_cast<Request *>(*state);
    if (!request) {
        request = new Request;
        *state = request;
        bool announced = false;
        const qint64 bodyBytes =
            headerValue(connection, MHD_HTTP_HEADER_CONTENT_LENGTH).toLongLong(&announced);
        if (guarded && !m_guard->requestStarted(guarded, announced ? bodyBytes : -1))
            return queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                         "The server is busy; try again later.\n", nullptr, true);
        if (tika && isPut) {
            request->isUpload = true;
            request->typeHint = typeHintFrom(headerValue(connection, MHD_HTTP_HEADER_CONTENT_TYPE));
            QByteArray name = headerValue(connection, "File-Name");
            if (name.isEmpty())
                name = fileNameFromDisposition(
                    headerValue(connection, MHD_HTTP_HEADER_CONTENT_DISPOSITION));
            request->nameHint = baseName(name);
            // Refused before a byte of the body is stored.
            const QByteArray length = headerValue(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
            bool ok = false;
            if (length.toLongLong(&ok) > m_settings.maxUploadBytes && ok)
                return queue(connection, MHD_HTTP_CONTENT_TOO_LARGE,
                             QStringLiteral("The document is larger than the server accepts "
                                            "(%1 MiB).\n")
                                 .arg(m_settings.maxUploadBytes / (1024 * 1024))
                                 .toUtf8(),
                             nullptr, true);
        }
        return MHD_YES; // the body, if any, follows in later calls
    }

    if (guarded) {
        if (*uploadDataSize > 0)
            m_guard->bodyReceived(guarded, qint64(*uploadDataSize));
        else
            m_guard->requestReceived(guarded);
    }
    if (!request->isUpload) {
        // Anything sent along with a GET is read and dropped.
        if (*uploadDataSize > 0) {
            *uploadDataSize = 0;
            return MHD_YES;
        }
        if (tika && isGet)
            return queue(connection, MHD_HTTP_OK, greeting());
        if (version && isGet)
            return queue(connection, MHD_HTTP_OK, versionText());
        if (tika)
            return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Use GET or PUT.\n",
                         "GET, HEAD, PUT");
        if (version)
            return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Use GET.\n", "GET, HEAD");
        return queue(connection, MHD_HTTP_NOT_FOUND, "Not found. PUT documents to /tika.\n");
    }

    if (*uploadDataSize > 0) {
        // Only a chunked upload gets here past the cap (a declared length was refused at
        // once): its end may never come, so the connection goes.
        if (request->body.size() + qint64(*uploadDataSize) > m_settings.maxUploadBytes)
            return MHD_NO;
        if (!request->bodyFailed && !request->body.append(uploadData, *uploadDataSize))
            request->bodyFailed = true; // keep reading, to answer cleanly at the end
        *uploadDataSize = 0;
        return MHD_YES;
    }
    return extract(connection, *request);
}

// The text of a long parse, sent as the child produces it (chunked). Once the first piece is
// out the status is 200 for good: a parse that fails later ends the connection without the
// closing chunk, so the client sees a broken transfer, never a truncated text.
struct TextServer::Stream
{
    WorkerPool &pool;
    std::unique_ptr<WorkerPool::Job> job;
    QByteArray pending;
    qsizetype offset = 0;
    bool finished = false;

    ssize_t read(char *buffer, size_t max)
    {
        while (offset >= pending.size()) {
            if (finished)
                return MHD_CONTENT_READER_END_OF_STREAM;
            JobOutcome outcome = pool.next(*job);
            if (outcome.kind == JobOutcome::Kind::Done &&
                outcome.status != ExtractStatus::Unparseable) {
                finished = true;
            } else if (outcome.kind != JobOutcome::Kind::Partial) {
                if (outcome.kind != JobOutcome::Kind::ClientGone)
                    std::fprintf(stderr, "delvora-textd: a parse failed after its text began: %s\n",
                                 outcome.error.toLocal8Bit().constData());
                return MHD_CONTENT_READER_END_WITH_ERROR;
            }
            pending = std::move(outcome.utf8Text);
            offset = 0;
        }
        const size_t n = std::min(max, size_t(pending.size() - offset));
        std::memcpy(buffer, pending.constData() + offset, n);
        offset += qsizetype(n);
        return ssize_t(n);
    }
};

MHD_Result TextServer::queueStream(MHD_Connection *connection, std::unique_ptr<WorkerPool::Job> job,
                                   const QByteArray &first)
{
    auto *stream = new Stream{m_pool, std::move(job), first};
    MHD_Response *response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, 64 * 1024,
        [](void *cls, uint64_t, char *buffer, size_t max) -> ssize_t {
            try {
                return static_cast<Stream *>(cls)->read(buffer, max);
            } catch (...) {
                return MHD_CONTENT_READER_END_WITH_ERROR;
            }
        },
        stream, [](void *cls) { delete static_cast<Stream *>(cls); });
    if (!response) {
        delete stream;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, PlainTextUtf8);
    const MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return rc;
}

MHD_Result TextServer::extract(MHD_Connection *connection, Request &request)
{
    if (request.bodyFailed)
        return queue(connection, MHD_HTTP_INTERNAL_SERVER_ERROR,
                     "The document could not be stored for parsing.\n");
    if (request.body.size() == 0)
        return queue(connection, MHD_HTTP_UNPROCESSABLE_CONTENT, "The document is empty.\n");

    auto job = std::make_unique<WorkerPool::Job>();
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const JobOutcome outcome = m_pool.run(*job, request.body, request.typeHint, request.nameHint,
                                          info ? info->connect_fd : -1);
    switch (outcome.kind) {
    case JobOutcome::Kind::Partial:
        return queueStream(connection, std::move(job), outcome.utf8Text);
    case JobOutcome::Kind::ClientGone:
        return MHD_NO;
    case JobOutcome::Kind::Done:
        switch (outcome.status) {
        case ExtractStatus::Ok:
            return queue(connection, MHD_HTTP_OK, outcome.utf8Text);
        case ExtractStatus::Unsupported:
            return queue(connection, MHD_HTTP_OK, {});
        case ExtractStatus::Unparseable:
            break;
        }
        return queue(connection, MHD_HTTP_UNPROCESSABLE_CONTENT,
                     ("The document cannot be parsed: " + outcome.error + "\n").toUtf8());
    case JobOutcome::Kind::Crashed:
        return queue(connection, MHD_HTTP_UNPROCESSABLE_CONTENT,
                     ("The parser failed on this document: " + outcome.error + "\n").toUtf8());
    case JobOutcome::Kind::TimedOut:
        return queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                     ("The document took too long to parse: " + outcome.error + "\n").toUtf8());
    case JobOutcome::Kind::Unavailable:
        break;
    }
    return queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                 ("The server cannot parse documents now: " + outcome.error + "\n").toUtf8());
}

} // namespace dv::textd
