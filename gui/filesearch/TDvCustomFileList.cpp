#include "gui/filesearch/TDvCustomFileList.h"

#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/ShellOperations.h"
#include "gui/filesearch/FileCommands.h"
#include "gui/filesearch/FilePropertiesDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <stdexcept>

namespace dv {

namespace {

// More files than this are opened only after asking: a select-all and Enter could otherwise
// start thousands of programs.
constexpr int kOpenWithoutAsking = 15;

QStringList PathsOf(const std::vector<TDvFileListItem *> &pItems)
{
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(pItems.size()));
    for (const TDvFileListItem *item : pItems)
        paths.append(item->Path());
    return paths;
}

} // namespace

TDvCustomFileList::TDvCustomFileList(QWidget *parent) : TDvBaseShellListView(parent)
{
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    fModel->OnRename = [this](TDvFileListItem &item, const QString &name) {
        return RenameItem(item, name);
    };
    fItemsChangedTimer.setSingleShot(true);
    fItemsChangedTimer.setInterval(0);
    connect(&fItemsChangedTimer, &QTimer::timeout, this, [this] {
        if (OnItemsChanged)
            OnItemsChanged();
    });
}

void TDvCustomFileList::ItemsChanged()
{
    if (!fItemsChangedTimer.isActive())
        fItemsChangedTimer.start();
}

bool TDvCustomFileList::JudgeAgain(TDvFileListItem &pItem)
{
    pItem.Invalidate();
    fModel->ItemChanged(fModel->IndexOf(&pItem));
    if (CanAddItem(pItem))
        return true;
    fModel->Remove(fModel->IndexOf(&pItem));
    ItemsChanged();
    return false;
}

TDvCustomFileList::~TDvCustomFileList() = default;

TDvFileListItem *TDvCustomFileList::Add(const QString &Path, bool Checked, int pPos)
{
    (void)Checked; // the result list has no check boxes
    if (Path.isEmpty())
        throw std::invalid_argument("pPath must be assigned");
    if (!Path.startsWith(QLatin1Char('/')))
        throw std::invalid_argument("pItemIdList must be assigned");

    const bool isFolder = Path.size() > 1 && Path.endsWith(QLatin1Char('/'));
    QStringView path(Path);
    if (isFolder)
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QString folder;
    QStringView name;
    if (path.size() == 1) {
        name = path; // the root itself
    } else {
        const QStringView folderView = path.left(slash + 1);
        if (folderView != fLastFolder)
            fLastFolder = folderView.toString();
        folder = fLastFolder;
        name = path.mid(slash + 1);
    }

    if (!fAllowDuplicates) {
        if (TDvFileListItem *existing = ReturnItemInList(Path))
            return JudgeAgain(*existing) ? existing : nullptr;
    }

    TDvFileListItem *item =
        fModel->Insert(std::make_unique<TDvFileListItem>(std::move(folder), name, isFolder), pPos);
    bool accepted = false;
    try {
        accepted = CanAddItem(*item);
    } catch (...) {
        fModel->Remove(IndexOfCandidate(item));
        throw;
    }
    // The handlers may let the window work (a header click sorts, a command removes rows):
    // the row is looked up again, at the end first, where it usually still is.
    const int index = IndexOfCandidate(item);
    if (index < 0)
        return nullptr;
    if (!accepted) {
        fModel->Remove(index);
        return nullptr;
    }
    ItemAccepted(*item);
    return item;
}

int TDvCustomFileList::IndexOfCandidate(const TDvFileListItem *pItem) const
{
    const int last = ItemCount() - 1;
    return Item(last) == pItem ? last : fModel->IndexOf(pItem);
}

bool TDvCustomFileList::CanAddItem(TDvFileListItem &pItem)
{
    bool canAdd = true;
    if (OnAddItem)
        OnAddItem(pItem, canAdd);
    if (canAdd && OnAddPath)
        OnAddPath(pItem.Path(), canAdd);
    return canAdd;
}

TDvFileListItem *TDvCustomFileList::ReturnItemInList(const QString &pFilePath,
                                                     int lStartIndex) const
{
    if (lStartIndex <= 0)
        return fModel->FindPath(pFilePath);
    for (int i = std::max(0, lStartIndex); i < ItemCount(); ++i)
        if (Item(i)->NamesPath(pFilePath))
            return Item(i);
    return nullptr;
}

bool TDvCustomFileList::IsItemInList(const QString &FileName) const
{
    return ReturnItemInList(FileName, 0) != nullptr;
}

void TDvCustomFileList::Clear()
{
    fModel->Clear();
    fLastFolder.clear();
    ListCleared();
}

void TDvCustomFileList::ItemDeleted(const QString &pPath)
{
    if (TDvFileListItem *item = ReturnItemInList(pPath)) {
        fModel->Remove(fModel->IndexOf(item));
        ItemsChanged();
    }
}

void TDvCustomFileList::ItemRenamed(const QString &pOldPath, const QString &pNewPath)
{
    QStringView path(pNewPath);
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || path.size() < 2)
        return;
    QStringView oldPath(pOldPath);
    if (oldPath.size() > 1 && oldPath.endsWith(QLatin1Char('/')))
        oldPath.chop(1);
    // The rows below a renamed folder follow it; the rows of one folder keep sharing its text.
    const QString oldFolder = oldPath.toString() + QLatin1Char('/');
    const QString newFolder = path.toString() + QLatin1Char('/');
    QHash<const void *, QString> moved;
    bool changed = false;
    for (int i = 0; i < ItemCount(); ++i) {
        TDvFileListItem *row = Item(i);
        if (!row->Folder().startsWith(oldFolder))
            continue;
        auto it = moved.constFind(row->Folder().constData());
        if (it == moved.constEnd())
            it = moved.insert(row->Folder().constData(),
                              newFolder + row->Folder().mid(oldFolder.size()));
        fModel->SetItemPath(*row, *it, row->CaptionView().toString());
        fModel->ItemChanged(i);
        changed = true;
    }
    if (TDvFileListItem *item = ReturnItemInList(pOldPath)) {
        TDvFileListItem *target = ReturnItemInList(pNewPath);
        if (target != nullptr && target != item) {
            // Renamed onto a listed file: that row stays, for the one path.
            fModel->Remove(fModel->IndexOf(item));
        } else {
            fModel->SetItemPath(*item, path.left(slash + 1).toString(), path.mid(slash + 1));
            fModel->ItemChanged(fModel->IndexOf(item));
        }
        changed = true;
    }
    if (changed)
        ItemsChanged();
}

void TDvCustomFileList::ChangeNotified(TNotificationEvent pEvent, const QString &pPath1,
                                       const QString &pPath2)
{
    if (pEvent == neFileDelete || pEvent == neFolderDelete)
        ItemDeleted(pPath1);
    if (pEvent == neFileRename || pEvent == neFolderRename)
        ItemRenamed(pPath1, pPath2);
    // The list is always a report view: no thumbnails to re-sort after a deletion.
}

void TDvCustomFileList::ReportError(const QString &pText)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(), pText,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TDvCustomFileList::OpenSelected()
{
    const std::vector<TDvFileListItem *> items = SelectedItems();
    if (items.empty())
        return;
    if (static_cast<int>(items.size()) > kOpenWithoutAsking &&
        QMessageBox::question(this, QApplication::applicationName(),
                              Translate(QStringLiteral("Open %1 files?")).arg(items.size())) !=
            QMessageBox::Yes)
        return;
    QStringList failures;
    for (const TDvFileListItem *item : items)
        if (!FileCommands::open(item->Path()))
            failures.append(Translate(QStringLiteral("No program opens %1")).arg(item->Path()));
    if (!failures.isEmpty()) {
        fLastError = failures.join(QLatin1Char('\n'));
        ReportError(fLastError);
    }
}

void TDvCustomFileList::OpenContainingFolder()
{
    if (const TDvFileListItem *item = Item(ItemIndex()))
        FileCommands::openFolder(item->FolderDisplay());
}

void TDvCustomFileList::ShowProperties()
{
    if (const TDvFileListItem *item = Item(ItemIndex()))
        FileCommands::showProperties(item->Path(), this);
}

void TDvCustomFileList::ClearCutMarks()
{
    for (int i = 0; i < ItemCount(); ++i) {
        if (Item(i)->IsCut()) {
            Item(i)->SetCut(false);
            fModel->ItemChanged(i);
        }
    }
}

void TDvCustomFileList::CopySelected(bool pCut)
{
    if (pCut && fReadOnly)
        return;
    const std::vector<TDvFileListItem *> items = SelectedItems();
    if (items.empty())
        return;
    ClearCutMarks();
    FileCommands::copyToClipboard(PathsOf(items), pCut);
    if (pCut) {
        for (TDvFileListItem *item : items) {
            item->SetCut(true);
            fModel->ItemChanged(fModel->IndexOf(item));
        }
    }
}

void TDvCustomFileList::CopyPaths()
{
    const std::vector<TDvFileListItem *> items = SelectedItems();
    if (!items.empty())
        FileCommands::copyPaths(PathsOf(items));
}

void TDvCustomFileList::Paste()
{
    if (fReadOnly)
        return;
    const TDvFileListItem *target = Item(ItemIndex());
    if (!target)
        return;
    const QString folder = target->Folder();
    const QMimeData *data = QApplication::clipboard()->mimeData();
    const QStringList files = ShellOperations::LocalFiles(data);
    if (files.isEmpty())
        return;
    const bool move = ShellOperations::IsCut(data);
    QStringList failures;
    for (const QString &source : files) {
        QString error;
        const QString placed = ShellOperations::Paste(source, folder, move, &error);
        if (placed.isEmpty())
            failures.append(source + QStringLiteral(": ") + error);
        else if (move && placed != source)
            ItemRenamed(source, placed);
    }
    if (move) {
        // What was cut is gone from where it was: the clipboard no longer offers it.
        ClearCutMarks();
        QApplication::clipboard()->clear();
    }
    if (!failures.isEmpty()) {
        fLastError = failures.join(QLatin1Char('\n'));
        ReportError(fLastError);
    }
}

void TDvCustomFileList::RenameSelected()
{
    if (fReadOnly)
        return;
    const int index = ItemIndex();
    if (index < 0)
        return;
    const QModelIndex cell = fModel->index(index, FileListModel::ColName);
    setCurrentIndex(cell);
    edit(cell);
}

bool TDvCustomFileList::RenameItem(TDvFileListItem &pItem, const QString &pNewName)
{
    if (fReadOnly)
        return false;
    QString error;
    if (!ShellOperations::Rename(pItem.Path(), pNewName, &error)) {
        fLastError = error;
        ReportError(error);
        return false;
    }
    fModel->SetItemPath(pItem, pItem.Folder(), pNewName);
    ItemsChanged();
    return true;
}

void TDvCustomFileList::DeleteSelected()
{
    if (fReadOnly)
        return;
    const std::vector<TDvFileListItem *> items = SelectedItems();
    if (items.empty())
        return;
    std::vector<TDvFileListItem *> trashed;
    QStringList failures;
    for (TDvFileListItem *item : items) {
        QString error;
        if (ShellOperations::MoveToTrash(item->Path(), &error))
            trashed.push_back(item);
        else
            failures.append(item->Path() + QStringLiteral(": ") + error);
    }
    for (TDvFileListItem *item : trashed)
        fModel->Remove(fModel->IndexOf(item));
    if (!trashed.empty())
        ItemsChanged();
    if (!failures.isEmpty()) {
        fLastError = failures.join(QLatin1Char('\n'));
        ReportError(fLastError);
    }
}

void TDvCustomFileList::RefreshItems()
{
    fModel->Refresh();
}

QMenu *TDvCustomFileList::CreateContextMenu(QWidget *pParent)
{
    const int count = SelCount();
    const bool one = ItemIndex() >= 0;
    const bool writable = !fReadOnly;
    const bool canPaste = !FileCommands::clipboardFiles().isEmpty();
    const auto enabled = [&](FileCommands::Command command) {
        switch (command) {
        case FileCommands::Open:
        case FileCommands::Copy:
        case FileCommands::CopyPath:
            return count > 0;
        case FileCommands::Cut:
        case FileCommands::MoveToTrash:
            return count > 0 && writable;
        case FileCommands::Paste:
            return one && writable && canPaste;
        case FileCommands::Rename:
            return one && writable;
        case FileCommands::OpenContainingFolder:
        case FileCommands::Properties:
            return one;
        }
        return false;
    };
    QPointer<TDvCustomFileList> self(this);
    return FileCommands::createMenu(pParent, enabled, [self](FileCommands::Command command) {
        if (self)
            self->RunCommand(command);
    });
}

void TDvCustomFileList::RunCommand(int pCommand)
{
    switch (FileCommands::Command(pCommand)) {
    case FileCommands::Open:
        OpenSelected();
        break;
    case FileCommands::OpenContainingFolder:
        OpenContainingFolder();
        break;
    case FileCommands::Copy:
    case FileCommands::Cut:
        CopySelected(pCommand == FileCommands::Cut);
        break;
    case FileCommands::Paste:
        Paste();
        break;
    case FileCommands::Rename:
        RenameSelected();
        break;
    case FileCommands::MoveToTrash:
        DeleteSelected();
        break;
    case FileCommands::Properties:
        ShowProperties();
        break;
    case FileCommands::CopyPath:
        CopyPaths();
        break;
    }
}

void TDvCustomFileList::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    // A keyboard request's position is the focus rectangle as the view reports it, in the
    // viewport's coordinates but taken as the list's: it would name the row above.
    if (event->reason() == QContextMenuEvent::Keyboard)
        return ShowKeyboardContextMenu();
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (index.isValid() && !selectionModel()->isRowSelected(index.row(), QModelIndex()))
        SelectItem(index.row());
    PopupContextMenu(event->globalPos());
}

void TDvCustomFileList::ShowKeyboardContextMenu()
{
    QModelIndex index = currentIndex();
    if (!index.isValid() || !selectionModel()->isRowSelected(index.row(), QModelIndex()))
        index = fModel->index(ItemIndex(), 0);
    QPoint at = viewport()->rect().center();
    if (index.isValid()) {
        scrollTo(index);
        at = visualRect(index).center();
        at.setX(std::clamp(at.x(), 0, viewport()->width() / 2));
    }
    PopupContextMenu(viewport()->mapToGlobal(at));
}

void TDvCustomFileList::PopupContextMenu(const QPoint &pGlobalPos)
{
    QMenu *menu = CreateContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(pGlobalPos);
}

void TDvCustomFileList::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int key = event->key();
    if (state() == QAbstractItemView::EditingState)
        return TDvBaseShellListView::keyPressEvent(event);
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::AltModifier) {
        ShowProperties();
    } else if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
        OpenSelected();
    } else if (mods == Qt::ControlModifier && key == Qt::Key_A) {
        selectAll();
    } else if (mods == Qt::ControlModifier && key == Qt::Key_C) {
        CopySelected(false);
    } else if (mods == Qt::ControlModifier && key == Qt::Key_X) {
        CopySelected(true);
    } else if (mods == Qt::ControlModifier && key == Qt::Key_V) {
        Paste();
    } else if (mods == Qt::NoModifier && key == Qt::Key_F2) {
        RenameSelected();
    } else if (mods == Qt::NoModifier && key == Qt::Key_Delete) {
        DeleteSelected();
    } else if (mods == Qt::NoModifier && key == Qt::Key_F5) {
        RefreshItems();
    } else if ((mods == Qt::ShiftModifier && key == Qt::Key_F10) ||
               (mods == Qt::NoModifier && key == Qt::Key_Menu)) {
        // Where the platform turns the Menu key into a menu request, that comes first and the
        // open menu takes the key.
        ShowKeyboardContextMenu();
    } else {
        return TDvBaseShellListView::keyPressEvent(event);
    }
    event->accept();
}

void TDvCustomFileList::mouseDoubleClickEvent(QMouseEvent *event)
{
    TDvBaseShellListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        OpenSelected();
}

void TDvCustomFileList::startDrag(Qt::DropActions supportedActions)
{
    (void)supportedActions;
    const std::vector<TDvFileListItem *> items = SelectedItems();
    if (items.empty())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(ShellOperations::FileUrlsMimeData(PathsOf(items), false));
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
}

} // namespace dv
