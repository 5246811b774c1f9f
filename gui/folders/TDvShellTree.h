#pragma once

#include "core/folders/FolderTreeLoader.h"
#include "core/folders/IDvShellControl.h"
#include "core/folders/TDvSelectionState.h"
#include "core/folders/TDvShellTreeNode.h"

#include <QStringList>
#include <QTreeView>

#include <memory>

namespace dv {

class SelectionStateDelegate;
class TDvShellLink;
class ShellTreeModel;

// The folder tree with check boxes: the root "Computer" with the drives and the home folder,
// folders listed in the background on first expand, and a check box per node that shows the
// link's selection list (checked, unchecked, partly checked, not checkable). Clicking a box or
// pressing Space checks or unchecks the folder in the list. Reading the disk and the list is
// its FolderTreeLoader's; the view keeps input, selection and rename, and registers itself
// with its link as a shell control.
class TDvShellTree : public QTreeView, public IDvShellControl
{
    Q_OBJECT
public:
    // May veto a new node (CanAdd := false) or change its caption before it is shown.
    using TAddFolderEvent = FolderTreeLoader::AddFolderHandler;

    // Without a link the tree has no check boxes. The link is shared: background jobs keep it
    // (and its list) alive while they run.
    explicit TDvShellTree(std::shared_ptr<TDvShellLink> aShellLink = {}, QWidget *parent = nullptr);
    ~TDvShellTree() override;

    std::shared_ptr<TDvShellLink> ShellLink() const { return fLoader->shellLink(); }
    void SetShellLink(std::shared_ptr<TDvShellLink> aShellLink);
    // Check boxes show only while there is a link.
    bool Checkboxes() const { return fLoader->checkboxes(); }
    void SetCheckboxes(bool aValue) { fLoader->setCheckboxes(aValue); }

    // The folders below "Computer": by default the ready drives ("/" first) and the home
    // folder. Setting them fills the tree again.
    QStringList RootFolders() const { return fLoader->rootFolders(); }
    void SetRootFolders(const QStringList &aFolders) { fLoader->setRootFolders(aFolders); }
    static QStringList DefaultRootFolders() { return FolderTreeLoader::defaultRootFolders(); }

    // Called for every new node; by default ArchiveFilter.
    void SetOnAddFolder(TAddFolderEvent aHandler)
    {
        fLoader->setAddFolderHandler(std::move(aHandler));
    }
    // Hides folders whose extension is exactly ".zip" or ".rar".
    static void ArchiveFilter(TDvShellTreeNode *Node, const QString &path, bool &CanAdd)
    {
        FolderTreeLoader::archiveFilter(Node, path, CanAdd);
    }

    // Path of the selected folder; empty for the root. While a set is still walking to its
    // folder (listing on the way), the folder being walked to.
    QString SelectedFolder() const;
    // Selects and reveals a folder, expanding the nodes on the way; environment references
    // are expanded first. Empty selects the root; a path that is no folder is ignored.
    void SetSelectedFolder(const QString &Value);

    // From the link: rfCheckboxes recomputes the boxes (of all nodes, or around the item),
    // rfFull re-reads the whole tree, rfSmart the selected node. Only queues work: it runs
    // while the selection list holds its write lock.
    void Refresh(TRefreshLevel pRefreshLevel, const ShellItem *pItemIdList) override;
    // F5: re-reads the whole tree and asks the link's other controls to do the same.
    void FullRefresh();

    // Checks or unchecks the node in the selection list, as a click on its box does.
    void ToggleCheckBox(TDvShellTreeNode *aNode);
    // Renames the node's folder (no replacing) and tells the selection list; false with a
    // message box when the name is refused.
    bool RenameNode(TDvShellTreeNode *aNode, const QString &aNewName);

    // Sets the root's caption in the current language.
    void TranslateTexts();

    ShellTreeModel *TreeModel() const { return fModel; }
    FolderTreeLoader *Loader() const { return fLoader; }
    // The loaded node of a path, below the innermost root folder that holds it; null when it
    // is not loaded.
    TDvShellTreeNode *FindLoadedNode(const QString &aPath) const
    {
        return fLoader->findLoadedNode(aPath);
    }
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
    void Filled();
    void ContinueSelection();
    QRect CheckRectOf(const QModelIndex &index) const;
    bool IsOnCheckBox(const QPoint &aPos, QModelIndex *aIndex = nullptr) const;
    void ShowContextMenu(const QModelIndex &index, const QPoint &aGlobalPos);
    void CopyToClipboard(TDvShellTreeNode *aNode, bool aCut);
    void PasteInto(TDvShellTreeNode *aNode);
    void MoveToTrash(TDvShellTreeNode *aNode);
    void ShowProperties(TDvShellTreeNode *aNode);
    void ShowError(const QString &aMessage);
    void ClearCutMarks(TDvShellTreeNode *aNode);

    ShellTreeModel *fModel;
    FolderTreeLoader *fLoader;
    SelectionStateDelegate *fDelegate;
    QString fPendingSelection;
    bool fCheckBoxPressed = false;
};

} // namespace dv
