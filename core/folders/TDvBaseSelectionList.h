#pragma once

#include "core/folders/RecursiveRWLock.h"
#include "core/folders/TDvSelectionState.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace dv {

class TDvShellLink;

// The list of checked items as entry strings: a folder entry is the folder path followed by
// "/*" (the folder and everything below it; the root folder is "/*"), a file entry is a plain
// path. Keeps insertion order. Every access goes through a recursive multiple-reader /
// single-writer lock, so state queries may run on worker threads while the UI thread edits.
// The base only stores entries; TDvSelectionList adds the checking logic.
class TDvBaseSelectionList
{
public:
    using TNotifyEvent = std::function<void(TDvBaseSelectionList *Sender)>;
    using TInvalidPathEvent =
        std::function<void(TDvBaseSelectionList *Sender, const QString &Path)>;

    // aParent is the owning link (may be null): change notifications are forwarded to it.
    explicit TDvBaseSelectionList(TDvShellLink *aParent = nullptr);
    virtual ~TDvBaseSelectionList();
    TDvBaseSelectionList(const TDvBaseSelectionList &) = delete;
    TDvBaseSelectionList &operator=(const TDvBaseSelectionList &) = delete;

    // A snapshot of the entries, in list order.
    QStringList Paths() const;
    // Replaces every entry as given (no normalisation, no change notification).
    virtual void SetPaths(const QStringList &aPaths);
    // Appends one entry unchanged, without coverage test or notification (command-line folders
    // at start-up).
    void AppendPath(const QString &aEntry);
    // Entry by index; empty when the index is out of range (the list may shrink between a
    // reader's Count and its reads).
    virtual QString GetListItem(int aIndex) const;
    QString Path(int aIndex) const { return GetListItem(aIndex); }
    int Count() const;
    bool IsEmpty() const { return Count() == 0; }

    // State of a path; IsSubItem tells that it is checked only through an ancestor entry.
    virtual TDvSelectionState GetPathSelectionState(const QString &path, bool &IsSubItem) const;
    // Raised after every change with the entry that changed; empty for "everything".
    virtual void NotifyChange(const QString &path);
    virtual QString CompletePathSelected(const QString &path);
    virtual void AddPathToSelection(const QString &sFQPath);
    virtual void RemovePathFromSelection(const QString &sFQPath);
    // Removes every entry, first to last, each with its own change notification.
    virtual void Clear();

    TDvShellLink *Parent() const { return fParent; }
    void SetOnChange(TNotifyEvent aHandler) { fOnChange = std::move(aHandler); }
    void SetOnInvalidPath(TInvalidPathEvent aHandler) { fOnInvalidPath = std::move(aHandler); }

protected:
    // Removes the entry at aIndex and notifies with its text; an invalid index does nothing.
    void DeleteEntry(int aIndex);

    QStringList fList;
    mutable RecursiveRWLock fLockObj;
    TDvShellLink *fParent;
    TNotifyEvent fOnChange;
    TInvalidPathEvent fOnInvalidPath;
};

} // namespace dv
