#include "core/search/ExtractionClient.h"

#include "core/net/HttpClient.h"
#include "core/search/ReadOnlyFile.h"

#include <mutex>

namespace dv {

namespace {

std::mutex endpointMutex;
QString endpointOverride;

} // namespace

QString DefaultExtractionServerEndpoint()
{
    return QStringLiteral("http://localhost:9998");
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

bool ExtractTextViaServer(const QString &fileName, QString &text, QString &errorText,
                          const QString &endpoint, int readTimeoutMs)
{
    text.clear();
    errorText.clear();
    try {
        ReadOnlyFile file = OpenFileForReading(fileName, errorText);
        if (!file.isOpen())
            return false;
        HttpClient client;
        client.setReadTimeout(readTimeoutMs);
        client.setContentType("application/octet-stream");
        client.setAccept("text/plain; charset=utf-8");
        QString base = endpoint;
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        HttpResponse response;
        try {
            response = client.put(base + QStringLiteral("/tika"), file.fd());
        } catch (...) {
            file.close();
            throw;
        }
        file.close();
        // Redirects are not followed: an answer other than 2xx carries no document text.
        if (response.statusCode < 200 || response.statusCode > 299)
            throw HttpStatusError(std::move(response));
        text = QString::fromUtf8(response.body);
        return !text.isEmpty();
    } catch (const HttpStatusError &e) {
        errorText = QStringLiteral("HTTP error (%1): %2")
                        .arg(e.statusCode())
                        .arg(QString::fromUtf8(e.statusText()));
    } catch (const std::exception &e) {
        errorText = QStringLiteral("Error: ") + QString::fromUtf8(e.what());
    } catch (...) {
        errorText = QStringLiteral("Error: unknown failure");
    }
    text.clear();
    return false;
}

} // namespace dv
