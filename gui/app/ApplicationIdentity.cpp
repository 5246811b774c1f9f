#include "gui/app/ApplicationIdentity.h"

#include "gui/app/TMainForm.h"

#include <QApplication>
#include <QIcon>

namespace dv {

void SetUpApplicationIdentity()
{
    QApplication::setApplicationName(TMainForm::ApplicationTitle());
    // The installed desktop entry and the icon of the desktop's theme (none in the build tree).
    QGuiApplication::setDesktopFileName(QStringLiteral("delvora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("delvora")));
}

} // namespace dv
