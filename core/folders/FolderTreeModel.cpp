#include "core/folders/FolderTreeModel.h"

#include "core/platform/ShellOperations.h"

#include <QMimeData>

#include <algorithm>

namespace dv {

FolderTreeModel::FolderTreeModel(QObject *parent) : QAbstractItemModel(parent) {}

FolderTreeModel::~FolderTreeModel() = default;

void FolderTreeModel::ResetRoot(std::unique_ptr<TDvShellTreeNode> aRoot)
{
    beginResetModel();
    m_root = std::move(aRoot);
    endResetModel();
}

TDvShellTreeNode *FolderTreeModel::NodeOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<TDvShellTreeNode *>(index.internalPointer());
}

QModelIndex FolderTreeModel::IndexOf(const TDvShellTreeNode *aNode, int column) const
{
    if (aNode == nullptr)
        return {};
    const int row = aNode->Row();
    if (row < 0)
        return {};
    return createIndex(row, column, const_cast<TDvShellTreeNode *>(aNode));
}

void FolderTreeModel::InsertChildren(TDvShellTreeNode *aParent, int aRow,
                                     std::vector<std::unique_ptr<TDvShellTreeNode>> aNodes)
{
    if (aNodes.empty())
        return;
    const int first = std::clamp(aRow, 0, int(aParent->Children.size()));
    beginInsertRows(IndexOf(aParent), first, first + int(aNodes.size()) - 1);
    aParent->Children.insert(aParent->Children.begin() + first,
                             std::make_move_iterator(aNodes.begin()),
                             std::make_move_iterator(aNodes.end()));
    aParent->RenumberChildren(first);
    endInsertRows();
}

void FolderTreeModel::RemoveNode(TDvShellTreeNode *aNode)
{
    TDvShellTreeNode *parent = aNode->Parent;
    const int row = aNode->Row();
    if (parent == nullptr || row < 0)
        return;
    beginRemoveRows(IndexOf(parent), row, row);
    std::unique_ptr<TDvShellTreeNode> gone = std::move(parent->Children[std::size_t(row)]);
    parent->Children.erase(parent->Children.begin() + row);
    parent->RenumberChildren(row);
    endRemoveRows();
}

void FolderTreeModel::RemoveChildren(TDvShellTreeNode *aParent)
{
    if (aParent->Children.empty())
        return;
    beginRemoveRows(IndexOf(aParent), 0, int(aParent->Children.size()) - 1);
    std::vector<std::unique_ptr<TDvShellTreeNode>> gone = std::move(aParent->Children);
    aParent->Children.clear();
    endRemoveRows();
}

void FolderTreeModel::MoveNode(TDvShellTreeNode *aNode, int aNewRow)
{
    TDvShellTreeNode *parent = aNode->Parent;
    const int row = aNode->Row();
    if (parent == nullptr || row < 0 || aNewRow == row)
        return;
    const QModelIndex parentIndex = IndexOf(parent);
    // Qt counts the destination before the move.
    const int destination = aNewRow > row ? aNewRow + 1 : aNewRow;
    if (!beginMoveRows(parentIndex, row, row, parentIndex, destination))
        return;
    std::unique_ptr<TDvShellTreeNode> moved = std::move(parent->Children[std::size_t(row)]);
    parent->Children.erase(parent->Children.begin() + row);
    parent->Children.insert(parent->Children.begin() + aNewRow, std::move(moved));
    parent->RenumberChildren(std::min(row, aNewRow));
    endMoveRows();
}

void FolderTreeModel::NodeChanged(TDvShellTreeNode *aNode)
{
    const QModelIndex index = IndexOf(aNode);
    if (index.isValid())
        emit dataChanged(index, index);
}

void FolderTreeModel::ExpandButtonsChanged()
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid()) {
        if (row != 0 || !m_root)
            return {};
        return createIndex(0, 0, m_root.get());
    }
    const TDvShellTreeNode *node = NodeOf(parent);
    if (node == nullptr || row >= int(node->Children.size()))
        return {};
    return createIndex(row, column, node->Children[std::size_t(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex &child) const
{
    const TDvShellTreeNode *node = NodeOf(child);
    if (node == nullptr || node->Parent == nullptr)
        return {};
    return IndexOf(node->Parent);
}

int FolderTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_root ? 1 : 0;
    if (parent.column() != 0)
        return 0;
    const TDvShellTreeNode *node = NodeOf(parent);
    return node == nullptr ? 0 : int(node->Children.size());
}

int FolderTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool FolderTreeModel::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return bool(m_root);
    const TDvShellTreeNode *node = NodeOf(parent);
    if (node == nullptr)
        return false;
    if (!node->Children.empty())
        return true;
    return node->Listing != TDvShellTreeNode::ListingState::Listed && node->HasSubfolders;
}

bool FolderTreeModel::canFetchMore(const QModelIndex &parent) const
{
    const TDvShellTreeNode *node = NodeOf(parent);
    return node != nullptr && node->Listing == TDvShellTreeNode::ListingState::NotListed &&
           node->Children.empty() && node->HasSubfolders;
}

void FolderTreeModel::fetchMore(const QModelIndex &parent)
{
    if (canFetchMore(parent))
        emit ListingRequested(NodeOf(parent));
}

QVariant FolderTreeModel::data(const QModelIndex &index, int role) const
{
    const TDvShellTreeNode *node = NodeOf(index);
    if (node == nullptr)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return role == Qt::EditRole ? node->Name : node->Caption;
    case Qt::ToolTipRole:
        return node->FullPath().isEmpty() ? QVariant() : QVariant(node->FullPath());
    case Qt::CheckStateRole:
        switch (node->CheckState()) {
        case TDvSelectionState::ssUnused:
            return {};
        case TDvSelectionState::ssChecked:
            return int(Qt::Checked);
        case TDvSelectionState::ssGrayed:
            return int(Qt::PartiallyChecked);
        case TDvSelectionState::ssDisabled:
        case TDvSelectionState::ssUnChecked:
            return int(Qt::Unchecked);
        }
        return {};
    case SelectionStateRole:
        return node->StateIndex;
    case FullPathRole:
        return node->FullPath();
    default:
        return {};
    }
}

bool FolderTreeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    TDvShellTreeNode *node = NodeOf(index);
    if (node == nullptr || role != Qt::EditRole)
        return false;
    emit RenameRequested(node, value.toString());
    return true;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex &index) const
{
    const TDvShellTreeNode *node = NodeOf(index);
    if (node == nullptr)
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!node->IsRoot())
        result |= Qt::ItemIsDragEnabled;
    // The drives and the home folder are the tree's fixed points: they are not renamed here.
    if (!node->IsRoot() && !node->Parent->IsRoot())
        result |= Qt::ItemIsEditable;
    return result;
}

QStringList FolderTreeModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *FolderTreeModel::mimeData(const QModelIndexList &indexes) const
{
    QStringList paths;
    for (const QModelIndex &index : indexes) {
        const TDvShellTreeNode *node = NodeOf(index);
        if (node != nullptr && !node->IsRoot() && !paths.contains(node->FullPath()))
            paths.append(node->FullPath());
    }
    if (paths.isEmpty())
        return nullptr;
    return ShellOperations::FileUrlsMimeData(paths, false);
}

Qt::DropActions FolderTreeModel::supportedDragActions() const
{
    // Never a move: the view would then try to remove the dragged rows itself.
    return Qt::CopyAction | Qt::LinkAction;
}

} // namespace dv
