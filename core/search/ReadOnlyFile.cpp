#include "core/search/ReadOnlyFile.h"

#include "core/platform/FileName.h"
#include "core/platform/OpenLongPath.h"
#include "core/search/FolderRelativeOpenScope.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dv {

qint64 ReadOnlyFile::read(char *buffer, qint64 count)
{
    if (!m_fd)
        return -1;
    qint64 total = 0;
    while (total < count) {
        const ssize_t n = ::read(m_fd.get(), buffer + total, static_cast<size_t>(count - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return total > 0 ? total : -1;
        }
        if (n == 0)
            break;
        total += n;
    }
    return total;
}

namespace {

QString openError(const QString &fileName, int error)
{
    const QString message = QString::fromLocal8Bit(std::strerror(error));
    if (error == EIO)
        return message;
    return QStringLiteral("OpenError: Cannot open file \"%1\": %2").arg(fileName, message);
}

} // namespace

ReadOnlyFile OpenFileForReading(const QString &fileName, QString &errorText)
{
    int errorNumber = 0;
    return OpenFileForReading(fileName, errorText, errorNumber);
}

ReadOnlyFile OpenFileForReading(const QString &fileName, QString &errorText, int &errorNumber)
{
    errorText.clear();
    errorNumber = 0;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
    constexpr int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    UniqueFd fd;
    if (const FolderRelativeOpenScope *at = FolderRelativeOpenScope::Find(fileName)) {
        fd.reset(::openat(at->FolderFd(), at->Name(), flags));
    } else {
        // The exact bytes of the name, also for names that are not valid UTF-8. A path
        // beyond PATH_MAX is opened folder by folder, as the walk reached it.
        fd.reset(OpenLongPath(EncodeFileName(fileName).constData(), flags));
    }
    if (!fd) {
        errorNumber = errno;
        errorText = openError(fileName, errorNumber);
        return {};
    }
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0) {
        errorNumber = errno;
        errorText = openError(fileName, errorNumber);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        errorNumber = S_ISDIR(st.st_mode) ? EISDIR : 0;
        errorText = openError(fileName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        if (!S_ISDIR(st.st_mode))
            errorText = QStringLiteral("OpenError: Cannot open file \"%1\": not a regular file")
                            .arg(fileName);
        return {};
    }
    return ReadOnlyFile(std::move(fd), st.st_size);
}

} // namespace dv
