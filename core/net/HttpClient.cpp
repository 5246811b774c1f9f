#include "core/net/HttpClient.h"

#include "core/net/CurlApi.h"

#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

using Clock = std::chrono::steady_clock;

// An error answer's body is kept for the caller, but not without limit.
constexpr qsizetype kMaxErrorBody = 1024 * 1024;

struct EasyDeleter
{
    const CurlApi *Api;
    void operator()(CURL *c) const { Api->easy_cleanup(c); }
};
struct MultiDeleter
{
    const CurlApi *Api;
    void operator()(CURLM *m) const { Api->multi_cleanup(m); }
};
struct SlistDeleter
{
    const CurlApi *Api;
    void operator()(curl_slist *l) const { Api->slist_free_all(l); }
};

// The curl handles of this thread's kept-alive connection: the multi handle owns the
// connection cache, so both outlive the request.
struct ThreadSession
{
    const CurlApi *Api = nullptr;
    CURL *Easy = nullptr;
    CURLM *Multi = nullptr;
    bool Busy = false; // a request of this thread uses them (a callback may send another)

    ~ThreadSession()
    {
        if (Easy)
            Api->easy_cleanup(Easy);
        if (Multi)
            Api->multi_cleanup(Multi);
    }
};

thread_local ThreadSession threadSession;

} // namespace

struct HttpClient::Request
{
    QString url;
    bool upload = false;
    int uploadFd = -1;
    const QByteArray *uploadData = nullptr;
    qint64 uploadOffset = 0;
    qint64 uploadLeft = -1; // of an announced length from Fd; -1 sends to the end (chunked)
    qint64 uploadStart = 0; // Fd's offset where the body starts
    qint64 uploadLength = -1;
    QIODevice *sink = nullptr;

    const CurlApi *api = nullptr;
    CURL *easy = nullptr;
    const HttpClient *client = nullptr;
    HttpResponse response;
    bool uploadFailed = false;
    bool bodyStopped = false;
    QString sinkError;

    Clock::time_point lastMove;
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
    bool timedOut = false;
    bool cancelled = false;
    bool isConnected = false;

    // The read time-out counts from the connection on; until then the connect time-out rules.
    bool connected()
    {
        if (!isConnected) {
            long port = 0;
            curl_off_t connectTime = 0;
            api->easy_getinfo(easy, CURLINFO_LOCAL_PORT, &port);
            api->easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
            isConnected = port != 0 || connectTime > 0;
        }
        return isConnected;
    }

    bool readTimeoutExpired(Clock::time_point now)
    {
        if (client->m_deadline && now >= *client->m_deadline)
            return true;
        if (!connected())
            lastMove = now;
        return client->m_readTimeoutMs > 0 &&
               now - lastMove >= std::chrono::milliseconds(client->m_readTimeoutMs);
    }

    bool redirectBody() const
    {
        const int s = response.statusCode;
        return client->m_followRedirects && s >= 300 && s < 400 &&
               !response.header("Location").isNull();
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *self)
    {
        auto *r = static_cast<Request *>(self);
        const size_t n = size * count;
        QByteArray line(data, static_cast<qsizetype>(n));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            // A new status line: an interim answer (100) or a redirect went before.
            r->response.headers.clear();
            r->response.body.clear();
            const QList<QByteArray> parts = line.split(' ');
            r->response.statusCode = parts.size() > 1 ? parts[1].toInt() : 0;
            const qsizetype reason = line.indexOf(' ', line.indexOf(' ') + 1);
            r->response.statusText = reason > 0 ? line.mid(reason + 1).trimmed() : QByteArray();
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            r->response.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        return n;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *self)
    {
        auto *r = static_cast<Request *>(self);
        const size_t n = size * count;
        if (r->redirectBody())
            return n;
        const int status = r->response.statusCode;
        if (r->client->m_body && status >= 200 && status < 300) {
            if (!r->client->m_body(data, static_cast<qsizetype>(n))) {
                r->bodyStopped = true;
                return 0;
            }
            return n;
        }
        if (r->sink && r->response.statusCode < 400) {
            if (r->sink->write(data, static_cast<qint64>(n)) != static_cast<qint64>(n)) {
                r->sinkError = r->sink->errorString();
                return 0;
            }
            return n;
        }
        if ((r->sink || r->client->m_body) && r->response.body.size() >= kMaxErrorBody)
            return n;
        r->response.body.append(data, static_cast<qsizetype>(n));
        return n;
    }

    static size_t onRead(char *buffer, size_t size, size_t count, void *self)
    {
        auto *r = static_cast<Request *>(self);
        const size_t room = size * count;
        if (r->uploadData) {
            const qint64 left = r->uploadData->size() - r->uploadOffset;
            const size_t n = static_cast<size_t>(std::min<qint64>(left, static_cast<qint64>(room)));
            std::copy_n(r->uploadData->constData() + r->uploadOffset, n, buffer);
            r->uploadOffset += static_cast<qint64>(n);
            return n;
        }
        // Never more than announced: a server answers once it has the announced length and
        // closes, and a write beyond it would fail the whole request.
        const size_t want =
            r->uploadLeft < 0 ? room
                              : static_cast<size_t>(std::min<qint64>(r->uploadLeft, qint64(room)));
        if (want == 0)
            return 0;
        for (;;) {
            const ssize_t got = ::read(r->uploadFd, buffer, want);
            if (got > 0 || (got == 0 && r->uploadLeft < 0)) {
                if (r->uploadLeft > 0)
                    r->uploadLeft -= got;
                return static_cast<size_t>(got);
            }
            if (got == 0 || errno != EINTR) {
                // Read failed, or the file shrank below the announced length.
                r->uploadFailed = true;
                return CURL_READFUNC_ABORT;
            }
        }
    }

    // Back to the start of the body, for a request sent again over a new connection.
    static int onSeek(void *self, curl_off_t offset, int origin)
    {
        auto *r = static_cast<Request *>(self);
        if (origin != SEEK_SET || offset < 0)
            return CURL_SEEKFUNC_CANTSEEK;
        if (r->uploadData) {
            if (offset > r->uploadData->size())
                return CURL_SEEKFUNC_FAIL;
            r->uploadOffset = offset;
            return CURL_SEEKFUNC_OK;
        }
        if (r->uploadLength < 0 || offset > r->uploadLength)
            return CURL_SEEKFUNC_CANTSEEK; // a pipe's bytes are gone
        if (::lseek(r->uploadFd, static_cast<off_t>(r->uploadStart + offset), SEEK_SET) < 0)
            return CURL_SEEKFUNC_FAIL;
        r->uploadLeft = r->uploadLength - offset;
        return CURL_SEEKFUNC_OK;
    }

    static int onProgress(void *self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up)
    {
        auto *r = static_cast<Request *>(self);
        const auto now = Clock::now();
        if (down != r->lastDown || up != r->lastUp) {
            r->lastDown = down;
            r->lastUp = up;
            r->lastMove = now;
        }
        if (r->readTimeoutExpired(now)) {
            r->timedOut = true;
            return 1;
        }
        if (r->client->m_progress) {
            curl_off_t total = -1;
            r->api->easy_getinfo(r->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
            if (r->redirectBody())
                return 0;
            if (!r->client->m_progress(static_cast<qint64>(down), static_cast<qint64>(total))) {
                r->cancelled = true;
                return 1;
            }
        }
        return 0;
    }
};

// libcurl is loaded by the first request, not here: a client costs nothing until used.
HttpClient::HttpClient() = default;

void HttpClient::setHeader(const QByteArray &name, const QByteArray &value)
{
    m_headers.removeIf(
        [&](const auto &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
    if (!value.isNull())
        m_headers.append({name, value});
}

void HttpClient::setFollowRedirects(bool follow, int maxRedirects)
{
    m_followRedirects = follow;
    m_maxRedirects = maxRedirects;
}

HttpResponse HttpClient::get(const QString &url)
{
    Request r;
    r.url = url;
    return perform(r);
}

HttpResponse HttpClient::get(const QString &url, QIODevice &sink)
{
    Request r;
    r.url = url;
    r.sink = &sink;
    return perform(r);
}

HttpResponse HttpClient::put(const QString &url, int fd)
{
    Request r;
    r.url = url;
    r.upload = true;
    r.uploadFd = fd;
    return perform(r);
}

HttpResponse HttpClient::put(const QString &url, const QByteArray &body)
{
    Request r;
    r.url = url;
    r.upload = true;
    r.uploadData = &body;
    return perform(r);
}

HttpResponse HttpClient::perform(Request &r)
{
    using Kind = HttpTransportError::Kind;
    if (m_deadline && Clock::now() >= *m_deadline)
        throw HttpTransportError(Kind::Timeout, "Timed out");
    const CurlApi &api = CurlApi::Get();
    std::unique_ptr<CURL, EasyDeleter> ownEasy(nullptr, EasyDeleter{&api});
    std::unique_ptr<CURLM, MultiDeleter> ownMulti(nullptr, MultiDeleter{&api});
    ThreadSession &session = threadSession;
    const bool keepAlive = m_keepAlive && !session.Busy;
    if (keepAlive) {
        session.Api = &api;
        if (!session.Easy)
            session.Easy = api.easy_init();
        if (!session.Multi)
            session.Multi = api.multi_init();
        if (session.Easy)
            api.easy_reset(session.Easy); // the options of the last request go
    } else {
        ownEasy.reset(api.easy_init());
        ownMulti.reset(api.multi_init());
    }
    CURL *e = keepAlive ? session.Easy : ownEasy.get();
    CURLM *multi = keepAlive ? session.Multi : ownMulti.get();
    if (!e || !multi)
        throw HttpTransportError(Kind::Failure, "Cannot create an HTTP connection");
    struct BusyMark
    {
        bool *Flag;
        ~BusyMark()
        {
            if (Flag)
                *Flag = false;
        }
    } busy{keepAlive ? &session.Busy : nullptr};
    session.Busy = session.Busy || keepAlive;
    r.api = &api;
    r.easy = e;
    r.client = this;

    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray url = r.url.toUtf8();
    api.easy_setopt(e, CURLOPT_URL, url.constData());
    api.easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    api.easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    const char *protocols = m_allowHttps ? "http,https" : "http";
    api.easy_setopt(e, CURLOPT_PROTOCOLS_STR, protocols);
    api.easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    api.easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    if (!keepAlive) {
        // A new connection for every request; nothing is shared between calls.
        api.easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
        api.easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    }
    // The loopback is never reached through a proxy from the environment.
    api.easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    api.easy_setopt(e, CURLOPT_FOLLOWLOCATION, m_followRedirects ? 1L : 0L);
    api.easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(m_maxRedirects));
    if (m_connectTimeoutMs > 0)
        api.easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_connectTimeoutMs));

    api.easy_setopt(e, CURLOPT_HEADERFUNCTION, &Request::onHeader);
    api.easy_setopt(e, CURLOPT_HEADERDATA, &r);
    api.easy_setopt(e, CURLOPT_WRITEFUNCTION, &Request::onBody);
    api.easy_setopt(e, CURLOPT_WRITEDATA, &r);
    api.easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Request::onProgress);
    api.easy_setopt(e, CURLOPT_XFERINFODATA, &r);
    api.easy_setopt(e, CURLOPT_NOPROGRESS, 0L);

    if (r.upload) {
        api.easy_setopt(e, CURLOPT_UPLOAD, 1L);
        api.easy_setopt(e, CURLOPT_READFUNCTION, &Request::onRead);
        api.easy_setopt(e, CURLOPT_READDATA, &r);
        api.easy_setopt(e, CURLOPT_SEEKFUNCTION, &Request::onSeek);
        api.easy_setopt(e, CURLOPT_SEEKDATA, &r);
        curl_off_t length = -1;
        if (r.uploadData) {
            length = r.uploadData->size();
        } else {
            struct stat st
            {
            };
            const off_t at = ::lseek(r.uploadFd, 0, SEEK_CUR);
            if (::fstat(r.uploadFd, &st) == 0 && S_ISREG(st.st_mode) && at >= 0)
                length = std::max<curl_off_t>(0, st.st_size - at);
            r.uploadLeft = length;
            r.uploadLength = length;
            r.uploadStart = at;
        }
        api.easy_setopt(e, CURLOPT_INFILESIZE_LARGE, length);
    }

    std::unique_ptr<curl_slist, SlistDeleter> headerList(nullptr, SlistDeleter{&api});
    auto addHeader = [&](const QByteArray &line) {
        curl_slist *l = api.slist_append(headerList.get(), line.constData());
        if (l) {
            headerList.release();
            headerList.reset(l);
        }
    };
    // libcurl would otherwise announce "Expect: 100-continue" and wait for the go-ahead.
    addHeader("Expect:");
    for (const auto &h : m_headers)
        addHeader(h.first + ": " + h.second);
    api.easy_setopt(e, CURLOPT_HTTPHEADER, headerList.get());

    // The multi interface lets the wait for data end exactly when the read time-out is due;
    // curl_easy_perform would only notice it on its next once-a-second wake-up.
    api.multi_add_handle(multi, e);
    r.lastMove = Clock::now();
    CURLcode result = CURLE_OK;
    bool finished = false;
    for (;;) {
        int running = 0;
        if (api.multi_perform(multi, &running) != CURLM_OK)
            break;
        int queued = 0;
        while (CURLMsg *msg = api.multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                finished = true;
            }
        }
        if (finished || running == 0 || r.timedOut || r.cancelled)
            break;
        const auto now = Clock::now();
        if (r.readTimeoutExpired(now)) {
            r.timedOut = true;
            break;
        }
        // With a progress callback, wake often enough that a cancel it reports ends the
        // exchange at once, even while no data moves.
        int waitMs = m_progress ? 100 : 1000;
        const auto waitUntil = [&](Clock::time_point due) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now);
            waitMs = static_cast<int>(std::clamp<qint64>(left.count() + 1, 1, waitMs));
        };
        if (m_readTimeoutMs > 0)
            waitUntil(r.lastMove + std::chrono::milliseconds(m_readTimeoutMs));
        if (m_deadline)
            waitUntil(*m_deadline);
        api.multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    // Removing a transfer that did not finish closes its connection: nothing half-read is
    // kept for the next request.
    api.multi_remove_handle(multi, e);
    r.connected(); // asked while the handle still holds this exchange's figures
    if (keepAlive)
        api.easy_reset(e); // no pointer into this call's frame stays behind

    if (r.timedOut)
        throw HttpTransportError(Kind::Timeout, "Read timed out");
    if (r.cancelled)
        throw HttpTransportError(Kind::Cancelled, "Cancelled");
    if (r.bodyStopped)
        return std::move(r.response);
    if (!finished)
        throw HttpTransportError(Kind::Failure, "The HTTP exchange ended unexpectedly");
    if (result != CURLE_OK) {
        std::string message;
        if (!r.sinkError.isEmpty())
            message = "Cannot write the received data: " + r.sinkError.toStdString();
        else if (r.uploadFailed)
            message = "Cannot read the data to send";
        else
            message = errorBuffer[0] ? errorBuffer : api.easy_strerror(result);
        // A connect time-out is as unreachable as a refused connection.
        const bool unreachable = result == CURLE_COULDNT_CONNECT ||
                                 result == CURLE_COULDNT_RESOLVE_HOST ||
                                 result == CURLE_COULDNT_RESOLVE_PROXY ||
                                 (result == CURLE_OPERATION_TIMEDOUT && !r.connected());
        throw HttpTransportError(unreachable ? Kind::Unreachable : Kind::Failure, message);
    }
    if (r.response.statusCode >= 400)
        throw HttpStatusError(std::move(r.response));
    return std::move(r.response);
}

} // namespace dv
