#pragma once

#include "core/net/HttpResponse.h"
#include "core/net/HttpStatusError.h"
#include "core/net/HttpTransportError.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QIODevice;

namespace dv {

// A small blocking HTTP/1.1 client (plain HTTP, HTTPS when asked for) over libcurl. Each request
// runs on the calling thread, over a fresh connection unless kept-alive connections are asked
// for; the object only keeps the settings, so one client may send several requests one after
// the other.
//
// Failures are exceptions: HttpStatusError for an answer with status 400 or above,
// HttpTransportError for everything else (its what() is the message to show).
class HttpClient
{
public:
    // Received body bytes so far and the announced length (-1 when unknown, e.g. chunked).
    // Returning false cancels the request. Also called while no data moves, about ten times a
    // second, so that a cancel is seen at once.
    using ProgressCallback = std::function<bool(qint64 received, qint64 total)>;
    // Takes the body of a 2xx answer piece by piece as it arrives, instead of the response.
    // Returning false stops the transfer; the request then ends as a success.
    using BodyCallback = std::function<bool(const char *data, qsizetype size)>;

    HttpClient();

    // Sets (or, with a null Value, removes) a request header.
    void setHeader(const QByteArray &name, const QByteArray &value);
    void setContentType(const QByteArray &value) { setHeader("Content-Type", value); }
    void setAccept(const QByteArray &value) { setHeader("Accept", value); }
    void setUserAgent(const QByteArray &value) { setHeader("User-Agent", value); }

    // Longest wait for any data (either direction) once connected, in milliseconds; 0 waits
    // forever.
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }
    int readTimeout() const { return m_readTimeoutMs; }
    // Longest wait for the connection; 0 keeps the library's default.
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    // The moment by which every request must be done, connect included, however data flows;
    // a request still running then fails as timed out, one started after it at once.
    void setDeadline(std::chrono::steady_clock::time_point at) { m_deadline = at; }
    // Redirects are not followed unless asked for.
    void setFollowRedirects(bool follow, int maxRedirects = 5);
    void setProgressCallback(ProgressCallback callback) { m_progress = std::move(callback); }
    void setBodyCallback(BodyCallback callback) { m_body = std::move(callback); }
    // Also allows https addresses, verified against the system's certificates (libcurl's
    // defaults: peer and host name checked).
    void setAllowHttps(bool allow) { m_allowHttps = allow; }
    // Sends over the connection this thread kept open from an earlier request to the same
    // server, and keeps it open afterwards. Each thread has one such connection (and curl
    // handle), which lives as long as the thread; a connection the server has closed meanwhile
    // is replaced, the request sent again from the start when it broke before any answer.
    void setKeepAlive(bool keep) { m_keepAlive = keep; }

    // GET with the body kept in the response.
    HttpResponse get(const QString &url);
    // GET with the body of a successful answer written to Sink (an error answer's body is
    // kept in the thrown error instead).
    HttpResponse get(const QString &url, QIODevice &sink);
    // PUT with the body streamed from Fd, from its current offset to its end; the length is
    // announced when Fd is a regular file, else the body goes chunked. Exactly the announced
    // length is sent: what a growing file gains meanwhile is left out, and a file that shrank
    // fails the request.
    HttpResponse put(const QString &url, int fd);
    // PUT with the body from memory.
    HttpResponse put(const QString &url, const QByteArray &body);

private:
    struct Request;
    HttpResponse perform(Request &request);

    HttpHeaderList m_headers;
    int m_readTimeoutMs = 0;
    int m_connectTimeoutMs = 0;
    bool m_followRedirects = false;
    bool m_allowHttps = false;
    bool m_keepAlive = false;
    int m_maxRedirects = 5;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    ProgressCallback m_progress;
    BodyCallback m_body;
};

} // namespace dv
