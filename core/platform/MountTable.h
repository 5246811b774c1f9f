#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <vector>

namespace dv {

// The mounted file systems, read from /proc/self/mountinfo (or /proc/mounts): which are
// pseudo file systems that no walk enters, and which are the ready drives.
class MountTable
{
public:
    struct Mount
    {
        QByteArray MountPoint; // raw bytes, unescaped
        QByteArray Type;
        dev_t Device = 0;
    };

    // Reads the table of this process; empty when it cannot be read.
    static MountTable Load();
    // Builds a table from the text of a mountinfo file (or of /proc/mounts with pMountsFormat).
    static MountTable Parse(QByteArrayView pText, bool pMountsFormat = false);

    const std::vector<Mount> &Mounts() const { return m_mounts; }

    // proc, sysfs, devtmpfs, devpts, cgroup and their kin: nothing to search in there.
    static bool IsPseudoType(QByteArrayView pType);
    // Pseudo file systems and memory-only ones (tmpfs, ramfs): not drives.
    static bool IsDriveType(QByteArrayView pType);
    // Whether the mounted file system with this device is a pseudo file system.
    bool IsPseudoDevice(dev_t pDevice) const;
    // Whether pPath (raw bytes, no trailing "/") is where a pseudo file system is mounted: the
    // folder tree hides it, as the walk does not enter its device.
    bool IsPseudoMountPoint(QByteArrayView pPath) const;
    // Whether some file system of the table is mounted with this device.
    bool HasDevice(dev_t pDevice) const;

    // Mount points of the real file systems whose root can be queried, "/" first, each file
    // system once; as paths ending with "/".
    QStringList ReadyDrives() const;

private:
    std::vector<Mount> m_mounts;
};

} // namespace dv
