#pragma once

#include "core/folders/IDvShellControl.h"
#include "core/folders/TDvSelectionState.h"
#include "gui/folders/TDvShellTreeNode.h"

#include <QSet>
#include <QStringList>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace dv {

class TDvCheckStateJob;
class TDvFolderListingJob;
class TDvSelectionStateDelegate;
class TDvShellChangeNotifier;
class TDvShellLink;
class TDvShellTreeModel;

// The folder tree with check boxes: the root "Computer" with the drives and the home folder,
// folders listed in the background on first expand, and a check box per node that shows the
// link's selection list (checked, unchecked, partly checked, not checkable). Clicking a box or
// pressing Space checks or unchecks the folder in the list; the boxes of all other nodes are
// then recomputed from the list by check-state jobs on the process-wide worker pool.
// The tree registers itself with its link as a shell control.
class TDvShellTree : public QTreeView, public IDvShellControl
{
    Q_OBJECT
public:
    // May veto a new node (CanAdd := false) or change its caption before it is shown.
    using TAddFolderEvent =
        std::function<void(TDvShellTreeNode *Node, const QString &path, bool &CanAdd)>;

    // Without a link the tree has no check boxes. The link is shared: background jobs keep it
    // (and its list) alive while they run.
    explicit TDvShellTree(std::shared_ptr<TDvShellLink> aShellLink = {}, QWidget *parent = nullptr);
    ~TDvShellTree() override;

    std::shared_ptr<TDvShellLink> ShellLink() const { return fShellLink; }
    void SetShellLink(std::shared_ptr<TDvShellLink> aShellLink);
    // Check boxes show only while there is a link.
    bool Checkboxes() const { return fCheckboxes && fShellLink != nullptr; }
    void SetCheckboxes(bool aValue);

    // The folders below "Computer": by default the ready drives ("/" first) and the home
    // folder. Setting them fills the tree again.
    QStringList RootFolders() const { return fRootFolders; }
    void SetRootFolders(const QStringList &aFolders);
    static QStringList DefaultRootFolders();

    // Called for every new node; by default ArchiveFilter.
    void SetOnAddFolder(TAddFolderEvent aHandler) { fOnAddFolder = std::move(aHandler); }
    // Hides folders whose extension (from the last "." of the last name) is exactly ".zip"
    // or ".rar": the desktop presents such archives as folders elsewhere, never here.
    static void ArchiveFilter(TDvShellTreeNode *Node, const QString &path, bool &CanAdd);

    // Path of the selected folder; empty for the root. While a set is still walking to its
    // folder (listing on the way), the folder being walked to.
    QString SelectedFolder() const;
    // Selects and reveals a folder, expanding the nodes on the way; environment references
    // are expanded first. Empty selects the root; a path that is no folder is ignored.
    void SetSelectedFolder(const QString &Value);

    // From the link: rfCheckboxes recomputes the boxes (of all nodes, or around the item),
    // rfFull re-reads the whole tree, rfSmart the selected node. Only queues work: it runs
    // while the selection list holds its write lock.
    void Refresh(TRefreshLevel pRefreshLevel, const TDvShellItem *pItemIdList) override;
    // F5: re-reads the whole tree and asks the link's other controls to do the same.
    void FullRefresh();

    // Checks or unchecks the node in the selection list, as a click on its box does.
    void ToggleCheckBox(TDvShellTreeNode *aNode);
    // Renames the node's folder (no replacing) and tells the selection list; false with a
    // message box when the name is refused.
    bool RenameNode(TDvShellTreeNode *aNode, const QString &aNewName);

    // Sets the root's caption in the current language.
    void TranslateTexts();

    TDvShellTreeModel *TreeModel() const { return fModel; }
    // The loaded node of a path, below the innermost root folder that holds it; null when it
    // is not loaded.
    TDvShellTreeNode *FindLoadedNode(const QString &aPath) const;
    TDvShellTreeNode *CurrentNode() const;

signals:
    // A node's known check state changed (not its first evaluation).
    void OnTreeNodeCheckStateChanged(const QString &pPath, dv::TDvSelectionState CheckState);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void Fill();
    std::unique_ptr<TDvShellTreeNode> MakeNode(TDvShellTreeNode *aParent, const QString &aName,
                                               const QString &aPath);
    void SetNodeCheckState(TDvShellTreeNode *aNode, TDvSelectionState aValue);
    void InitRootState();
    void QueueStateJobs(const std::vector<TDvShellTreeNode *> &aNodes, bool aProbeSubfolders);
    void ApplyCheckStates(TDvCheckStateJob &aJob);
    void CollectRecomputable(TDvShellTreeNode *aNode, std::vector<TDvShellTreeNode *> &aOut) const;
    void StartListing(TDvShellTreeNode *aNode, bool aRefreshKept);
    void ApplyListing(TDvShellTreeNode *aNode, const TDvFolderListingJob &aJob, bool aRefreshKept);
    void MergeChildren(TDvShellTreeNode *aNode, const QStringList &aNames, bool aRefreshKept);
    void RefreshSubtree(TDvShellTreeNode *aNode);
    void DiscardChildren(TDvShellTreeNode *aNode);
    void RefreshAround(const QString &aPath);
    void RefreshRootFolders();
    std::vector<TDvShellTreeNode *> LoadedNodesOf(const QString &aPath) const;
    TDvShellTreeNode *DeepestLoadedNodeOf(TDvShellTreeNode *aTop, const QString &aPath,
                                          bool aDiscardCollapsed);
    void ContinueSelection();
    void ApplyRename(TDvShellTreeNode *aNode, const QString &aNewName, const QString &aNewPath);
    QRect CheckRectOf(const QModelIndex &index) const;
    bool IsOnCheckBox(const QPoint &aPos, QModelIndex *aIndex = nullptr) const;
    void ShowContextMenu(const QModelIndex &index, const QPoint &aGlobalPos);
    void CopyToClipboard(TDvShellTreeNode *aNode, bool aCut);
    void PasteInto(TDvShellTreeNode *aNode);
    void MoveToTrash(TDvShellTreeNode *aNode);
    void ShowProperties(TDvShellTreeNode *aNode);
    void ShowError(const QString &aMessage);
    void ClearCutMarks(TDvShellTreeNode *aNode);
    void ReadChangedFolders();
    // Watches an expanded folder (without its subfolders) for changes of its list.
    void WatchFolder(const QString &aPath);
    // Whether the folder was watched; it is not any more.
    bool UnwatchFolder(const QString &aPath);

    TDvShellTreeModel *fModel;
    TDvSelectionStateDelegate *fDelegate;
    std::shared_ptr<TDvShellLink> fShellLink;
    bool fCheckboxes = true;
    QStringList fRootFolders;
    TAddFolderEvent fOnAddFolder;
    std::uint64_t fStateSequence = 0;
    QString fPendingSelection;
    bool fCheckBoxPressed = false;
    // The expanded folders, each without its subfolders; its watches come from the same
    // budget as the result list's.
    std::unique_ptr<TDvShellChangeNotifier> fWatcher;
    QTimer *fChangeTimer = nullptr;
    QSet<QString> fChangedFolders;
    // Folders whose watch is being added: each is read once more when the watches are in
    // place, so a change between its listing and its watch is not lost.
    QTimer *fWatchSettleTimer = nullptr;
    QSet<QString> fAwaitingWatch;
    int fWatchSettleTicks = 0;
};

} // namespace dv
