// The folder selection's handlers of the main window: tree selection, command-line folders,
// the list of folders to search and "Uncheck All".
#include "core/app/CheckedFolders.h"
#include "core/folders/TDvShellLink.h"
#include "gui/app/TMainForm.h"
#include "gui/folders/TDvShellTree.h"
#include "gui/folders/WhereToSearchPanel.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

namespace dv {

TDvSelectionList *TMainForm::SelectionList() const
{
    return fShellLink->SelectionList();
}

QString TMainForm::SelectedFolder() const
{
    return DvShellTree1->SelectedFolder();
}

void TMainForm::SetSelectedFolder(const QString &folder)
{
    DvShellTree1->SetSelectedFolder(folder);
}

void TMainForm::ApplyCommandLineFolders(const QStringList &entries, const QString &last)
{
    // Taken as given: no normalisation, no coverage test, no change notification.
    for (const QString &entry : entries)
        SelectionList()->AppendPath(entry);
    SetSelectedFolder(last);
}

bool TMainForm::RestoreCheckedFolders()
{
    // As they were, like the command line's: the list keeps its own order and raw entries.
    const QStringList entries = LoadCheckedFolders();
    for (const QString &entry : entries)
        SelectionList()->AppendPath(entry);
    return !entries.isEmpty();
}

void TMainForm::TimerListUpdateTimer()
{
    TimerListUpdate->stop();
    // The panel's listing keeps names that are not UTF-8.
    WhereToSearchPanel::Refill(Memo1, StaticText1, SelectionList()->Paths());
    Memo1->repaint();
}

void TMainForm::Label8Click()
{
    SelectionList()->Clear();
}

} // namespace dv
