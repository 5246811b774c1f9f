#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace dv {

// What the folder tree shows of the file system: folders only (a symbolic link to a folder
// counts), never hidden ones, and never the mount points of pseudo file systems (/proc, /sys
// and their kin), which no search enters. Safe on worker threads.
class FolderLister
{
public:
    // Names of the folders the tree shows inside pFolder, unsorted; nothing when the folder
    // cannot be listed. Stops early (returning what it has) when pCanceled answers true.
    static std::optional<QStringList> ListFolders(const QString &pFolder,
                                                  const std::function<bool()> &pCanceled = {});
    // Whether pFolder holds at least one folder the tree would show.
    static bool HasSubfolders(const QString &pFolder);
    // Whether pPath is a folder or a symbolic link to one; the name need not be valid UTF-8.
    static bool IsFolder(const QString &pPath);
    // The tree's order of names: as a person reads them (file9 before file10), case only
    // breaking ties.
    static bool NameLess(const QString &pLeft, const QString &pRight);
};

} // namespace dv
