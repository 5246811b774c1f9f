#include "core/platform/DirectoryReader.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace dv {

DirectoryReader::DirectoryReader(std::size_t pBufferSize) : fBuffer(pBufferSize) {}

void DirectoryReader::Start(int pFolderFd)
{
    fFd = pFolderFd;
    fPos = fEnd = 0;
    fDone = pFolderFd < 0;
}

bool DirectoryReader::Next(Entry &pEntry)
{
    for (;;) {
        if (fPos < fEnd) {
            const auto *d = reinterpret_cast<const struct dirent64 *>(fBuffer.data() + fPos);
            fPos += d->d_reclen;
            pEntry.Name = d->d_name;
            pEntry.Length = std::strlen(d->d_name);
            pEntry.Type = d->d_type;
            return true;
        }
        if (fDone)
            return false;
        ssize_t n;
        do {
            n = getdents64(fFd, fBuffer.data(), fBuffer.size());
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            fDone = true;
            return false;
        }
        fPos = 0;
        fEnd = static_cast<std::size_t>(n);
    }
}

int DirectoryReader::OpenFolder(const QByteArray &pPath)
{
    if (pPath.isEmpty())
        return -1;
    int fd;
    do {
        fd = open(pPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int DirectoryReader::OpenSubfolder(int pParentFd, const char *pName, bool pFollowLink)
{
    // O_DIRECTORY makes a FIFO or device fail instead of blocking or being opened.
    const int flags =
        O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | (pFollowLink ? 0 : O_NOFOLLOW);
    int fd;
    do {
        fd = openat(pParentFd, pName, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool DirectoryReader::Identify(int pFolderFd, FolderIdentity &pIdentity)
{
    struct statx st;
    if (statx(pFolderFd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO, &st) != 0)
        return false;
    pIdentity.Device = makedev(st.stx_dev_major, st.stx_dev_minor);
    pIdentity.Inode = st.stx_ino;
    pIdentity.IsMountRoot = (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                            (st.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
}

} // namespace dv
