#include "core/platform/DirectoryReader.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace dv {

DirectoryReader::DirectoryReader(std::size_t pBufferSize) : m_bufferSize(pBufferSize) {}

void DirectoryReader::Start(int pFolderFd)
{
    if (m_buffer.empty())
        m_buffer.resize(m_bufferSize);
    m_fd = pFolderFd;
    m_pos = m_end = 0;
    m_done = pFolderFd < 0;
}

bool DirectoryReader::Next(Entry &pEntry)
{
    for (;;) {
        if (m_pos < m_end) {
            const auto *d = reinterpret_cast<const struct dirent64 *>(m_buffer.data() + m_pos);
            m_pos += d->d_reclen;
            pEntry.Name = d->d_name;
            pEntry.Length = std::strlen(d->d_name);
            pEntry.Type = d->d_type;
            return true;
        }
        if (m_done)
            return false;
        ssize_t n;
        do {
            n = getdents64(m_fd, m_buffer.data(), m_buffer.size());
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            m_done = true;
            return false;
        }
        m_pos = 0;
        m_end = static_cast<std::size_t>(n);
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
