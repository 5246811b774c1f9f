#pragma once

#include "core/folders/TDvShellTreeNode.h"

#include <QAbstractItemModel>

#include <memory>
#include <vector>

namespace dv {

// The folder tree's item model over TDvShellTreeNode: one root (Computer), children read
// lazily. It only presents the nodes and announces structural changes; reading folders and
// check states is FolderTreeLoader's. Icons and colours are the widget side's (ShellTreeModel).
class FolderTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Roles
    {
        SelectionStateRole = Qt::UserRole + 1, // int: TDvSelectionState, -1 while not known
        FullPathRole,                          // QString: the file-system path
    };

    explicit FolderTreeModel(QObject *parent = nullptr);
    ~FolderTreeModel() override;

    TDvShellTreeNode *Root() const { return m_root.get(); }
    // Replaces every node.
    void ResetRoot(std::unique_ptr<TDvShellTreeNode> aRoot);
    TDvShellTreeNode *NodeOf(const QModelIndex &index) const;
    QModelIndex IndexOf(const TDvShellTreeNode *aNode, int column = 0) const;

    // Inserts aNodes before row aRow of aParent (one batch, consecutive rows).
    void InsertChildren(TDvShellTreeNode *aParent, int aRow,
                        std::vector<std::unique_ptr<TDvShellTreeNode>> aNodes);
    // Removes one node with its subtree; its jobs are cancelled.
    void RemoveNode(TDvShellTreeNode *aNode);
    // Removes every child of aParent.
    void RemoveChildren(TDvShellTreeNode *aParent);
    // Moves a node to another row among its siblings (after a rename).
    void MoveNode(TDvShellTreeNode *aNode, int aNewRow);
    // The node's text, check box or look changed.
    void NodeChanged(TDvShellTreeNode *aNode);
    // Whether nodes have children changed without rows changing (expand buttons).
    void ExpandButtonsChanged();

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Dragged folders go to other programs as file addresses.
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

signals:
    // The view wants the children of a node that was never listed.
    void ListingRequested(dv::TDvShellTreeNode *aNode);
    // The user typed a new name for a node in place.
    void RenameRequested(dv::TDvShellTreeNode *aNode, const QString &aNewName);

private:
    std::unique_ptr<TDvShellTreeNode> m_root;
};

} // namespace dv
