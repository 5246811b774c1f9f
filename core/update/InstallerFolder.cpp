#include "core/update/InstallerFolder.h"

#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/RemoveTree.h"
#include "core/platform/UniqueFd.h"
#include "core/update/InstallerDownloadError.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <climits>
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

int OpenFolderAt(int parent, const QByteArray &name)
{
    return ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A folder on the way may belong to root or to us, and nobody else may change its entries: no
// write access for group or others, unless the sticky bit keeps them from renaming ours.
void CheckFolderOnTheWay(int fd, const QString &path)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        FailOn(path);
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        Refuse(QStringLiteral("The folder %s belongs to another user."), path);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
        Refuse(QStringLiteral("Other users can change the folder %s."), path);
}

// Our own folder: it must belong to us, and nobody else gets in. Earlier builds made it
// readable by others; such a folder of ours is closed.
void MakeOwnFolderPrivate(int fd, const QString &path)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        FailOn(path);
    if (st.st_uid != ::geteuid())
        Refuse(QStringLiteral("The folder %s belongs to another user."), path);
    if ((st.st_mode & 07077) != 0 && ::fchmod(fd, 0700) != 0)
        FailOn(path);
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
    // The links on the way are resolved once; the walk below then opens every folder without
    // following a link, so a path changed after this point fails instead of leading elsewhere.
    char resolved[PATH_MAX];
    if (!::realpath(EncodeFileName(cache).constData(), resolved))
        FailOn(cache);
    const QByteArray real(resolved);

    UniqueFd folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        FailOn(QStringLiteral("/"));
    CheckFolderOnTheWay(folder.get(), QStringLiteral("/"));
    QByteArray walked;
    for (const QByteArray &part : real.split('/')) {
        if (part.isEmpty())
            continue;
        walked += '/' + part;
        const QString shown = DecodeFileName(walked);
        const int next = OpenFolderAt(folder.get(), part);
        if (next < 0)
            FailOn(shown);
        folder.reset(next);
        CheckFolderOnTheWay(folder.get(), shown);
    }

    const QByteArray appName = EncodeFileName(kAppFolder);
    const QString appPath = DecodeFileName(walked + '/' + appName);
    if (::mkdirat(folder.get(), appName.constData(), 0700) != 0 && errno != EEXIST)
        FailOn(appPath);
    UniqueFd app(OpenFolderAt(folder.get(), appName));
    if (app.get() < 0)
        FailOn(appPath);
    MakeOwnFolderPrivate(app.get(), appPath);

    RemoveEarlierDownloads(app.get());

    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = kDownloadPrefix + RandomSuffix();
        const QByteArray encoded = EncodeFileName(name);
        const QString path = appPath + u'/' + name;
        if (::mkdirat(app.get(), encoded.constData(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            FailOn(path);
        }
        UniqueFd download(OpenFolderAt(app.get(), encoded));
        if (download.get() < 0)
            FailOn(path);
        MakeOwnFolderPrivate(download.get(), path);
        return InstallerFolder(std::move(download), path);
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
