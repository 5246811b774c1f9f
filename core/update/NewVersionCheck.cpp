#include "core/update/NewVersionCheck.h"

#include "core/net/HttpClient.h"
#include "core/update/VersionDocuments.h"

#include <chrono>
#include <exception>

namespace dv {

namespace {

QString gNewVersionMessage;
bool gCloseEndsProgram = false;

constexpr int kReadTimeoutMs = 10000;
// No window exists while the check runs: from its start to its answer, connect included, it
// takes no longer than this, however slowly a server sends.
constexpr std::chrono::milliseconds kCheckDeadline{5000};
constexpr int kMaxRedirects = 10;
// Both documents are a few lines; a server that sends more is not heard to the end.
constexpr qint64 kMaxDocumentBytes = 1024 * 1024;

QByteArray FetchDocument(HttpClient &client, const QString &url)
{
    const HttpResponse response = client.get(url);
    // Anything but a success is a failure, also a redirect left unfollowed.
    if (response.statusCode < 200 || response.statusCode > 299)
        throw HttpError("Unexpected status " + std::to_string(response.statusCode));
    return response.body;
}

} // namespace

QString UpdateBaseUrl()
{
    const QString fromEnvironment = qEnvironmentVariable("DELVORA_UPDATE_URL");
    return fromEnvironment.isEmpty() ? QStringLiteral(DELVORA_DEFAULT_UPDATE_URL) : fromEnvironment;
}

QString UpdateServerUrl(const QString &baseUrl, const QString &relativePath)
{
    return baseUrl.endsWith(u'/') ? baseUrl + relativePath : baseUrl + u'/' + relativePath;
}

bool CheckForNewVersion()
{
    return CheckForNewVersion(UpdateBaseUrl());
}

bool CheckForNewVersion(const QString &baseUrl)
{
    const auto deadline = std::chrono::steady_clock::now() + kCheckDeadline;
    try {
        QByteArray versionDocument;
        QByteArray changesDocument;
        {
            HttpClient client;
            client.setDeadline(deadline);
            client.setUserAgent("Mozilla/4.0 (compatible; MyApp)");
            client.setFollowRedirects(true, kMaxRedirects);
            client.setAllowHttps(true);
            client.setReadTimeout(kReadTimeoutMs);
            client.setProgressCallback(
                [](qint64 received, qint64) { return received <= kMaxDocumentBytes; });
            versionDocument = FetchDocument(
                client,
                UpdateServerUrl(baseUrl, QStringLiteral("download/version/delvora-version.html")));
            // Fetched in every case, also when the version turns out not to be newer.
            changesDocument = FetchDocument(
                client,
                UpdateServerUrl(baseUrl, QStringLiteral("download/version/delvora-changes.html")));
        }
        const auto offer =
            EvaluateVersionDocuments(versionDocument, changesDocument, RunningVersionNumber());
        if (!offer)
            return false;
        if (offer->mandatory)
            gCloseEndsProgram = true;
        gNewVersionMessage = offer->message;
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

QString NewVersionMessage()
{
    return gNewVersionMessage;
}

bool CloseEndsProgram()
{
    return gCloseEndsProgram;
}

void SetCloseEndsProgram(bool value)
{
    gCloseEndsProgram = value;
}

} // namespace dv
