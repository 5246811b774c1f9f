#pragma once

#include "core/filesearch/TDvShellChangeNotifier.h"
#include "core/platform/FileName.h"

#include <QByteArrayView>
#include <QString>

namespace dv {

// What an enumeration (TDvFileSearch) needs of the result list it fills. Every call comes on
// the main thread, while the enumerating worker waits. The desktop program's result list
// implements it with rows and the OnAddItem/OnAddPath events; delvora-find with its output.
class IDvFileSearchTarget
{
public:
    virtual ~IDvFileSearchTarget() = default;

    // Bracket around one batch of paths: the list redraws once, at EndUpdate.
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;

    // Offers one found path (a folder's path ends with "/"): the list adds it as a candidate,
    // asks its acceptance handler (OnAddPath: CanAdd) and keeps it only when accepted.
    // Returns whether it was kept. Argument errors propagate to the enumeration.
    virtual bool AddPath(const QString &pPath) = 0;

    // The same path given as the bytes the walk found (decoded as DecodeFileName does). By
    // default it is decoded and offered to AddPath; a list that writes bytes can skip the text.
    virtual bool AddEncodedPath(QByteArrayView pPath)
    {
        return AddPath(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
    }

    // Whether the list already holds an item for the path (compared exactly, one trailing "/"
    // not considered).
    virtual bool IsItemInList(const QString &pPath) = 0;

    // Offers a path found by an enumeration that refreshes the list (a rescan): by default
    // only when the list does not hold it yet. Returns whether it was kept.
    virtual bool AddNewPath(const QString &pPath) { return !IsItemInList(pPath) && AddPath(pPath); }
    // The enumeration waits for the content test of pPath, the next path it offers (found
    // before those judged already). Nothing by default.
    virtual void AwaitingVerdict(const QString &pPath) { (void)pPath; }

    // Number of items in the list.
    virtual int ItemCount() const = 0;

    // Re-sorts the items by the chosen column; does nothing when no column is chosen.
    virtual void Sort() = 0;

    // The folder pPath could not be searched (pReason says why, for the user); the search goes
    // on without it and its subfolders. Nothing by default.
    virtual void FolderNotSearched(const QString &pPath, const QString &pReason)
    {
        (void)pPath;
        (void)pReason;
    }

    // A search of pPath starts: watch that folder (and its subfolders) for changes, together
    // with the other roots of the same search, instead of those watched so far. Nothing by
    // default.
    virtual void WatchSearchRoot(const QString &pPath) { (void)pPath; }

    // What an enumeration calls with each folder just before it lists it, on its own thread,
    // so that the folder is watched from then on; none by default.
    virtual TDvShellChangeNotifier::TFolderWatch FolderWatch() { return {}; }
};

} // namespace dv
