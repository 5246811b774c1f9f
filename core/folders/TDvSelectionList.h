#pragma once

#include "core/folders/ShellItem.h"
#include "core/folders/TDvBaseSelectionList.h"

#include <QString>

#include <atomic>
#include <optional>
#include <vector>

namespace dv {

// The model behind the folder tree's check boxes. Checking and unchecking rewrite the list so
// that it stays minimal: a checked folder stands for everything below it, a folder whose whole
// content is checked is replaced by its own entry, and unchecking something inside a checked
// folder splits that folder into its remaining parts. Paths are compared exactly (the file
// system is case-sensitive). All file-system questions are answered from the live system.
class TDvSelectionList : public TDvBaseSelectionList
{
public:
    explicit TDvSelectionList(TDvShellLink *aParent = nullptr);

    // Checks a path (a folder, "folder/*", or a file); invalid paths raise OnInvalidPath.
    void AddPathToSelection(const QString &sFQPath) override;
    // Unchecks a path, splitting an ancestor's folder entry when needed.
    void RemovePathFromSelection(const QString &sFQPath) override;
    // The same for a shell item, inside BeginUpdate/EndUpdate: exactly one all-items refresh.
    void AddPIDLToSelection(const ShellItem &PIDL);
    void RemovePIDLFromSelection(const ShellItem &PIDL);

    TDvSelectionState GetPathSelectionState(const QString &path, bool &IsSubItem) const override;
    // GetPathSelectionState without the sub-item flag.
    TDvSelectionState IsPathSelected(const QString &Path) const;
    // State of a shell item: null gives ssDisabled; Computer gives ssGrayed when some entry
    // exists, else ssDisabled (it can never be checked itself); Network gives ssDisabled; any
    // other item the state of its file-system path. Safe on worker threads.
    TDvSelectionState IsPIDLSelected(const ShellItem *PIDL, bool &bIsSubItemOf) const;

    // Nests change notifications; the outermost EndUpdate sends one notification for all items.
    void BeginUpdate();
    void EndUpdate();
    bool IsUpdating() const { return fIsUpdating.load() != 0; }

    // Rewrites entries after a rename, in place and without notification.
    void PathWasRenamed(const QString &pOldPath, const QString &pNewPath);
    // Some entry is a local path (every entry here is: they all start with "/").
    bool IsLocalPathSelected() const;
    // Always false: network shares are mounted into the local tree, there is no separate
    // network namespace whose entries would need it.
    bool IsUNCPathSelected() const;

    // Resolve folder shortcuts before use (default true); when false a shortcut is ssDisabled.
    bool HandleShellLinks() const { return fHandleShellLinks.load(); }
    void SetHandleShellLinks(bool aValue) { fHandleShellLinks.store(aValue); }
    // Drop adds of paths that do not exist (default true); when false such a path is appended
    // unchanged as a file entry.
    bool RemoveInvalidPaths() const { return fRemoveInvalidPaths.load(); }
    void SetRemoveInvalidPaths(bool aValue) { fRemoveInvalidPaths.store(aValue); }

    // Highest folder whose whole content is selected now that path is, walking up from path
    // (path itself when its parent is not complete); empty when a folder cannot be listed.
    QString CompletePathSelected(const QString &path) override;
    // Splits the entry of an ancestor of E: appends entries for everything in F except E,
    // level by level while F's parent is checked, and returns the folder whose entry must go.
    QString ExpandParentSelection(const QString &F, const QString &E);
    // Removes every entry below P (not P itself), last to first, each with a notification.
    void RemoveSubPaths(const QString &P);
    // P is an entry, or lies below a folder entry.
    bool IsCoveredBySelection(const QString &P) const;
    // Q is an entry, or a non-empty folder whose every child is completely selected.
    bool IsCompletelySelected(const QString &Q) const;
    void NotifyChange(const QString &path) override;

    // Normalises a path in place: a folder (or "folder/*") becomes "folder/*", a regular file
    // stays as it is. False for empty, ".", "..", relative and non-existent paths and for items
    // that are neither (FIFOs, sockets, devices).
    static bool ValidatePath(QString &path);
    // A folder that directly holds a symbolic link "target.lnk" to a folder; a trailing "*" is
    // ignored.
    static bool IsFolderShortcut(const QString &path);
    // The canonical folder a shortcut leads to; empty when path is no folder shortcut.
    static QString FolderShortcutTarget(const QString &path);

    // A child of a folder as the selection counts it.
    struct ListedChild
    {
        QString name;
        bool isFolder;
    };
    // The children that count for selection: folders (symbolic links to folders included, but
    // not links back to the folder or its ancestors) and regular files (or links to them),
    // except hidden ones, which the tree does not show. Other items are never search candidates
    // and are left out. Nothing when the folder cannot be listed.
    static std::optional<std::vector<ListedChild>> ListChildren(const QString &folder);

private:
    QString ResolveShortcut(const QString &path) const;
    TDvSelectionState StateOfResolvedPath(const QString &path, bool &IsSubItem) const;
    TDvSelectionState StateOfValidatedPath(const QString &N, bool &IsSubItem) const;
    int IndexOfEntry(const QString &entry) const;

    std::atomic<int> fIsUpdating{0};
    std::atomic<bool> fHandleShellLinks{true};
    std::atomic<bool> fRemoveInvalidPaths{true};
};

} // namespace dv
