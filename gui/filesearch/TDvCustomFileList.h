#pragma once

#include "gui/filesearch/TDvBaseShellListView.h"

#include <QString>
#include <QTimer>

#include <functional>

class QMenu;

namespace dv {

// The list of file rows: adding by path with its acceptance events, finding rows by path, and
// the file commands on the selected rows (open, properties, clipboard, rename, trash,
// context menu, dragging out).
class TDvCustomFileList : public TDvBaseShellListView
{
    Q_OBJECT
public:
    // Per-row acceptance; CanAdd comes in true.
    using TOnAddItem = std::function<void(TDvFileListItem &Item, bool &CanAdd)>;
    // Per-path acceptance; CanAdd comes in true. The row exists while it runs.
    using TOnAddPath = std::function<void(const QString &Path, bool &CanAdd)>;

    explicit TDvCustomFileList(QWidget *parent = nullptr);
    ~TDvCustomFileList() override;

    // Turns a path (a folder's ends with "/") into a row at pPos (appended when outside the
    // rows) and runs the acceptance events; returns the row, or nullptr when refused.
    // Throws std::invalid_argument for an empty or unresolvable path.
    TDvFileListItem *Add(const QString &Path, bool Checked = false, int pPos = -1);
    // The first row from lStartIndex on that names the path (exactly; one trailing
    // "/" not considered); nullptr when none.
    TDvFileListItem *ReturnItemInList(const QString &pFilePath, int lStartIndex = 0) const;
    bool IsItemInList(const QString &FileName) const;
    // Removes every row; columns and sort state stay.
    void Clear();
    void BeginUpdate() { fModel->BeginUpdate(); }
    void EndUpdate() { fModel->EndUpdate(); }

    TOnAddItem OnAddItem;
    TOnAddPath OnAddPath;

    bool AllowDuplicates() const { return fAllowDuplicates; }
    void SetAllowDuplicates(bool pValue) { fAllowDuplicates = pValue; }
    // Read-only lists refuse cut, paste, rename and delete.
    bool ReadOnly() const { return fReadOnly; }
    void SetReadOnly(bool pValue) { fReadOnly = pValue; }

    // Commands on the selected rows.
    void OpenSelected();
    void OpenContainingFolder();
    void ShowProperties();
    void CopySelected(bool pCut);
    void CopyPaths();
    // Pastes the clipboard's files into the folder of the selected row.
    void Paste();
    void RenameSelected();
    // Moves the selected files to the trash; rows of trashed files go, the others stay.
    void DeleteSelected();
    // Reads every row's data again.
    void RefreshItems();
    // The context menu for the selected rows (the caller runs and frees it).
    QMenu *CreateContextMenu(QWidget *pParent);
    // Runs a FileCommands::Command on the selection.
    void RunCommand(int pCommand);

    // Changes seen in the file system (the automatic refresh uses these): the row of a
    // deleted path goes, the row of a renamed one follows the new path, and so do the rows
    // below a renamed folder. A rename onto a listed path leaves one row for it.
    void ItemDeleted(const QString &pPath);
    void ItemRenamed(const QString &pOldPath, const QString &pNewPath);

    // Called (once per turn of the event loop) after rows were removed, renamed or judged
    // again outside a search's batches: the refresh, Delete, a rename.
    std::function<void()> OnItemsChanged;

    // The message of the last failed command (for tests and the status line).
    const QString &LastError() const { return fLastError; }

protected:
    // Deleted and renamed files: their rows go or follow (the first steps of the refresh).
    void ChangeNotified(TNotificationEvent pEvent, const QString &pPath1,
                        const QString &pPath2) override;
    // The acceptance events of one row.
    bool CanAddItem(TDvFileListItem &pItem);
    // An item was accepted: the automatic refresh may start watching. Nothing here.
    virtual void ItemAccepted(TDvFileListItem &pItem) { (void)pItem; }
    // After Clear has removed every row.
    virtual void ListCleared() {}
    // Runs the acceptance events for a listed row again (its file changed): true when it is
    // kept, else the row is removed.
    bool JudgeAgain(TDvFileListItem &pItem);
    // Rows changed outside a batch: OnItemsChanged follows.
    void ItemsChanged();
    // Shows a failed command's message without waiting.
    virtual void ReportError(const QString &pText);

    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    int IndexOfCandidate(const TDvFileListItem *pItem) const;
    bool RenameItem(TDvFileListItem &pItem, const QString &pNewName);
    // The context menu for the current row, at that row (Menu key, Shift+F10).
    void ShowKeyboardContextMenu();
    void PopupContextMenu(const QPoint &pGlobalPos);
    void ClearCutMarks();

    QTimer fItemsChangedTimer;
    QString fLastFolder; // shared by the rows of one folder
    QString fLastError;
    bool fAllowDuplicates = true;
    bool fReadOnly = false;
};

} // namespace dv
