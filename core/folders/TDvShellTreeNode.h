#pragma once

#include "core/folders/ShellItem.h"
#include "core/folders/TDvSelectionState.h"
#include "core/threads/TCustomCancellationToken.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace dv {

// One node of the folder tree, bound to one shell item. Nodes are created, changed and
// destroyed on the UI thread only; background jobs hold the node's cancellation token, which
// fires when the node goes away, and touch the node only after testing it on the UI thread.
class TDvShellTreeNode
{
public:
    enum class ListingState
    {
        NotListed, // children not read yet (or discarded)
        Running,   // a background listing is under way
        Listed
    };

    TDvShellTreeNode(TDvShellTreeNode *aParent, const ShellItem &aItem, const QString &aName);
    ~TDvShellTreeNode();
    TDvShellTreeNode(const TDvShellTreeNode &) = delete;
    TDvShellTreeNode &operator=(const TDvShellTreeNode &) = delete;

    // The item's file-system path; empty for the Computer root.
    QString FullPath() const { return Item.FileSystemPath(); }
    bool IsRoot() const { return Parent == nullptr; }
    int Row() const;
    // 0 for the root.
    int Level() const;
    TDvShellTreeNode *ChildNamed(const QString &aName) const;

    // Stored check state; ssUnused while not known.
    TDvSelectionState CheckState() const;
    // A node that evaluated to "not checkable" keeps that state while it exists.
    bool KeepsDisabledState() const
    {
        return StateEvaluated && CheckState() == TDvSelectionState::ssDisabled;
    }
    // True only in ssChecked: a partly checked node is not checked.
    bool Checked() const { return StateIndex == int(TDvSelectionState::ssChecked); }

    // Renumbers the row hints of the children from aFirst on, after an insert or removal.
    void RenumberChildren(int aFirst = 0);
    // Cancels the running listing, if any.
    void CancelListing();
    // Gives the node (and its loaded descendants) a new path after a rename.
    void Rebase(const QString &aNewPath);

    TDvShellTreeNode *Parent;
    std::vector<std::unique_ptr<TDvShellTreeNode>> Children;
    ShellItem Item;
    QString Name;    // the name in its parent folder: the key when the parent is re-listed
    QString Caption; // the text shown
    // -1 not known; else a TDvSelectionState value (the index of its check-box image).
    int StateIndex = -1;
    // The state came from the selection list (a finished check-state job or a toggle), not
    // from the parent as a stand-in: only such a state raises the change event when it changes.
    bool StateEvaluated = false;
    // Number of the latest check-state request: older answers are stale.
    std::uint64_t StateSequence = 0;
    ListingState Listing = ListingState::NotListed;
    // Whether the view shows the node's children (it stays so while an ancestor collapses).
    bool Expanded = false;
    // Whether the expand button shows while the node is not listed (assumed until probed).
    bool HasSubfolders = true;
    bool CaptionChanged = false; // set by the add-folder handler; survives a refresh
    bool IsCut = false;          // drawn in the cut style after "Cut"
    ICancellationTokenPtr CancellationToken;
    ICancellationTokenPtr ListingToken;

private:
    mutable int fRowHint = 0; // last known row: found again by a search after moves
};

} // namespace dv
