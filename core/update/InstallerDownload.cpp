#include "core/update/InstallerDownload.h"

#include "core/i18n/Translation.h"
#include "core/net/HttpClient.h"
#include "core/update/NewVersionCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace dv {

namespace {

QString CancelledText()
{
    return Translate(QStringLiteral("Download is cancelled. Please download manually."));
}

} // namespace

QString CreatePrivateDownloadFolder()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || QDir::isRelativePath(cache))
        cache = QDir::home().filePath(QStringLiteral(".cache"));
    const QString parent = QDir(cache).filePath(QStringLiteral("Delvora"));
    if (!QDir().mkpath(parent))
        throw InstallerDownloadError(QStringLiteral("Cannot create the folder ") + parent);
    // mkdtemp makes the folder with mode 0700 under a name nobody could have prepared.
    QByteArray pattern = QFile::encodeName(QDir(parent).filePath(QStringLiteral("update-XXXXXX")));
    if (!::mkdtemp(pattern.data()))
        throw InstallerDownloadError(QStringLiteral("Cannot create a folder in ") + parent +
                                     QStringLiteral(": ") +
                                     QString::fromLocal8Bit(std::strerror(errno)));
    return QFile::decodeName(pattern);
}

InstallerDownload::InstallerDownload(QString url) : fUrl(std::move(url)) {}

QString InstallerDownload::DefaultUrl()
{
    return UpdateServerUrl(UpdateBaseUrl(), QStringLiteral("download/delvora.exe"));
}

QString InstallerDownload::Run(const ProgressFn &progress)
{
    const QString path =
        QDir(CreatePrivateDownloadFolder()).filePath(QStringLiteral("brn_update.exe"));

    HttpClient client;
    client.setUserAgent("Mozilla/4.0 (compatible; MyApp)");
    client.setFollowRedirects(false);
    bool cancelled = false;
    client.setProgressCallback([&](qint64 received, qint64 total) {
        if (fCancelRequested.load()) {
            cancelled = true;
            return false;
        }
        if (progress)
            progress(received, total > 0 ? total : -1);
        return true;
    });

    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw InstallerDownloadError(file.errorString());
        try {
            const HttpResponse response = client.get(fUrl, file);
            if (response.statusCode < 200 || response.statusCode > 299)
                throw InstallerDownloadError(QStringLiteral("HTTP %1 %2")
                                                 .arg(response.statusCode)
                                                 .arg(QString::fromLatin1(response.statusText)));
        } catch (const HttpError &e) {
            if (cancelled)
                throw InstallerDownloadError(CancelledText());
            throw InstallerDownloadError(QString::fromStdString(e.what()));
        }
        if (!file.flush())
            throw InstallerDownloadError(file.errorString());
    }
    if (!QFileInfo::exists(path))
        throw InstallerDownloadError(Translate(QStringLiteral("Cannot find downloaded file.")));
    return path;
}

} // namespace dv
