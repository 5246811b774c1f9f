#include "core/folders/FolderLister.h"

#include "core/platform/DirectoryReader.h"
#include "core/platform/FileName.h"
#include "core/platform/FindData.h"
#include "core/platform/LogicalCompare.h"
#include "core/platform/MountTable.h"
#include "core/platform/UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

// The walk's rules decide what the tree shows: a folder (or a link to one) that is not hidden.
bool IsShownFolder(int pFolderFd, const DirectoryReader::Entry &pEntry)
{
    const FindData data(pFolderFd, pEntry.Name, pEntry.Length, pEntry.Type);
    // Hidden names start with "."; this also drops "." and "..".
    return !data.IsHidden() && data.IsDirectory();
}

} // namespace

std::optional<QStringList> FolderLister::ListFolders(const QString &pFolder,
                                                     const std::function<bool()> &pCanceled)
{
    const QByteArray folder = EncodeFileName(pFolder);
    const UniqueFd fd(DirectoryReader::OpenFolder(folder));
    if (!fd)
        return std::nullopt;
    // Read once per listing.
    const MountTable mounts = MountTable::Load();
    DirectoryReader reader;
    reader.Start(fd.get());
    QStringList names;
    DirectoryReader::Entry entry{};
    int seen = 0;
    while (reader.Next(entry)) {
        if (pCanceled && (++seen % 256) == 0 && pCanceled())
            break;
        if (!IsShownFolder(fd.get(), entry))
            continue;
        if (mounts.IsPseudoMountPoint(
                JoinPath(folder, QByteArrayView(entry.Name, qsizetype(entry.Length)))))
            continue;
        names.append(DecodeFileName(entry.Name, entry.Length));
    }
    return names;
}

bool FolderLister::HasSubfolders(const QString &pFolder)
{
    const UniqueFd fd(DirectoryReader::OpenFolder(EncodeFileName(pFolder)));
    if (!fd)
        return false;
    DirectoryReader reader(8 * 1024);
    reader.Start(fd.get());
    DirectoryReader::Entry entry{};
    bool found = false;
    while (!found && reader.Next(entry))
        found = IsShownFolder(fd.get(), entry);
    return found;
}

bool FolderLister::IsFolder(const QString &pPath)
{
    struct stat st
    {
    };
    return ::stat(EncodeFileName(pPath).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderLister::NameLess(const QString &pLeft, const QString &pRight)
{
    const int order = CompareLogical(pLeft, pRight);
    return order != 0 ? order < 0 : pLeft < pRight;
}

} // namespace dv
