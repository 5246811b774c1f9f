#include "core/platform/MountTable.h"

#include "core/platform/FileName.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace dv {

namespace {

// Undoes the octal escapes (\040 for a space) of mount table fields.
QByteArray Unescape(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], d = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                out.append(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (d - '0')));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

constexpr std::array<const char *, 24> kPseudoTypes = {
    "proc",      "sysfs",     "devtmpfs",   "devpts",          "cgroup",      "cgroup2",
    "tracefs",   "debugfs",   "securityfs", "pstore",          "bpf",         "mqueue",
    "hugetlbfs", "configfs",  "fusectl",    "binfmt_misc",     "efivarfs",    "rpc_pipefs",
    "nsfs",      "selinuxfs", "autofs",     "fuse.gvfsd-fuse", "fuse.portal", "binder"};

} // namespace

bool MountTable::IsPseudoType(QByteArrayView pType)
{
    return std::any_of(kPseudoTypes.begin(), kPseudoTypes.end(),
                       [&](const char *t) { return pType == QByteArrayView(t); });
}

bool MountTable::IsDriveType(QByteArrayView pType)
{
    return !pType.isEmpty() && !IsPseudoType(pType) && pType != QByteArrayView("tmpfs") &&
           pType != QByteArrayView("ramfs") && pType != QByteArrayView("squashfs");
}

MountTable MountTable::Parse(QByteArrayView pText, bool pMountsFormat)
{
    MountTable table;
    const QList<QByteArray> lines = pText.toByteArray().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        Mount mount;
        if (pMountsFormat) {
            // source mountpoint type options dump pass
            if (fields.size() < 3)
                continue;
            mount.MountPoint = Unescape(fields[1]);
            mount.Type = Unescape(fields[2]);
            struct stat st;
            if (stat(mount.MountPoint.constData(), &st) == 0)
                mount.Device = st.st_dev;
        } else {
            // id parent major:minor root mountpoint options [optional...] - type source super
            if (fields.size() < 7)
                continue;
            const auto dash = std::find(fields.begin() + 6, fields.end(), QByteArray("-"));
            if (dash == fields.end() || dash + 1 == fields.end())
                continue;
            const QList<QByteArray> numbers = fields[2].split(':');
            if (numbers.size() != 2)
                continue;
            bool okMajor = false, okMinor = false;
            const unsigned major = numbers[0].toUInt(&okMajor);
            const unsigned minor = numbers[1].toUInt(&okMinor);
            if (!okMajor || !okMinor)
                continue;
            mount.Device = makedev(major, minor);
            mount.MountPoint = Unescape(fields[4]);
            mount.Type = Unescape(*(dash + 1));
        }
        if (!mount.MountPoint.startsWith('/'))
            continue;
        table.m_mounts.push_back(std::move(mount));
    }
    return table;
}

MountTable MountTable::Load()
{
    QFile info(QStringLiteral("/proc/self/mountinfo"));
    if (info.open(QIODevice::ReadOnly))
        return Parse(info.readAll());
    QFile mounts(QStringLiteral("/proc/mounts"));
    if (mounts.open(QIODevice::ReadOnly))
        return Parse(mounts.readAll(), true);
    return {};
}

bool MountTable::IsPseudoDevice(dev_t pDevice) const
{
    // The latest mount of a device is the one in effect.
    for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
        if (it->Device == pDevice)
            return IsPseudoType(it->Type);
    return false;
}

bool MountTable::IsPseudoMountPoint(QByteArrayView pPath) const
{
    // The latest mount at a path is the one in effect.
    for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
        if (it->MountPoint == pPath)
            return IsPseudoType(it->Type);
    return false;
}

bool MountTable::HasDevice(dev_t pDevice) const
{
    return std::any_of(m_mounts.begin(), m_mounts.end(),
                       [&](const Mount &m) { return m.Device == pDevice; });
}

QStringList MountTable::ReadyDrives() const
{
    std::vector<const Mount *> order;
    for (const Mount &m : m_mounts)
        if (m.MountPoint == "/")
            order.push_back(&m);
    for (const Mount &m : m_mounts)
        if (m.MountPoint != "/")
            order.push_back(&m);

    QStringList drives;
    std::vector<dev_t> seen;
    for (const Mount *m : order) {
        if (!IsDriveType(m->Type))
            continue;
        if (std::find(seen.begin(), seen.end(), m->Device) != seen.end())
            continue;
        struct stat st;
        if (stat(m->MountPoint.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        // A mount hidden under a later one shows another device at its path.
        if (st.st_dev != m->Device && m->Device != 0)
            continue;
        struct statvfs vfs;
        if (statvfs(m->MountPoint.constData(), &vfs) != 0)
            continue;
        seen.push_back(m->Device);
        QString path = DecodeFileName(m->MountPoint);
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        drives << path;
    }
    return drives;
}

} // namespace dv
