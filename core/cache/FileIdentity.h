#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace dv {

// What tells one version of a file's contents from another: a write moves the change time
// even when the size and the modification time are put back, a rename over the file brings
// another inode, and a hard link is reached under another path. Where the change time cannot
// be trusted to move (a file system that keeps none and shows the modification time instead,
// as FUSE ones such as sshfs and FAT do), a hash of the bytes is part of the identity too.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;   // modification time, nanoseconds since 1970-01-01 UTC
    qint64 changedNs = 0;    // status change time, nanoseconds since 1970-01-01 UTC
    quint64 contentHash = 0; // XXH3 of the bytes where the change time is not trusted; else 0

    // The identity of the regular file open on Fd, i.e. of the bytes read through it (read
    // whole, without moving the file's offset, when they are hashed). Empty when statx or a
    // read fails, the file is not a regular file, or a part is missing.
    static std::optional<FileIdentity> OfDescriptor(int fd);
    // The identity of the regular file at Path (symbolic links followed); empty as above.
    static std::optional<FileIdentity> OfPath(const QByteArray &path);

    // Whether a file system of type FsType (statfs's f_type) moves the change time at every
    // write; for one not known either way, trusted unless the change time equals the
    // modification time (as one that keeps none shows it).
    static bool TrustsChangeTime(qint64 fsType, qint64 modifiedNs, qint64 changedNs);
    // The hash of the bytes of the file open on Fd, read with pread; empty when a read fails.
    static std::optional<quint64> HashContent(int fd);

    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

} // namespace dv
