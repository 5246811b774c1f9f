// The folder selection's handlers of the main window: tree selection, command-line folders,
// the list of folders to search and "Uncheck All".
#include "core/folders/TDvShellLink.h"
#include "gui/app/TMainForm.h"
#include "gui/folders/TDvShellTree.h"

#include <QFileInfo>
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
    return fFolderTree ? fFolderTree->SelectedFolder() : fSelectedFolder;
}

void TMainForm::SetSelectedFolder(const QString &folder)
{
    fSelectedFolder = folder;
    if (fFolderTree)
        fFolderTree->SetSelectedFolder(folder);
}

void TMainForm::ApplyCommandLineFolders(const QStringList &entries, const QString &last)
{
    // Taken as given: no normalisation, no coverage test, no change notification.
    for (const QString &entry : entries)
        SelectionList()->AppendPath(entry);
    SetSelectedFolder(last);
}

void TMainForm::TimerListUpdateTimer()
{
    TimerListUpdate->stop();
    QStringList lines;
    TDvSelectionList *list = SelectionList();
    const int count = list->Count();
    for (int i = 0; i < count; ++i) {
        QString entry = list->Path(i);
        if (entry.size() > 2 && entry.endsWith(QLatin1Char('*')))
            entry.chop(2);
        else if (entry == QLatin1String("/*"))
            entry = QStringLiteral("/"); // the root folder
        if (!entry.isEmpty() && QFileInfo(entry).isDir())
            lines.append(entry);
    }
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    Memo1->repaint();
    StaticText1->setVisible(lines.isEmpty());
}

void TMainForm::Label8Click()
{
    SelectionList()->Clear();
}

} // namespace dv
