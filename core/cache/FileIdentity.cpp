#include "core/cache/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace dv {

namespace {

constexpr unsigned kIdentityMask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;

qint64 Nanoseconds(const struct statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::optional<FileIdentity> FromStatx(int rc, const struct statx &st)
{
    if (rc != 0 || (st.stx_mask & kIdentityMask) != kIdentityMask || !S_ISREG(st.stx_mode))
        return std::nullopt;
    FileIdentity identity;
    identity.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    identity.inode = st.stx_ino;
    identity.size = qint64(st.stx_size);
    identity.modifiedNs = Nanoseconds(st.stx_mtime);
    identity.changedNs = Nanoseconds(st.stx_ctime);
    return identity;
}

} // namespace

std::optional<FileIdentity> FileIdentity::OfDescriptor(int fd)
{
    struct statx st;
    const int rc = statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kIdentityMask, &st);
    return FromStatx(rc, st);
}

std::optional<FileIdentity> FileIdentity::OfPath(const QByteArray &path)
{
    if (path.isEmpty() || path.contains('\0'))
        return std::nullopt;
    struct statx st;
    const int rc = statx(AT_FDCWD, path.constData(), AT_STATX_SYNC_AS_STAT, kIdentityMask, &st);
    return FromStatx(rc, st);
}

} // namespace dv
