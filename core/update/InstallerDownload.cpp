#include "core/update/InstallerDownload.h"

#include "core/i18n/Translation.h"
#include "core/net/HttpClient.h"
#include "core/update/InstallerFolder.h"
#include "core/update/NewVersionCheck.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace dv {

namespace {

// The start of every Debian package: an ar archive whose first member is "debian-binary".
constexpr char kDebianPackageStart[] = "!<arch>\ndebian-binary";

QString CancelledText()
{
    return Translate(QStringLiteral("Download is cancelled. Please download manually."));
}

bool IsLoopbackHost(const QString &host)
{
    const QByteArray text = host.toLatin1();
    in_addr v4{};
    if (::inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, text.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool IsDebianPackage(int fd)
{
    char start[sizeof kDebianPackageStart - 1];
    return ::pread(fd, start, sizeof start, 0) == qint64(sizeof start) &&
           std::memcmp(start, kDebianPackageStart, sizeof start) == 0;
}

} // namespace

InstallerDownload::InstallerDownload(QString url) : m_url(std::move(url)) {}

QString InstallerDownload::DefaultUrl()
{
    return UpdateServerUrl(UpdateBaseUrl(), QStringLiteral(DELVORA_INSTALLER_PATH));
}

QString InstallerDownload::FileName()
{
    const QString name = QFileInfo(QStringLiteral(DELVORA_INSTALLER_PATH)).fileName();
    return name.isEmpty() || name == u'.' || name == QStringLiteral("..")
               ? QStringLiteral("delvora.deb")
               : name;
}

bool InstallerDownload::IsSafeSource(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return false;
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QStringLiteral("https"))
        return !parsed.host().isEmpty();
    return scheme == QStringLiteral("http") && IsLoopbackHost(parsed.host());
}

QString InstallerDownload::Run(const ProgressFn &progress)
{
    if (!IsSafeSource(m_url))
        throw InstallerDownloadError(
            Translate(QStringLiteral("The installer is downloaded only over a secure (HTTPS) "
                                     "connection, and this address does not use one:")) +
            u' ' + m_url);

    const InstallerFolder folder = InstallerFolder::Create();
    const QString path = folder.Path() + u'/' + FileName();
    // Only a package that is handed over stays in the cache folder.
    struct Discard
    {
        const InstallerFolder *Folder;
        ~Discard()
        {
            if (Folder)
                Folder->Remove();
        }
    } discard{&folder};
    QFile file;
    UniqueFd fd = folder.CreateFile(FileName());
    if (!file.open(fd.get(), QIODevice::ReadWrite, QFile::AutoCloseHandle))
        throw InstallerDownloadError(file.errorString());
    fd.release(); // the file closes it now

    HttpClient client;
    client.setUserAgent("Mozilla/4.0 (compatible; MyApp)");
    client.setFollowRedirects(false);
    client.setAllowHttps(true);
    client.setReadTimeout(m_stallTimeoutMs);
    client.setConnectTimeout(m_stallTimeoutMs);
    bool cancelled = false;
    bool tooLarge = false;
    client.setProgressCallback([&](qint64 received, qint64 total) {
        if (m_cancelRequested.load()) {
            cancelled = true;
            return false;
        }
        if (received > m_maxBytes || total > m_maxBytes) {
            tooLarge = true;
            return false;
        }
        if (progress)
            progress(received, total > 0 ? total : -1);
        return true;
    });

    try {
        const HttpResponse response = client.get(m_url, file);
        if (response.statusCode < 200 || response.statusCode > 299)
            throw InstallerDownloadError(QStringLiteral("HTTP %1 %2")
                                             .arg(response.statusCode)
                                             .arg(QString::fromLatin1(response.statusText)));
    } catch (const HttpTransportError &e) {
        if (cancelled)
            throw InstallerDownloadError(CancelledText());
        if (tooLarge)
            throw InstallerDownloadError(
                Translate(QStringLiteral("The installer is larger than %d MB."))
                    .replace(QStringLiteral("%d"), QString::number(m_maxBytes / (1024 * 1024))));
        if (e.kind() == HttpTransportError::Kind::Timeout)
            throw InstallerDownloadError(
                Translate(QStringLiteral("No data arrived for %d seconds."))
                    .replace(QStringLiteral("%d"),
                             QString::number((m_stallTimeoutMs + 999) / 1000)));
        throw InstallerDownloadError(QString::fromStdString(e.what()));
    } catch (const HttpError &e) {
        throw InstallerDownloadError(QString::fromStdString(e.what()));
    }
    if (!file.flush())
        throw InstallerDownloadError(file.errorString());
    const bool isPackage = IsDebianPackage(file.handle());
    file.close();
    if (!QFileInfo::exists(path))
        throw InstallerDownloadError(Translate(QStringLiteral("Cannot find downloaded file.")));
    if (!isPackage)
        throw InstallerDownloadError(
            Translate(QStringLiteral("The downloaded file is not a Debian package.")));
    discard.Folder = nullptr;
    return path;
}

} // namespace dv
