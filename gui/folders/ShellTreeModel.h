#pragma once

#include "core/folders/FolderTreeModel.h"

#include <QIcon>

namespace dv {

// The folder tree's model as the widgets show it: the structure of FolderTreeModel plus what
// needs Qt Gui, the icons of the Computer root, the drives and the folders, and the faded text
// of a folder that was cut.
class ShellTreeModel : public FolderTreeModel
{
    Q_OBJECT
public:
    explicit ShellTreeModel(QObject *parent = nullptr);
    ~ShellTreeModel() override;

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QIcon m_computerIcon;
    QIcon m_driveIcon;
    QIcon m_folderIcon;
};

} // namespace dv
