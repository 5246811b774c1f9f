#include "gui/folders/ShellTreeModel.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QPalette>

namespace dv {

ShellTreeModel::ShellTreeModel(QObject *parent) : FolderTreeModel(parent)
{
    QFileIconProvider icons;
    m_computerIcon = icons.icon(QFileIconProvider::Computer);
    m_driveIcon = icons.icon(QFileIconProvider::Drive);
    m_folderIcon = icons.icon(QFileIconProvider::Folder);
}

ShellTreeModel::~ShellTreeModel() = default;

QVariant ShellTreeModel::data(const QModelIndex &index, int role) const
{
    const TDvShellTreeNode *node = NodeOf(index);
    if (node == nullptr)
        return {};
    switch (role) {
    case Qt::DecorationRole:
        if (node->IsRoot())
            return m_computerIcon;
        return node->Parent->IsRoot() ? m_driveIcon : m_folderIcon;
    case Qt::ForegroundRole:
        if (node->IsCut)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    default:
        return FolderTreeModel::data(index, role);
    }
}

} // namespace dv
