#include "core/platform/DesktopFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace dv {

QString DesktopFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

} // namespace dv
