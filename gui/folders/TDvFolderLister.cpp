#include "gui/folders/TDvFolderLister.h"

#include "core/platform/FileName.h"
#include "core/platform/TDvDirectoryReader.h"
#include "core/platform/TDvMountTable.h"
#include "gui/filesearch/LogicalCompare.h"

#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

// Mount points of pseudo file systems, read once per listing.
QSet<QByteArray> PseudoMountPoints()
{
    QSet<QByteArray> result;
    const TDvMountTable table = TDvMountTable::Load();
    for (const TDvMountTable::Mount &mount : table.Mounts()) {
        if (TDvMountTable::IsPseudoType(mount.Type))
            result.insert(mount.MountPoint);
    }
    return result;
}

bool IsFolderEntry(int pFolderFd, const TDvDirectoryReader::Entry &pEntry)
{
    if (pEntry.Type == DT_DIR)
        return true;
    if (pEntry.Type != DT_LNK && pEntry.Type != DT_UNKNOWN)
        return false;
    struct stat st
    {
    };
    return fstatat(pFolderFd, pEntry.Name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool IsShownName(const TDvDirectoryReader::Entry &pEntry)
{
    // Hidden names start with "."; this also drops "." and "..".
    return pEntry.Length > 0 && pEntry.Name[0] != '.';
}

QByteArray JoinBytes(const QByteArray &pFolder, const char *pName, std::size_t pLength)
{
    QByteArray result = pFolder;
    if (!result.endsWith('/'))
        result.append('/');
    result.append(pName, qsizetype(pLength));
    return result;
}

} // namespace

std::optional<QStringList> TDvFolderLister::ListFolders(const QString &pFolder,
                                                        const std::function<bool()> &pCanceled)
{
    const QByteArray folder = EncodeFileName(pFolder);
    const int fd = TDvDirectoryReader::OpenFolder(folder);
    if (fd < 0)
        return std::nullopt;
    const QSet<QByteArray> pseudo = PseudoMountPoints();
    TDvDirectoryReader reader;
    reader.Start(fd);
    QStringList names;
    TDvDirectoryReader::Entry entry{};
    int seen = 0;
    while (reader.Next(entry)) {
        if (pCanceled && (++seen % 256) == 0 && pCanceled())
            break;
        if (!IsShownName(entry) || !IsFolderEntry(fd, entry))
            continue;
        if (!pseudo.isEmpty() && pseudo.contains(JoinBytes(folder, entry.Name, entry.Length)))
            continue;
        names.append(DecodeFileName(entry.Name, entry.Length));
    }
    close(fd);
    return names;
}

bool TDvFolderLister::HasSubfolders(const QString &pFolder)
{
    const int fd = TDvDirectoryReader::OpenFolder(EncodeFileName(pFolder));
    if (fd < 0)
        return false;
    TDvDirectoryReader reader(8 * 1024);
    reader.Start(fd);
    TDvDirectoryReader::Entry entry{};
    bool found = false;
    while (!found && reader.Next(entry))
        found = IsShownName(entry) && IsFolderEntry(fd, entry);
    close(fd);
    return found;
}

bool TDvFolderLister::IsFolder(const QString &pPath)
{
    struct stat st
    {
    };
    return ::stat(EncodeFileName(pPath).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool TDvFolderLister::NameLess(const QString &pLeft, const QString &pRight)
{
    const int order = CompareLogical(pLeft, pRight);
    return order != 0 ? order < 0 : pLeft < pRight;
}

QString TDvFolderLister::Join(const QString &pFolder, const QString &pName)
{
    if (pFolder.endsWith(u'/'))
        return pFolder + pName;
    return pFolder + u'/' + pName;
}

} // namespace dv
