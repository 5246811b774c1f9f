#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace dv {

// What tells one version of a file's contents from another: a write moves the change time
// even when the size and the modification time are put back, a rename over the file brings
// another inode, and a hard link is reached under another path.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // modification time, nanoseconds since 1970-01-01 UTC
    qint64 changedNs = 0;  // status change time, nanoseconds since 1970-01-01 UTC

    // The identity of the regular file open on Fd, i.e. of the bytes read through it. Empty
    // when statx fails, the file is not a regular file, or a part is missing.
    static std::optional<FileIdentity> OfDescriptor(int fd);
    // The identity of the regular file at Path (symbolic links followed); empty as above.
    static std::optional<FileIdentity> OfPath(const QByteArray &path);

    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

} // namespace dv
