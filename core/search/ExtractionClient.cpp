#include "core/search/ExtractionClient.h"

#include "core/net/HttpClient.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ReadOnlyFile.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace dv {

std::atomic<bool> ContentTestCancelled{false};

namespace {

std::mutex endpointMutex;
QString endpointOverride;
std::atomic<int> readTimeoutOverride{0};

// A server found unreachable is not asked again on this thread for a moment: a search without
// a server running would otherwise try a connection for every document. Each file still gets
// the reason; the threads of a search end with it, so the next search asks again at once.
constexpr auto kUnreachableMemory = std::chrono::seconds(1);

struct UnreachableMemo
{
    QString Endpoint;
    QString ErrorText;
    std::chrono::steady_clock::time_point Until;
};

thread_local UnreachableMemo unreachableMemo;

} // namespace

qsizetype IncompleteUtf8Tail(QByteArrayView data)
{
    const qsizetype n = data.size();
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, n); ++back) {
        const auto b = static_cast<unsigned char>(data[n - back]);
        if ((b & 0xC0) == 0x80)
            continue;
        const int need = b >= 0xF8 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

QString DefaultExtractionServerEndpoint()
{
    const QString fromEnvironment = qEnvironmentVariable("DELVORA_EXTRACTION_URL");
    return fromEnvironment.isEmpty() ? QStringLiteral("http://localhost:9998") : fromEnvironment;
}

QString ExtractionServerEndpoint()
{
    std::lock_guard lock(endpointMutex);
    return endpointOverride.isEmpty() ? DefaultExtractionServerEndpoint() : endpointOverride;
}

void SetExtractionServerEndpoint(const QString &endpoint)
{
    std::lock_guard lock(endpointMutex);
    endpointOverride = endpoint;
}

int ExtractionReadTimeout()
{
    const int ms = readTimeoutOverride;
    return ms > 0 ? ms : kExtractionReadTimeoutMs;
}

void SetExtractionReadTimeout(int ms)
{
    readTimeoutOverride = ms;
}

ExtractionEnd StreamFileViaServer(int fd, const ExtractedTextSink &sink, QString &errorText,
                                  const QString &endpoint, int readTimeoutMs,
                                  ContentTestError *failure)
{
    errorText.clear();
    const auto fail = [&](ContentTestError error) {
        if (failure)
            *failure = std::move(error);
    };
    const auto now = std::chrono::steady_clock::now();
    if (now < unreachableMemo.Until && unreachableMemo.Endpoint == endpoint) {
        errorText = unreachableMemo.ErrorText;
        fail(ContentTestError::Unreachable(endpoint));
        return ExtractionEnd::Failed;
    }
    try {
        HttpClient client;
        // One connection per thread carries its documents one after the other.
        client.setKeepAlive(true);
        client.setReadTimeout(readTimeoutMs);
        client.setContentType("application/octet-stream");
        client.setAccept("text/plain; charset=utf-8");
        client.setProgressCallback([](qint64, qint64) { return !IsContentTestCancelled(); });
        // A character split between two reads is decoded whole with the second.
        QByteArray carry;
        bool stopped = false;
        const auto deliver = [&](QByteArrayView bytes) {
            const QString piece = QString::fromUtf8(bytes);
            if (piece.isEmpty())
                return true;
            stopped = !sink(piece);
            return !stopped;
        };
        client.setBodyCallback([&](const char *data, qsizetype size) {
            QByteArrayView bytes(data, size);
            QByteArray joined;
            if (!carry.isEmpty()) {
                joined = carry;
                joined.append(bytes);
                bytes = joined;
            }
            const qsizetype whole = bytes.size() - IncompleteUtf8Tail(bytes);
            carry = bytes.sliced(whole).toByteArray();
            return deliver(bytes.first(whole));
        });
        QString base = endpoint;
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        HttpResponse response = client.put(base + QStringLiteral("/tika"), fd);
        // Redirects are not followed: an answer other than 2xx carries no document text.
        if (response.statusCode < 200 || response.statusCode > 299)
            throw HttpStatusError(std::move(response));
        if (!stopped && !carry.isEmpty())
            deliver(carry); // cut off at the very end: decoded as a whole body would be
        return stopped ? ExtractionEnd::Stopped : ExtractionEnd::Complete;
    } catch (const HttpStatusError &e) {
        errorText = QStringLiteral("HTTP error (%1): %2")
                        .arg(e.statusCode())
                        .arg(QString::fromUtf8(e.statusText()));
        fail(ContentTestError::HttpStatus(e.statusCode(), QString::fromUtf8(e.statusText())));
    } catch (const HttpTransportError &e) {
        errorText = QStringLiteral("Error: ") + QString::fromUtf8(e.what());
        switch (e.kind()) {
        case HttpTransportError::Kind::Unreachable:
            fail(ContentTestError::Unreachable(endpoint));
            unreachableMemo = {endpoint, errorText,
                               std::chrono::steady_clock::now() + kUnreachableMemory};
            break;
        case HttpTransportError::Kind::Timeout:
            fail(ContentTestError::TimedOut(readTimeoutMs));
            break;
        case HttpTransportError::Kind::Cancelled:
            fail(ContentTestError::Cancelled());
            break;
        default:
            fail(ContentTestError::ExchangeFailed(QString::fromUtf8(e.what())));
            break;
        }
    } catch (const std::exception &e) {
        errorText = QStringLiteral("Error: ") + QString::fromUtf8(e.what());
        fail(ContentTestError::ExchangeFailed(QString::fromUtf8(e.what())));
    } catch (...) {
        errorText = QStringLiteral("Error: unknown failure");
        fail(ContentTestError::ExchangeFailed(QStringLiteral("unknown failure")));
    }
    return ExtractionEnd::Failed;
}

bool StreamTextViaServer(const QString &fileName, const ExtractedTextSink &sink, QString &errorText,
                         const QString &endpoint, int readTimeoutMs)
{
    errorText.clear();
    try {
        ReadOnlyFile file = OpenFileForReading(fileName, errorText);
        if (!file.isOpen())
            return false;
        bool anyText = false;
        const auto counting = [&](QStringView piece) {
            anyText = true;
            return sink(piece);
        };
        return StreamFileViaServer(file.fd(), counting, errorText, endpoint, readTimeoutMs) !=
                   ExtractionEnd::Failed &&
               anyText;
    } catch (...) {
        errorText = QStringLiteral("Error: unknown failure");
    }
    return false;
}

bool ExtractTextViaServer(const QString &fileName, QString &text, QString &errorText,
                          const QString &endpoint, int readTimeoutMs, bool *truncated)
{
    return ExtractTextThroughCache(fileName, text, errorText, nullptr, truncated, endpoint,
                                   readTimeoutMs);
}

} // namespace dv
