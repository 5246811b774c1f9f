#include "core/platform/TrustedFolder.h"

#include <QList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

int OpenFolderAt(int parent, const char *name)
{
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

TrustedFolder Failed(const QByteArray &path)
{
    TrustedFolder folder;
    folder.problem = TrustedFolder::Problem::SystemError;
    folder.path = path;
    folder.error = errno;
    return folder;
}

TrustedFolder Refused(TrustedFolder::Problem problem, const QByteArray &path)
{
    TrustedFolder folder;
    folder.problem = problem;
    folder.path = path;
    return folder;
}

TrustedFolder::Problem CheckOnTheWay(const struct stat &st)
{
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return TrustedFolder::Problem::OtherOwner;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
        return TrustedFolder::Problem::OthersCanWrite;
    return TrustedFolder::Problem::None;
}

} // namespace

TrustedFolder TrustedFolder::OpenPath(const QByteArray &path)
{
    char resolved[PATH_MAX];
    if (path.isEmpty() || path.contains('\0') || !::realpath(path.constData(), resolved))
        return Failed(path);
    const QByteArray real(resolved);
    TrustedFolder folder;
    folder.path = "/";
    folder.fd.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QList<QByteArray> parts = real.split('/');
    for (qsizetype i = 0;; ++i) {
        struct stat st
        {
        };
        if (!folder.fd || ::fstat(folder.fd.get(), &st) != 0)
            return Failed(folder.path);
        if (const Problem problem = CheckOnTheWay(st); problem != Problem::None)
            return Refused(problem, folder.path);
        while (i < parts.size() && parts[i].isEmpty())
            ++i;
        if (i == parts.size())
            break;
        folder.path = (folder.path == "/" ? QByteArray() : folder.path) + '/' + parts[i];
        folder.fd.reset(OpenFolderAt(folder.fd.get(), parts[i].constData()));
    }
    return folder;
}

TrustedFolder TrustedFolder::OpenOwn(const TrustedFolder &parent, const QByteArray &name)
{
    TrustedFolder folder;
    folder.path = (parent.path == "/" ? QByteArray() : parent.path) + '/' + name;
    if (::mkdirat(parent.fd.get(), name.constData(), 0700) != 0 && errno != EEXIST)
        return Failed(folder.path);
    folder.fd.reset(OpenFolderAt(parent.fd.get(), name.constData()));
    struct stat st
    {
    };
    if (!folder.fd || ::fstat(folder.fd.get(), &st) != 0)
        return Failed(folder.path);
    if (st.st_uid != ::geteuid())
        return Refused(Problem::OtherOwner, folder.path);
    if ((st.st_mode & 07077) != 0 && ::fchmod(folder.fd.get(), 0700) != 0)
        return Failed(folder.path);
    return folder;
}

} // namespace dv
