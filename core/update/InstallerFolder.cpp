#include "core/update/InstallerFolder.h"

#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/RemoveTree.h"
#include "core/platform/TrustedFolder.h"
#include "core/platform/UniqueFd.h"
#include "core/update/InstallerDownloadError.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

const QString kAppFolder = QStringLiteral("Delvora");
const QString kDownloadPrefix = QStringLiteral("update-");

[[noreturn]] void FailOn(const QString &path)
{
    const QString cause = QString::fromLocal8Bit(std::strerror(errno));
    throw InstallerDownloadError(path + QStringLiteral(": ") + cause);
}

[[noreturn]] void Refuse(const QString &text, const QString &path)
{
    QString message = Translate(text);
    message.replace(QStringLiteral("%s"), path);
    throw InstallerDownloadError(message);
}

// Throws for a folder that could not be opened or is not to be trusted.
TrustedFolder Checked(TrustedFolder folder)
{
    const QString path = DecodeFileName(folder.path);
    switch (folder.problem) {
    case TrustedFolder::Problem::None:
        break;
    case TrustedFolder::Problem::SystemError:
        errno = folder.error;
        FailOn(path);
    case TrustedFolder::Problem::OtherOwner:
        Refuse(QStringLiteral("The folder %s belongs to another user."), path);
    case TrustedFolder::Problem::OthersCanWrite:
        Refuse(QStringLiteral("Other users can change the folder %s."), path);
    }
    return folder;
}

// Download folders of earlier runs: only our own folders, never what a link points to.
void RemoveEarlierDownloads(int appFd)
{
    UniqueFd fd(::dup(appFd));
    if (!fd)
        return;
    DIR *dir = ::fdopendir(fd.get());
    if (!dir)
        return;
    fd.release(); // closedir closes it
    QList<QByteArray> names;
    const QByteArray prefix = EncodeFileName(kDownloadPrefix);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        struct stat st
        {
        };
        if (name.startsWith(prefix) &&
            ::fstatat(appFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::geteuid())
            names.append(name);
    }
    ::closedir(dir);
    for (const QByteArray &name : names)
        RemoveTreeAt(appFd, name.constData());
}

QString RandomSuffix()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix;
    for (int i = 0; i < 8; ++i)
        suffix += QLatin1Char(kChars[QRandomGenerator::system()->bounded(int(sizeof kChars) - 1)]);
    return suffix;
}

} // namespace

QString InstallerFolder::UserCacheFolder()
{
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!cache.isEmpty() && !QDir::isRelativePath(cache))
        return cache;
    return QDir::home().filePath(QStringLiteral(".cache"));
}

InstallerFolder InstallerFolder::Create(const QString &cacheFolder)
{
    const QString cache = cacheFolder.isEmpty() ? UserCacheFolder() : cacheFolder;
    if (!QDir().mkpath(cache))
        Refuse(QStringLiteral("Cannot create the folder %s."), cache);
    const TrustedFolder folder = Checked(TrustedFolder::OpenPath(EncodeFileName(cache)));
    const TrustedFolder app = Checked(TrustedFolder::OpenOwn(folder, EncodeFileName(kAppFolder)));
    const QString appPath = DecodeFileName(app.path);

    RemoveEarlierDownloads(app.fd.get());

    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = kDownloadPrefix + RandomSuffix();
        const QByteArray encoded = EncodeFileName(name);
        const QString path = appPath + u'/' + name;
        if (::mkdirat(app.fd.get(), encoded.constData(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            FailOn(path);
        }
        TrustedFolder download = Checked(TrustedFolder::OpenOwn(app, encoded));
        return InstallerFolder(std::move(download.fd), path);
    }
    Refuse(QStringLiteral("Cannot create a folder in %s."), appPath);
}

UniqueFd InstallerFolder::CreateFile(const QString &name) const
{
    const QByteArray encoded = EncodeFileName(name);
    UniqueFd fd(::openat(m_fd.get(), encoded.constData(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        FailOn(m_path + u'/' + name);
    return fd;
}

void InstallerFolder::Remove() const
{
    RemoveTreeAt(AT_FDCWD, EncodeFileName(m_path).constData());
}

} // namespace dv
