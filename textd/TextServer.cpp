#include "textd/TextServer.h"

#include "textd/ListenSocket.h"
#include "textd/RequestBody.h"

#include <QByteArrayList>
#include <QString>

#include <algorithm>
#include <cstring>
#include <microhttpd.h>

namespace dv::textd {

namespace {

const char *const PlainTextUtf8 = "text/plain; charset=UTF-8";

MHD_Result queue(MHD_Connection *connection, unsigned status, const QByteArray &body,
                 const char *allow = nullptr)
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
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
    if (socket.isIpv6())
        flags |= MHD_USE_IPv6;
    const int fd = socket.fd();
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &TextServer::onAccess, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(m_settings.connectionTimeoutSeconds),
        MHD_OPTION_CONNECTION_LIMIT, unsigned(m_settings.maxConnections),
        MHD_OPTION_NOTIFY_COMPLETED, &TextServer::onCompleted, this, MHD_OPTION_END);
    if (!m_daemon)
        return false;
    socket.release(); // the daemon closes it
    return true;
}

void TextServer::stop()
{
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
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

void TextServer::onCompleted(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode)
{
    delete static_cast<Request *>(*state);
    *state = nullptr;
}

MHD_Result TextServer::handle(MHD_Connection *connection, const char *url, const char *method,
                              const char *uploadData, size_t *uploadDataSize, void **state)
{
    const bool tika = std::strcmp(url, "/tika") == 0 || std::strcmp(url, "/tika/") == 0;
    const bool version = std::strcmp(url, "/version") == 0;
    const bool isGet = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                       std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    const bool isPut = std::strcmp(method, MHD_HTTP_METHOD_PUT) == 0;

    auto *request = static_cast<Request *>(*state);
    if (!request) {
        request = new Request;
        *state = request;
        if (tika && isPut) {
            request->isUpload = true;
            request->typeHint = typeHintFrom(headerValue(connection, MHD_HTTP_HEADER_CONTENT_TYPE));
            QByteArray name = headerValue(connection, "File-Name");
            if (name.isEmpty())
                name = fileNameFromDisposition(
                    headerValue(connection, MHD_HTTP_HEADER_CONTENT_DISPOSITION));
            request->nameHint = baseName(name);
        }
        return MHD_YES; // the body, if any, follows in later calls
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
        if (!request->bodyFailed && !request->body.append(uploadData, *uploadDataSize))
            request->bodyFailed = true; // keep reading, to answer cleanly at the end
        *uploadDataSize = 0;
        return MHD_YES;
    }
    return extract(connection, *request);
}

MHD_Result TextServer::extract(MHD_Connection *connection, Request &request)
{
    if (request.bodyFailed)
        return queue(connection, MHD_HTTP_INTERNAL_SERVER_ERROR,
                     "The document could not be stored for parsing.\n");
    if (request.body.size() == 0)
        return queue(connection, MHD_HTTP_UNPROCESSABLE_CONTENT, "The document is empty.\n");

    const JobOutcome outcome = m_pool.run(request.body, request.typeHint, request.nameHint);
    switch (outcome.kind) {
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
