#include "core/cache/FileIdentity.h"

#include "core/platform/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

namespace dv {

namespace {

constexpr unsigned kIdentityMask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;

// statfs f_type values (linux/magic.h).
constexpr qint64 kFuse = 0x65735546;
constexpr qint64 kMsdos = 0x4d44; // FAT, VFAT
constexpr qint64 kExfat = 0x2011BAB0;
constexpr qint64 kKeepChangeTime[] = {
    0xEF53,     // ext2, ext3, ext4
    0x58465342, // XFS
    0x9123683E, // Btrfs
    0x01021994, // tmpfs
    0xF2F52010, // F2FS
    0x2FC12FC1, // ZFS
    0x794C7630, // overlayfs
    0x6969,     // NFS
    0x52654973, // ReiserFS
    0x3153464A, // JFS
    0xCA451A4E, // bcachefs
};

qint64 Nanoseconds(const struct statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The identity from statx's answer, on a file system of FsType; Open gives a descriptor of
// the file when its bytes must be hashed.
template <typename OpenFile>
std::optional<FileIdentity> FromStatx(int rc, const struct statx &st, qint64 fsType,
                                      const OpenFile &open)
{
    if (rc != 0 || (st.stx_mask & kIdentityMask) != kIdentityMask || !S_ISREG(st.stx_mode))
        return std::nullopt;
    FileIdentity identity;
    identity.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    identity.inode = st.stx_ino;
    identity.size = qint64(st.stx_size);
    identity.modifiedNs = Nanoseconds(st.stx_mtime);
    identity.changedNs = Nanoseconds(st.stx_ctime);
    if (!FileIdentity::TrustsChangeTime(fsType, identity.modifiedNs, identity.changedNs)) {
        const UniqueFd fd = open();
        const std::optional<quint64> hash = fd ? FileIdentity::HashContent(fd.get()) : std::nullopt;
        if (!hash)
            return std::nullopt;
        identity.contentHash = *hash;
    }
    return identity;
}

} // namespace

bool FileIdentity::TrustsChangeTime(qint64 fsType, qint64 modifiedNs, qint64 changedNs)
{
    if (fsType == kFuse || fsType == kMsdos || fsType == kExfat)
        return false;
    for (const qint64 type : kKeepChangeTime)
        if (fsType == type)
            return true;
    return changedNs != modifiedNs;
}

std::optional<quint64> FileIdentity::HashContent(int fd)
{
    constexpr size_t kBlock = 1 << 20;
    thread_local std::vector<char> buffer(kBlock);
    XXH3_state_t *state = XXH3_createState();
    if (!state)
        return std::nullopt;
    XXH3_64bits_reset(state);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), kBlock, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            XXH3_freeState(state);
            return std::nullopt;
        }
        if (n == 0)
            break;
        XXH3_64bits_update(state, buffer.data(), size_t(n));
        offset += n;
    }
    // Never 0, which stands for "not hashed".
    const quint64 hash = XXH3_64bits_digest(state) | 1;
    XXH3_freeState(state);
    return hash;
}

std::optional<FileIdentity> FileIdentity::OfDescriptor(int fd)
{
    struct statx st;
    const int rc = statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kIdentityMask, &st);
    struct statfs fs;
    if (rc != 0 || ::fstatfs(fd, &fs) != 0)
        return std::nullopt;
    return FromStatx(rc, st, qint64(fs.f_type), [fd] { return UniqueFd(::dup(fd)); });
}

std::optional<FileIdentity> FileIdentity::OfPath(const QByteArray &path)
{
    if (path.isEmpty() || path.contains('\0'))
        return std::nullopt;
    struct statx st;
    const int rc = statx(AT_FDCWD, path.constData(), AT_STATX_SYNC_AS_STAT, kIdentityMask, &st);
    struct statfs fs;
    if (rc != 0 || ::statfs(path.constData(), &fs) != 0)
        return std::nullopt;
    return FromStatx(rc, st, qint64(fs.f_type), [&] {
        return UniqueFd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    });
}

} // namespace dv
