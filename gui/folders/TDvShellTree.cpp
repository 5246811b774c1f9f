#include "gui/folders/TDvShellTree.h"

#include "core/folders/FolderLister.h"
#include "core/folders/TDvShellLink.h"
#include "core/i18n/Translation.h"
#include "core/platform/EnvironmentReferences.h"
#include "core/platform/FileName.h"
#include "core/platform/ShellOperations.h"
#include "gui/filesearch/FileCommands.h"
#include "gui/folders/SelectionStateDelegate.h"
#include "gui/folders/ShellTreeModel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <memory>
#include <optional>
#include <stdexcept>

namespace dv {

namespace {

class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The folder holding an absolute path, taken from the text alone (QFileInfo would re-encode
// a name with bytes that are not UTF-8).
QString ParentFolder(const QString &pPath)
{
    const qsizetype slash = pPath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : pPath.left(slash);
}

} // namespace

TDvShellTree::TDvShellTree(std::shared_ptr<TDvShellLink> aShellLink, QWidget *parent)
    : QTreeView(parent), fModel(new ShellTreeModel(this)),
      fLoader(new FolderTreeLoader(fModel, this)), fDelegate(new SelectionStateDelegate(this))
{
    setModel(fModel);
    setItemDelegate(fDelegate);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setIndentation(19);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    // Editing starts with F2 or the menu only: a double click expands.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);

    connect(fModel, &FolderTreeModel::RenameRequested, this,
            [this](TDvShellTreeNode *aNode, const QString &aName) { RenameNode(aNode, aName); });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        fLoader->setExpanded(fModel->NodeOf(index), false);
    });
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        fLoader->setExpanded(fModel->NodeOf(index), true);
    });
    connect(fLoader, &FolderTreeLoader::filled, this, &TDvShellTree::Filled);
    connect(fLoader, &FolderTreeLoader::listed, this, &TDvShellTree::ContinueSelection);
    connect(fLoader, &FolderTreeLoader::checkStateChanged, this,
            &TDvShellTree::OnTreeNodeCheckStateChanged);
    SetShellLink(std::move(aShellLink));
    fLoader->fill();
}

void TDvShellTree::SetShellLink(std::shared_ptr<TDvShellLink> aShellLink)
{
    if (aShellLink == ShellLink())
        return;
    if (ShellLink())
        ShellLink()->UnregisterShellControl(this);
    if (aShellLink)
        aShellLink->RegisterShellControl(this);
    fLoader->setShellLink(std::move(aShellLink));
}

void TDvShellTree::TranslateTexts()
{
    if (TDvShellTreeNode *root = fModel->Root()) {
        root->Caption = Translate(QStringLiteral("Computer"));
        fModel->NodeChanged(root);
    }
}

void TDvShellTree::Filled()
{
    const QModelIndex rootIndex = fModel->IndexOf(fModel->Root());
    expand(rootIndex);
    setCurrentIndex(rootIndex);
    ContinueSelection();
}

TDvShellTree::~TDvShellTree()
{
    if (ShellLink())
        ShellLink()->UnregisterShellControl(this);
    delete fLoader; // its jobs end before the nodes go
    fModel->ResetRoot(nullptr);
}

// --- Filling and listing ---

// --- Check states ---

void TDvShellTree::Refresh(TRefreshLevel pRefreshLevel, const ShellItem *pItemIdList)
{
    switch (pRefreshLevel) {
    case TRefreshLevel::rfCheckboxes:
        fLoader->refreshCheckStates(pItemIdList);
        return;
    case TRefreshLevel::rfFull: {
        BusyCursor busy;
        fLoader->refreshAll();
        return;
    }
    case TRefreshLevel::rfSmart:
        fLoader->refreshNode(CurrentNode());
        return;
    }
    throw std::invalid_argument("Unknown TRefreshLevel");
}

TDvShellTreeNode *TDvShellTree::CurrentNode() const
{
    return fModel->NodeOf(currentIndex());
}

// --- Toggling ---

void TDvShellTree::ToggleCheckBox(TDvShellTreeNode *aNode)
{
    BusyCursor busy;
    fLoader->toggleCheckState(aNode);
}

// --- Selected folder ---

QString TDvShellTree::SelectedFolder() const
{
    if (!fPendingSelection.isEmpty())
        return fPendingSelection;
    const TDvShellTreeNode *node = CurrentNode();
    return node == nullptr ? QString() : node->FullPath();
}

void TDvShellTree::SetSelectedFolder(const QString &Value)
{
    if (Value.isEmpty()) {
        fPendingSelection.clear();
        setCurrentIndex(fModel->IndexOf(fModel->Root()));
        return;
    }
    // A folder that exists as written is that folder, whatever "$", "%" or "~" its names
    // hold; only a text that names no folder is read as holding references.
    QString path = QDir::cleanPath(Value);
    if (!QDir::isAbsolutePath(path) || !FolderLister::IsFolder(path)) {
        const QString expanded = ExpandEnvironmentReferences(Value);
        if (!QDir::isAbsolutePath(expanded))
            return;
        path = QDir::cleanPath(expanded);
        if (!FolderLister::IsFolder(path))
            return; // no such folder: the selection stays
    }
    fPendingSelection = path;
    ContinueSelection();
}

void TDvShellTree::ContinueSelection()
{
    if (fPendingSelection.isEmpty() || fModel->Root() == nullptr)
        return;
    bool unlisted = false;
    TDvShellTreeNode *node = fLoader->nodeToward(fPendingSelection, &unlisted);
    if (unlisted) {
        // Walk on when its listing has arrived.
        expand(fModel->IndexOf(node));
        fLoader->listFolder(node);
        return;
    }
    fPendingSelection.clear();
    for (TDvShellTreeNode *p = node->Parent; p != nullptr; p = p->Parent)
        expand(fModel->IndexOf(p));
    const QModelIndex index = fModel->IndexOf(node);
    setCurrentIndex(index);
    scrollTo(index);
}

// --- Rename ---

bool TDvShellTree::RenameNode(TDvShellTreeNode *aNode, const QString &aNewName)
{
    if (aNode == nullptr || aNode->IsRoot() || aNode->Parent->IsRoot())
        return false;
    if (aNewName == aNode->Name)
        return true;
    const QString oldPath = aNode->FullPath();
    QString error;
    if (!ShellOperations::Rename(oldPath, aNewName, &error)) {
        ShowError(Translate(error));
        return false;
    }
    fLoader->folderRenamed(aNode, aNewName);
    return true;
}

// --- Input ---

QRect TDvShellTree::CheckRectOf(const QModelIndex &index) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return fDelegate->CheckRect(option, index);
}

bool TDvShellTree::IsOnCheckBox(const QPoint &aPos, QModelIndex *aIndex) const
{
    const QModelIndex index = indexAt(aPos);
    if (!index.isValid() || !CheckRectOf(index).contains(aPos))
        return false;
    if (aIndex != nullptr)
        *aIndex = index;
    return true;
}

void TDvShellTree::keyPressEvent(QKeyEvent *event)
{
    fPendingSelection.clear();
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    TDvShellTreeNode *node = CurrentNode();
    const int key = event->key();
    if (key == Qt::Key_Space && mods == Qt::NoModifier) {
        ToggleCheckBox(node);
    } else if (key == Qt::Key_F2 && mods == Qt::NoModifier) {
        if (fModel->flags(currentIndex()) & Qt::ItemIsEditable)
            edit(currentIndex());
    } else if (key == Qt::Key_F5 && mods == Qt::NoModifier) {
        FullRefresh();
    } else if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::AltModifier) {
        ShowProperties(node);
    } else if (key == Qt::Key_Up && mods == Qt::AltModifier) {
        if (node != nullptr && node->Parent != nullptr)
            setCurrentIndex(fModel->IndexOf(node->Parent));
    } else if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
        MoveToTrash(node);
    } else if (key == Qt::Key_C && mods == Qt::ControlModifier) {
        CopyToClipboard(node, false);
    } else if (key == Qt::Key_X && mods == Qt::ControlModifier) {
        CopyToClipboard(node, true);
    } else if (key == Qt::Key_V && mods == Qt::ControlModifier) {
        PasteInto(node);
    } else if ((key == Qt::Key_F10 && mods == Qt::ShiftModifier) || key == Qt::Key_Menu) {
        const QModelIndex index = currentIndex();
        ShowContextMenu(index, viewport()->mapToGlobal(visualRect(index).center()));
    } else {
        QTreeView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TDvShellTree::mousePressEvent(QMouseEvent *event)
{
    fPendingSelection.clear();
    QModelIndex index;
    fCheckBoxPressed =
        event->button() == Qt::LeftButton && IsOnCheckBox(event->position().toPoint(), &index);
    if (fCheckBoxPressed) {
        // A click on the box toggles it and does not select the node.
        ToggleCheckBox(fModel->NodeOf(index));
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void TDvShellTree::mouseReleaseEvent(QMouseEvent *event)
{
    if (fCheckBoxPressed) {
        fCheckBoxPressed = false;
        event->accept();
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

void TDvShellTree::mouseDoubleClickEvent(QMouseEvent *event)
{
    QModelIndex index;
    if (event->button() == Qt::LeftButton && IsOnCheckBox(event->position().toPoint(), &index)) {
        fCheckBoxPressed = true;
        ToggleCheckBox(fModel->NodeOf(index));
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void TDvShellTree::contextMenuEvent(QContextMenuEvent *event)
{
    QModelIndex index = currentIndex();
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        at = viewport()->mapToGlobal(visualRect(index).center());
    } else {
        index = indexAt(viewport()->mapFrom(this, event->pos()));
        if (!index.isValid())
            return;
        setCurrentIndex(index);
    }
    ShowContextMenu(index, at);
    event->accept();
}

void TDvShellTree::FullRefresh()
{
    Refresh(TRefreshLevel::rfFull, nullptr);
    if (ShellLink())
        ShellLink()->Refresh(this, TRefreshLevel::rfFull, nullptr);
}

// --- Folder commands ---

void TDvShellTree::ShowContextMenu(const QModelIndex &index, const QPoint &aGlobalPos)
{
    TDvShellTreeNode *node = fModel->NodeOf(index);
    if (node == nullptr || node->IsRoot())
        return;
    const bool fixed = node->Parent->IsRoot(); // a drive or the home folder
    const QString path = node->FullPath();
    const bool canPaste = !FileCommands::clipboardFiles().isEmpty();
    const auto enabled = [&](FileCommands::Command command) {
        switch (command) {
        case FileCommands::OpenContainingFolder:
            return path != u"/";
        case FileCommands::Cut:
        case FileCommands::Rename:
        case FileCommands::MoveToTrash:
            return !fixed;
        case FileCommands::Paste:
            return canPaste;
        default:
            return true;
        }
    };
    std::optional<FileCommands::Command> chosen;
    std::unique_ptr<QMenu> menu(FileCommands::createMenu(
        this, enabled, [&chosen](FileCommands::Command command) { chosen = command; }));
    QPointer<TDvShellTree> self(this);
    const ICancellationTokenPtr alive = node->CancellationToken;
    menu->exec(aGlobalPos);
    // The node may have gone while the menu was open (a refresh).
    if (!self || !chosen || alive->IsCancellationRequested())
        return;
    switch (*chosen) {
    case FileCommands::Open:
        FileCommands::open(path);
        break;
    case FileCommands::OpenContainingFolder:
        FileCommands::openFolder(ParentFolder(path));
        break;
    case FileCommands::Copy:
    case FileCommands::Cut:
        CopyToClipboard(node, *chosen == FileCommands::Cut);
        break;
    case FileCommands::Paste:
        PasteInto(node);
        break;
    case FileCommands::Rename:
        edit(fModel->IndexOf(node));
        break;
    case FileCommands::MoveToTrash:
        MoveToTrash(node);
        break;
    case FileCommands::CopyPath:
        FileCommands::copyPaths({path});
        break;
    case FileCommands::Properties:
        ShowProperties(node);
        break;
    }
}

void TDvShellTree::ClearCutMarks(TDvShellTreeNode *aNode)
{
    if (aNode->IsCut) {
        aNode->IsCut = false;
        fModel->NodeChanged(aNode);
    }
    for (const auto &child : aNode->Children)
        ClearCutMarks(child.get());
}

void TDvShellTree::CopyToClipboard(TDvShellTreeNode *aNode, bool aCut)
{
    if (aNode == nullptr || aNode->IsRoot() || (aCut && aNode->Parent->IsRoot()))
        return;
    FileCommands::copyToClipboard({aNode->FullPath()}, aCut);
    ClearCutMarks(fModel->Root());
    if (aCut) {
        aNode->IsCut = true;
        fModel->NodeChanged(aNode);
    }
}

void TDvShellTree::PasteInto(TDvShellTreeNode *aNode)
{
    if (aNode == nullptr || aNode->IsRoot())
        return;
    bool move = false;
    const QStringList sources = FileCommands::clipboardFiles(&move);
    if (sources.isEmpty())
        return;
    BusyCursor busy;
    const QString target = aNode->FullPath();
    QStringList errors;
    QSet<QString> touchedFolders{target};
    for (const QString &source : sources) {
        QString error;
        if (ShellOperations::Paste(source, target, move, &error).isEmpty())
            errors.append(Translate(error));
        else if (move)
            touchedFolders.insert(ParentFolder(source));
    }
    if (move) {
        QGuiApplication::clipboard()->clear();
        ClearCutMarks(fModel->Root());
    }
    // Show what changed: re-read the folders involved that are loaded.
    fLoader->refreshFolders(touchedFolders);
    if (!errors.isEmpty())
        ShowError(errors.join(u'\n'));
}

void TDvShellTree::MoveToTrash(TDvShellTreeNode *aNode)
{
    if (aNode == nullptr || aNode->IsRoot() || aNode->Parent->IsRoot())
        return;
    const QString path = aNode->FullPath();
    QString error;
    if (!ShellOperations::MoveToTrash(path, &error)) {
        ShowError(Translate(error));
        return;
    }
    fLoader->folderRemoved(path);
}

void TDvShellTree::ShowProperties(TDvShellTreeNode *aNode)
{
    if (aNode == nullptr || aNode->IsRoot())
        return;
    FileCommands::showProperties(aNode->FullPath(), this);
}

void TDvShellTree::ShowError(const QString &aMessage)
{
    // Not modal to the caller: a rename commits from inside the view's editing.
    auto *box = new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(),
                                aMessage, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace dv
