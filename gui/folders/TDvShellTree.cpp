#include "gui/folders/TDvShellTree.h"

#include "core/filesearch/TDvShellChangeNotifier.h"
#include "core/folders/TDvCheckStateJob.h"
#include "core/folders/TDvFolderLister.h"
#include "core/folders/TDvFolderListingJob.h"
#include "core/folders/TDvShellLink.h"
#include "core/i18n/Translation.h"
#include "core/platform/EnvironmentReferences.h"
#include "core/platform/FileName.h"
#include "core/platform/PathCompare.h"
#include "core/platform/TDvMountTable.h"
#include "core/platform/TDvShellOperations.h"
#include "core/threads/WorkerThreadPool.h"
#include "gui/filesearch/TDvFilePropertiesDialog.h"
#include "gui/folders/TDvSelectionStateDelegate.h"
#include "gui/folders/TDvShellTreeModel.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <stdexcept>
#include <utility>

namespace dv {

namespace {

using TListing = TDvShellTreeNode::TListing;

// Up to this many nodes share one check-state job: answers arrive in portions and several
// workers can help with a big tree.
constexpr std::size_t kStateBatch = 128;

bool IsWithin(const QString &aPath, const QString &aFolder)
{
    if (aFolder == u"/")
        return aPath.startsWith(u'/');
    return aPath == aFolder || (aPath.startsWith(aFolder) && aPath.size() > aFolder.size() &&
                                aPath.at(aFolder.size()) == u'/');
}

QStringList ComponentsBelow(const QString &aPath, const QString &aFolder)
{
    return aPath.mid(aFolder.size()).split(u'/', Qt::SkipEmptyParts);
}

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
    : QTreeView(parent), fModel(new TDvShellTreeModel(this)),
      fDelegate(new TDvSelectionStateDelegate(this)), fOnAddFolder(&TDvShellTree::ArchiveFilter)
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

    connect(fModel, &TDvShellTreeModel::ListingRequested, this,
            [this](TDvShellTreeNode *aNode) { StartListing(aNode, false); });
    connect(fModel, &TDvShellTreeModel::RenameRequested, this,
            [this](TDvShellTreeNode *aNode, const QString &aName) { RenameNode(aNode, aName); });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        TDvShellTreeNode *node = fModel->NodeOf(index);
        if (node == nullptr)
            return;
        if (node->Listing == TListing::Running) {
            node->CancelListing();
            node->Listing = TListing::NotListed;
        }
        if (!node->IsRoot())
            UnwatchFolder(node->FullPath());
    });
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        TDvShellTreeNode *node = fModel->NodeOf(index);
        if (node != nullptr && node->Listing == TListing::Listed && !node->IsRoot())
            WatchFolder(node->FullPath());
    });
    // Changes inside an expanded folder come from the system's change notifications; a burst
    // of them (a copy of many folders) is read once.
    fWatcher = std::make_unique<TDvShellChangeNotifier>();
    fWatcher->SetEventFilter(TDvShellChangeNotifier::EventBit(neFolderCreate) |
                             TDvShellChangeNotifier::EventBit(neFolderDelete) |
                             TDvShellChangeNotifier::EventBit(neFolderRename) |
                             TDvShellChangeNotifier::EventBit(neFolderUpdate));
    fWatcher->OnChange = [this](TDvShellChangeNotifier &, TNotificationEvent, const QString &aPath1,
                                const QString &aPath2) {
        // A folder that came, went or was renamed changes its parent's list; a watched
        // folder that went (or whose events were lost) is read itself.
        for (const QString &path : {aPath1, aPath2}) {
            if (path.isEmpty())
                continue;
            if (fWatcher->IsWatchedFolder(path))
                fChangedFolders.insert(path);
            const qsizetype slash = path.lastIndexOf(u'/');
            const QString parent = slash <= 0 ? QStringLiteral("/") : path.left(slash);
            if (fWatcher->IsWatchedFolder(parent))
                fChangedFolders.insert(parent);
        }
        fChangeTimer->start();
    };
    fWatcher->SetEnabled(true);
    fChangeTimer = new QTimer(this);
    fChangeTimer->setSingleShot(true);
    fChangeTimer->setInterval(200);
    connect(fChangeTimer, &QTimer::timeout, this, &TDvShellTree::ReadChangedFolders);
    fWatchSettleTimer = new QTimer(this);
    fWatchSettleTimer->setInterval(20);
    connect(fWatchSettleTimer, &QTimer::timeout, this, [this] {
        // Read anyway after a second: a watch that cannot be added reports no changes.
        if (!fWatcher->AllWatchesAdded() && ++fWatchSettleTicks < 50)
            return;
        fWatchSettleTicks = 0;
        fWatchSettleTimer->stop();
        for (const QString &path : std::exchange(fAwaitingWatch, {}))
            if (fWatcher->IsWatchedFolder(path))
                fChangedFolders.insert(path);
        fChangeTimer->start();
    });

    fRootFolders = DefaultRootFolders();
    fShellLink = std::move(aShellLink);
    if (fShellLink)
        fShellLink->RegisterShellControl(this);
    Fill();
}

TDvShellTree::~TDvShellTree()
{
    if (fShellLink)
        fShellLink->UnregisterShellControl(this);
    TWorkerThreadPool::Instance().TerminateWorkItems(this);
    fModel->ResetRoot(nullptr);
}

void TDvShellTree::SetShellLink(std::shared_ptr<TDvShellLink> aShellLink)
{
    if (aShellLink == fShellLink)
        return;
    if (fShellLink)
        fShellLink->UnregisterShellControl(this);
    fShellLink = std::move(aShellLink);
    if (fShellLink)
        fShellLink->RegisterShellControl(this);
    SetCheckboxes(fCheckboxes);
}

void TDvShellTree::SetCheckboxes(bool aValue)
{
    fCheckboxes = aValue;
    TDvShellTreeNode *root = fModel->Root();
    if (root == nullptr)
        return;
    // The boxes are a cached view of the list: drop them and read them afresh.
    std::vector<TDvShellTreeNode *> all;
    std::vector<TDvShellTreeNode *> pending{root};
    while (!pending.empty()) {
        TDvShellTreeNode *node = pending.back();
        pending.pop_back();
        node->StateIndex = -1;
        node->StateEvaluated = false;
        all.push_back(node);
        for (const auto &child : node->Children)
            pending.push_back(child.get());
    }
    fModel->ExpandButtonsChanged();
    if (!Checkboxes())
        return;
    InitRootState();
    all.erase(all.begin()); // the root is set directly
    QueueStateJobs(all, false);
}

void TDvShellTree::TranslateTexts()
{
    if (TDvShellTreeNode *root = fModel->Root()) {
        root->Caption = Translate(QStringLiteral("Computer"));
        fModel->NodeChanged(root);
    }
}

void TDvShellTree::SetRootFolders(const QStringList &aFolders)
{
    fRootFolders.clear();
    for (const QString &folder : aFolders) {
        const QString clean = QDir::cleanPath(folder);
        if (!clean.isEmpty() && !fRootFolders.contains(clean))
            fRootFolders.append(clean);
    }
    Fill();
}

QStringList TDvShellTree::DefaultRootFolders()
{
    QStringList result;
    for (QString drive : TDvMountTable::Load().ReadyDrives()) {
        if (drive.size() > 1 && drive.endsWith(u'/'))
            drive.chop(1);
        result.append(drive);
    }
    if (!result.contains(QStringLiteral("/")))
        result.prepend(QStringLiteral("/"));
    const QString home = QDir::cleanPath(QDir::homePath());
    if (!home.isEmpty() && !result.contains(home) && QFileInfo(home).isDir())
        result.append(home);
    return result;
}

void TDvShellTree::ArchiveFilter(TDvShellTreeNode *Node, const QString &path, bool &CanAdd)
{
    Q_UNUSED(Node);
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    CanAdd = extension != u".zip" && extension != u".rar";
}

// --- Filling and listing ---

void TDvShellTree::Fill()
{
    TWorkerThreadPool::Instance().TerminateWorkItems(this);
    auto root = std::make_unique<TDvShellTreeNode>(nullptr, TDvShellItem::Computer(), QString());
    root->Caption = Translate(QStringLiteral("Computer"));
    root->Listing = TListing::Listed;
    std::vector<TDvShellTreeNode *> tops;
    for (const QString &folder : fRootFolders) {
        if (auto node = MakeNode(root.get(), folder, folder)) {
            tops.push_back(node.get());
            root->Children.push_back(std::move(node));
        }
    }
    root->RenumberChildren();
    fModel->ResetRoot(std::move(root));
    InitRootState();
    QueueStateJobs(tops, true);
    const QModelIndex rootIndex = fModel->IndexOf(fModel->Root());
    expand(rootIndex);
    setCurrentIndex(rootIndex);
    ContinueSelection();
}

std::unique_ptr<TDvShellTreeNode> TDvShellTree::MakeNode(TDvShellTreeNode *aParent,
                                                         const QString &aName, const QString &aPath)
{
    auto node = std::make_unique<TDvShellTreeNode>(aParent, TDvShellItem::FromPath(aPath), aName);
    if (fOnAddFolder) {
        bool canAdd = true;
        fOnAddFolder(node.get(), aPath, canAdd);
        if (!canAdd)
            return nullptr;
        node->CaptionChanged = node->Caption != aName;
    }
    // The home folder is shown by its name, as file managers do; its path stays the tooltip.
    if (aParent->IsRoot() && !node->CaptionChanged && aPath != u"/" &&
        aPath == QDir::cleanPath(QDir::homePath()))
        node->Caption = aPath.mid(aPath.lastIndexOf(u'/') + 1);
    // Until its own job answers, a child shows its parent's state: a new child of a checked
    // folder is checked at once. The root's state says nothing about the drives.
    if (Checkboxes() && !aParent->IsRoot() && aParent->StateIndex > 0)
        node->StateIndex = aParent->StateIndex;
    return node;
}

void TDvShellTree::StartListing(TDvShellTreeNode *aNode, bool aRefreshKept)
{
    if (aNode == nullptr)
        return;
    if (aNode->IsRoot()) {
        RefreshRootFolders();
        return;
    }
    if (aNode->ListingToken)
        return; // one listing at a time
    auto token = std::make_shared<TCustomCancellationToken>();
    aNode->ListingToken = token;
    if (aNode->Listing == TListing::NotListed)
        aNode->Listing = TListing::Running;
    auto job = std::make_shared<TDvFolderListingJob>(aNode->FullPath());
    job->SetCancellationToken(token);
    job->SetTag(this);
    QPointer<TDvShellTree> self(this);
    job->SetOnWorkDone([self, aNode, token, aRefreshKept](const IWorkItemPtr &pItem) {
        // The token fires when the node goes away or its listing is dropped.
        if (!self || token->IsCancellationRequested() || aNode->ListingToken != token)
            return;
        if (const auto *listing = dynamic_cast<const TDvFolderListingJob *>(pItem.get()))
            self->ApplyListing(aNode, *listing, aRefreshKept);
    });
    TWorkerThreadPool::Instance().AddWorkItem(job);
}

void TDvShellTree::ApplyListing(TDvShellTreeNode *aNode, const TDvFolderListingJob &aJob,
                                bool aRefreshKept)
{
    aNode->ListingToken.reset();
    aNode->Listing = TListing::Listed;
    if (!aJob.Names()) {
        // The folder cannot be read (any more): no children, the tree stays usable.
        fModel->RemoveChildren(aNode);
        aNode->HasSubfolders = false;
        fModel->ExpandButtonsChanged();
    } else {
        MergeChildren(aNode, *aJob.Names(), aRefreshKept);
        if (isExpanded(fModel->IndexOf(aNode)))
            WatchFolder(aNode->FullPath());
    }
    ContinueSelection();
}

void TDvShellTree::WatchFolder(const QString &aPath)
{
    if (fWatcher->IsWatchedFolder(aPath))
        return;
    TDvShellChangeNotifier::TWatchOptions options;
    options.Recursive = false;
    fWatcher->AddWatch(aPath, options);
    fAwaitingWatch.insert(aPath);
    if (!fWatchSettleTimer->isActive()) {
        fWatchSettleTicks = 0;
        fWatchSettleTimer->start();
    }
}

bool TDvShellTree::UnwatchFolder(const QString &aPath)
{
    for (const QString &folder : fWatcher->WatchedFolders()) {
        if (SamePath(folder, aPath)) {
            const QString watched = folder; // the list entry goes with the watch
            fWatcher->RemoveWatch(watched);
            return true;
        }
    }
    return false;
}

void TDvShellTree::ReadChangedFolders()
{
    const QSet<QString> folders = std::exchange(fChangedFolders, {});
    for (const QString &folder : folders) {
        bool shown = false;
        for (TDvShellTreeNode *node : LoadedNodesOf(folder)) {
            if (node->Listing != TListing::Listed || !isExpanded(fModel->IndexOf(node)))
                continue;
            shown = true;
            StartListing(node, false);
        }
        if (!shown)
            UnwatchFolder(folder);
    }
}

void TDvShellTree::MergeChildren(TDvShellTreeNode *aNode, const QStringList &aNames,
                                 bool aRefreshKept)
{
    const QSet<QString> wanted(aNames.begin(), aNames.end());
    for (int i = int(aNode->Children.size()) - 1; i >= 0; --i) {
        if (!wanted.contains(aNode->Children[std::size_t(i)]->Name))
            fModel->RemoveNode(aNode->Children[std::size_t(i)].get());
    }
    const QString folder = aNode->FullPath();
    std::vector<TDvShellTreeNode *> fresh;
    std::vector<TDvShellTreeNode *> kept;
    if (aNode->Children.empty()) {
        std::vector<std::unique_ptr<TDvShellTreeNode>> batch;
        batch.reserve(std::size_t(aNames.size()));
        for (const QString &name : aNames) {
            if (auto child = MakeNode(aNode, name, JoinPath(folder, name))) {
                fresh.push_back(child.get());
                batch.push_back(std::move(child));
            }
        }
        fModel->InsertChildren(aNode, 0, std::move(batch));
    } else {
        QHash<QString, TDvShellTreeNode *> existing;
        for (const auto &child : aNode->Children)
            existing.insert(child->Name, child.get());
        int row = 0;
        for (const QString &name : aNames) {
            if (TDvShellTreeNode *child = existing.value(name)) {
                kept.push_back(child);
                row = child->Row() + 1;
                continue;
            }
            auto child = MakeNode(aNode, name, JoinPath(folder, name));
            if (!child)
                continue;
            fresh.push_back(child.get());
            std::vector<std::unique_ptr<TDvShellTreeNode>> one;
            one.push_back(std::move(child));
            fModel->InsertChildren(aNode, row, std::move(one));
            ++row;
        }
    }
    const bool hadSubfolders = aNode->HasSubfolders;
    aNode->HasSubfolders = !aNode->Children.empty();
    if (aNode->Children.empty() && hadSubfolders)
        fModel->ExpandButtonsChanged();
    QueueStateJobs(fresh, true);
    if (aRefreshKept) {
        for (TDvShellTreeNode *child : kept)
            RefreshSubtree(child);
    }
}

void TDvShellTree::DiscardChildren(TDvShellTreeNode *aNode)
{
    aNode->CancelListing();
    if (!aNode->Children.empty())
        fModel->RemoveChildren(aNode);
    aNode->Listing = TListing::NotListed;
    aNode->HasSubfolders = true;
}

void TDvShellTree::RefreshSubtree(TDvShellTreeNode *aNode)
{
    std::vector<TDvShellTreeNode *> self;
    if (!(aNode->StateEvaluated && aNode->CheckState() == TDvSelectionState::ssDisabled))
        self.push_back(aNode);
    QueueStateJobs(self, aNode->Listing == TListing::NotListed);
    if (aNode->Listing != TListing::Listed)
        return;
    if (isExpanded(fModel->IndexOf(aNode)))
        StartListing(aNode, true);
    else if (!aNode->Children.empty())
        DiscardChildren(aNode); // re-read on the next expand rather than now
}

void TDvShellTree::RefreshRootFolders()
{
    TDvShellTreeNode *root = fModel->Root();
    if (root == nullptr) {
        Fill();
        return;
    }
    const QSet<QString> wanted(fRootFolders.begin(), fRootFolders.end());
    for (int i = int(root->Children.size()) - 1; i >= 0; --i) {
        if (!wanted.contains(root->Children[std::size_t(i)]->Name))
            fModel->RemoveNode(root->Children[std::size_t(i)].get());
    }
    std::vector<TDvShellTreeNode *> fresh;
    std::vector<TDvShellTreeNode *> kept;
    int row = 0;
    for (const QString &folder : fRootFolders) {
        if (TDvShellTreeNode *node = root->ChildNamed(folder)) {
            kept.push_back(node);
            row = node->Row() + 1;
            continue;
        }
        if (auto node = MakeNode(root, folder, folder)) {
            fresh.push_back(node.get());
            std::vector<std::unique_ptr<TDvShellTreeNode>> one;
            one.push_back(std::move(node));
            fModel->InsertChildren(root, row++, std::move(one));
        }
    }
    QueueStateJobs(fresh, true);
    for (TDvShellTreeNode *node : kept)
        RefreshSubtree(node);
}

// --- Check states ---

void TDvShellTree::InitRootState()
{
    TDvShellTreeNode *root = fModel->Root();
    if (root == nullptr || !Checkboxes())
        return;
    // The Computer folder is never checked itself: partly checked while any folder is.
    SetNodeCheckState(root, fShellLink->SelectionList()->IsLocalPathSelected()
                                ? TDvSelectionState::ssGrayed
                                : TDvSelectionState::ssDisabled);
}

void TDvShellTree::SetNodeCheckState(TDvShellTreeNode *aNode, TDvSelectionState aValue)
{
    const bool wasKnown = aNode->StateEvaluated && aNode->StateIndex >= 0;
    aNode->StateEvaluated = true;
    if (aNode->StateIndex == int(aValue))
        return;
    aNode->StateIndex = int(aValue);
    fModel->NodeChanged(aNode);
    if (wasKnown)
        emit OnTreeNodeCheckStateChanged(aNode->FullPath(), aValue);
}

void TDvShellTree::QueueStateJobs(const std::vector<TDvShellTreeNode *> &aNodes,
                                  bool aProbeSubfolders)
{
    if (aNodes.empty())
        return;
    std::shared_ptr<TDvShellLink> link = Checkboxes() ? fShellLink : nullptr;
    if (!link && !aProbeSubfolders)
        return;
    QPointer<TDvShellTree> self(this);
    std::vector<TDvCheckStateJob::Request> batch;
    const auto submit = [&] {
        auto job = std::make_shared<TDvCheckStateJob>(link, std::move(batch));
        batch = {};
        job->SetTag(this);
        job->SetOnWorkDone([self](const IWorkItemPtr &pItem) {
            auto *states = dynamic_cast<TDvCheckStateJob *>(pItem.get());
            if (self && states != nullptr)
                self->ApplyCheckStates(*states);
        });
        TWorkerThreadPool::Instance().AddWorkItem(job);
    };
    for (TDvShellTreeNode *node : aNodes) {
        node->StateSequence = ++fStateSequence;
        batch.push_back({node, node->CancellationToken, node->StateSequence, node->Item,
                         aProbeSubfolders && !node->IsRoot()});
        if (batch.size() >= kStateBatch)
            submit();
    }
    if (!batch.empty())
        submit();
}

void TDvShellTree::ApplyCheckStates(TDvCheckStateJob &aJob)
{
    bool buttonsChanged = false;
    for (const TDvCheckStateJob::Request &request : aJob.Requests()) {
        if (!request.Done || request.Token->IsCancellationRequested())
            continue; // the node is gone
        TDvShellTreeNode *node = request.Node;
        if (request.ProbeSubfolders && node->Listing == TListing::NotListed &&
            node->Children.empty() && node->HasSubfolders != request.HasSubfolders) {
            node->HasSubfolders = request.HasSubfolders;
            buttonsChanged = true;
        }
        // A later request for the node has the fresher answer.
        if (aJob.HasLink() && Checkboxes() && request.Sequence == node->StateSequence)
            SetNodeCheckState(node, request.State);
    }
    if (buttonsChanged)
        fModel->ExpandButtonsChanged();
}

void TDvShellTree::CollectRecomputable(TDvShellTreeNode *aNode,
                                       std::vector<TDvShellTreeNode *> &aOut) const
{
    // A node that evaluated to "not checkable" keeps that state while it exists.
    if (!(aNode->StateEvaluated && aNode->CheckState() == TDvSelectionState::ssDisabled))
        aOut.push_back(aNode);
    for (const auto &child : aNode->Children)
        CollectRecomputable(child.get(), aOut);
}

void TDvShellTree::Refresh(TRefreshLevel pRefreshLevel, const TDvShellItem *pItemIdList)
{
    switch (pRefreshLevel) {
    case TRefreshLevel::rfCheckboxes: {
        TDvShellTreeNode *root = fModel->Root();
        if (!Checkboxes() || root == nullptr)
            return;
        if (pItemIdList == nullptr || fShellLink->SelectionList()->IsEmpty()) {
            std::vector<TDvShellTreeNode *> nodes;
            CollectRecomputable(root, nodes);
            QueueStateJobs(nodes, false);
        } else if (pItemIdList->GetKind() == TDvShellItem::Kind::FileSystem) {
            RefreshAround(pItemIdList->FileSystemPath());
        }
        return;
    }
    case TRefreshLevel::rfFull: {
        BusyCursor busy;
        if (fModel->Root() == nullptr) {
            Fill();
            return;
        }
        InitRootState();
        RefreshRootFolders();
        return;
    }
    case TRefreshLevel::rfSmart: {
        TDvShellTreeNode *node = CurrentNode();
        if (node == nullptr || node->IsRoot())
            RefreshRootFolders();
        else
            RefreshSubtree(node);
        return;
    }
    }
    throw std::invalid_argument("Unknown TRefreshLevel");
}

void TDvShellTree::RefreshAround(const QString &aPath)
{
    TDvShellTreeNode *root = fModel->Root();
    const QString path = QDir::cleanPath(aPath);
    std::vector<TDvShellTreeNode *> tops;
    for (const auto &top : root->Children) {
        if (IsWithin(path, top->FullPath()))
            tops.push_back(top.get());
    }
    for (TDvShellTreeNode *top : tops) {
        TDvShellTreeNode *node = DeepestLoadedNodeOf(top, path, true);
        // The folders above may change between partly checked and unchecked.
        std::vector<TDvShellTreeNode *> above;
        for (TDvShellTreeNode *p = node->Parent; p != nullptr && !p->IsRoot(); p = p->Parent) {
            if (!(p->StateEvaluated && p->CheckState() == TDvSelectionState::ssDisabled))
                above.push_back(p);
        }
        QueueStateJobs(above, false);
        RefreshSubtree(node);
    }
}

TDvShellTreeNode *TDvShellTree::DeepestLoadedNodeOf(TDvShellTreeNode *aTop, const QString &aPath,
                                                    bool aDiscardCollapsed)
{
    TDvShellTreeNode *node = aTop;
    for (const QString &name : ComponentsBelow(aPath, aTop->FullPath())) {
        if (node->Children.empty())
            break;
        if (aDiscardCollapsed && !isExpanded(fModel->IndexOf(node))) {
            DiscardChildren(node);
            break;
        }
        TDvShellTreeNode *child = node->ChildNamed(name);
        if (child == nullptr)
            break;
        node = child;
    }
    return node;
}

std::vector<TDvShellTreeNode *> TDvShellTree::LoadedNodesOf(const QString &aPath) const
{
    std::vector<TDvShellTreeNode *> result;
    TDvShellTreeNode *root = fModel->Root();
    if (root == nullptr)
        return result;
    const QString path = QDir::cleanPath(aPath);
    for (const auto &top : root->Children) {
        if (!IsWithin(path, top->FullPath()))
            continue;
        TDvShellTreeNode *node = top.get();
        for (const QString &name : ComponentsBelow(path, top->FullPath())) {
            node = node->ChildNamed(name);
            if (node == nullptr)
                break;
        }
        if (node != nullptr)
            result.push_back(node);
    }
    return result;
}

TDvShellTreeNode *TDvShellTree::FindLoadedNode(const QString &aPath) const
{
    if (aPath.isEmpty())
        return fModel->Root();
    // The innermost root folder holding the path shows it with the fewest levels.
    TDvShellTreeNode *best = nullptr;
    for (TDvShellTreeNode *node : LoadedNodesOf(aPath)) {
        if (best == nullptr || node->Level() < best->Level())
            best = node;
    }
    return best;
}

TDvShellTreeNode *TDvShellTree::CurrentNode() const
{
    return fModel->NodeOf(currentIndex());
}

// --- Toggling ---

void TDvShellTree::ToggleCheckBox(TDvShellTreeNode *aNode)
{
    if (aNode == nullptr || !Checkboxes())
        return;
    const TDvSelectionState state = aNode->CheckState();
    if (state == TDvSelectionState::ssUnused || state == TDvSelectionState::ssDisabled)
        return;
    BusyCursor busy;
    const bool check = !aNode->Checked();
    aNode->StateEvaluated = true; // a toggle always reports its change
    SetNodeCheckState(aNode, check ? TDvSelectionState::ssChecked : TDvSelectionState::ssUnChecked);
    const TDvShellItem item = aNode->Item;
    const std::shared_ptr<TDvShellLink> link = fShellLink;
    // The list's end of update makes the link refresh every box of this tree.
    if (check)
        link->SelectionList()->AddPIDLToSelection(item);
    else
        link->SelectionList()->RemovePIDLFromSelection(item);
    // The list may have decided otherwise (a shortcut, a folder gone meanwhile).
    QueueStateJobs({aNode}, false);
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
    if (!QDir::isAbsolutePath(path) || !TDvFolderLister::IsFolder(path)) {
        const QString expanded = ExpandEnvironmentReferences(Value);
        if (!QDir::isAbsolutePath(expanded))
            return;
        path = QDir::cleanPath(expanded);
        if (!TDvFolderLister::IsFolder(path))
            return; // no such folder: the selection stays
    }
    fPendingSelection = path;
    ContinueSelection();
}

void TDvShellTree::ContinueSelection()
{
    TDvShellTreeNode *root = fModel->Root();
    if (fPendingSelection.isEmpty() || root == nullptr)
        return;
    TDvShellTreeNode *top = nullptr;
    for (const auto &candidate : root->Children) {
        if (IsWithin(fPendingSelection, candidate->FullPath()) &&
            (top == nullptr || candidate->FullPath().size() > top->FullPath().size()))
            top = candidate.get();
    }
    TDvShellTreeNode *node = root;
    if (top != nullptr) {
        node = top;
        for (const QString &name : ComponentsBelow(fPendingSelection, top->FullPath())) {
            if (node->Listing != TListing::Listed) {
                // Walk on when its listing has arrived.
                expand(fModel->IndexOf(node));
                StartListing(node, false);
                return;
            }
            TDvShellTreeNode *child = node->ChildNamed(name);
            if (child == nullptr)
                break; // hidden or filtered on the way: the deepest shown folder
            node = child;
        }
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
    if (!TDvShellOperations::Rename(oldPath, aNewName, &error)) {
        ShowError(Translate(error));
        return false;
    }
    const QString newPath = JoinPath(aNode->Parent->FullPath(), aNewName);
    if (fShellLink)
        fShellLink->SelectionList()->PathWasRenamed(oldPath, newPath);
    // The same folder may be loaded below more than one root folder.
    std::vector<TDvShellTreeNode *> nodes = LoadedNodesOf(oldPath);
    if (std::find(nodes.begin(), nodes.end(), aNode) == nodes.end())
        nodes.push_back(aNode);
    for (TDvShellTreeNode *node : nodes)
        ApplyRename(node, aNewName, newPath);
    // Watches follow the folder itself, but report under the name they were set with.
    if (UnwatchFolder(oldPath))
        WatchFolder(newPath);
    return true;
}

void TDvShellTree::ApplyRename(TDvShellTreeNode *aNode, const QString &aNewName,
                               const QString &aNewPath)
{
    aNode->Name = aNewName;
    if (!aNode->CaptionChanged)
        aNode->Caption = aNewName;
    aNode->Rebase(aNewPath);
    bool canAdd = !aNewName.startsWith(u'.');
    if (canAdd && fOnAddFolder) {
        const QString caption = aNode->Caption;
        fOnAddFolder(aNode, aNewPath, canAdd);
        aNode->CaptionChanged = aNode->CaptionChanged || aNode->Caption != caption;
    }
    if (!canAdd) {
        fModel->RemoveNode(aNode);
        return;
    }
    fModel->NodeChanged(aNode);
    int row = 0;
    for (const auto &sibling : aNode->Parent->Children) {
        if (sibling.get() != aNode && TDvFolderLister::NameLess(sibling->Name, aNewName))
            ++row;
    }
    fModel->MoveNode(aNode, row);
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
    if (fShellLink)
        fShellLink->Refresh(this, TRefreshLevel::rfFull, nullptr);
}

// --- Folder commands ---

void TDvShellTree::ShowContextMenu(const QModelIndex &index, const QPoint &aGlobalPos)
{
    TDvShellTreeNode *node = fModel->NodeOf(index);
    if (node == nullptr || node->IsRoot())
        return;
    const bool fixed = node->Parent->IsRoot(); // a drive or the home folder
    const QString path = node->FullPath();
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    const bool canPaste =
        clipboard != nullptr && !TDvShellOperations::LocalFiles(clipboard).isEmpty();

    QMenu menu(this);
    QAction *open = menu.addAction(Translate(QStringLiteral("Open")));
    QAction *openFolder = menu.addAction(Translate(QStringLiteral("Open containing folder")));
    openFolder->setEnabled(path != u"/");
    menu.addSeparator();
    QAction *cut = menu.addAction(Translate(QStringLiteral("Cut")));
    cut->setEnabled(!fixed);
    QAction *copy = menu.addAction(Translate(QStringLiteral("Copy")));
    QAction *paste = menu.addAction(Translate(QStringLiteral("Paste")));
    paste->setEnabled(canPaste);
    menu.addSeparator();
    QAction *rename = menu.addAction(Translate(QStringLiteral("Rename")));
    rename->setEnabled(!fixed);
    QAction *trash = menu.addAction(Translate(QStringLiteral("Move to Trash")));
    trash->setEnabled(!fixed);
    menu.addSeparator();
    QAction *copyPath = menu.addAction(Translate(QStringLiteral("Copy path")));
    QAction *properties = menu.addAction(Translate(QStringLiteral("Properties")));

    QPointer<TDvShellTree> self(this);
    const ICancellationTokenPtr alive = node->CancellationToken;
    QAction *chosen = menu.exec(aGlobalPos);
    // The node may have gone while the menu was open (a refresh).
    if (!self || chosen == nullptr || alive->IsCancellationRequested())
        return;
    if (chosen == open)
        QDesktopServices::openUrl(FileUrlFromPath(path));
    else if (chosen == openFolder)
        QDesktopServices::openUrl(FileUrlFromPath(ParentFolder(path)));
    else if (chosen == cut || chosen == copy)
        CopyToClipboard(node, chosen == cut);
    else if (chosen == paste)
        PasteInto(node);
    else if (chosen == rename)
        edit(fModel->IndexOf(node));
    else if (chosen == trash)
        MoveToTrash(node);
    else if (chosen == copyPath)
        QGuiApplication::clipboard()->setText(path);
    else if (chosen == properties)
        ShowProperties(node);
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
    QGuiApplication::clipboard()->setMimeData(
        TDvShellOperations::FileUrlsMimeData({aNode->FullPath()}, aCut));
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
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr)
        return;
    const QStringList sources = TDvShellOperations::LocalFiles(data);
    const bool move = TDvShellOperations::IsCut(data);
    if (sources.isEmpty())
        return;
    BusyCursor busy;
    const QString target = aNode->FullPath();
    QStringList errors;
    QSet<QString> touchedFolders{target};
    for (const QString &source : sources) {
        QString error;
        if (TDvShellOperations::Paste(source, target, move, &error).isEmpty())
            errors.append(Translate(error));
        else if (move)
            touchedFolders.insert(ParentFolder(source));
    }
    if (move) {
        QGuiApplication::clipboard()->clear();
        ClearCutMarks(fModel->Root());
    }
    // Show what changed: re-read the folders involved that are loaded.
    for (const QString &folder : touchedFolders) {
        for (TDvShellTreeNode *node : LoadedNodesOf(folder)) {
            if (node->Listing == TListing::NotListed)
                node->HasSubfolders = true;
            RefreshSubtree(node);
        }
    }
    fModel->ExpandButtonsChanged();
    if (!errors.isEmpty())
        ShowError(errors.join(u'\n'));
}

void TDvShellTree::MoveToTrash(TDvShellTreeNode *aNode)
{
    if (aNode == nullptr || aNode->IsRoot() || aNode->Parent->IsRoot())
        return;
    const QString path = aNode->FullPath();
    QString error;
    if (!TDvShellOperations::MoveToTrash(path, &error)) {
        ShowError(Translate(error));
        return;
    }
    for (TDvShellTreeNode *node : LoadedNodesOf(path)) {
        TDvShellTreeNode *parent = node->Parent;
        fModel->RemoveNode(node);
        if (parent->Children.empty()) {
            parent->HasSubfolders = false;
            fModel->ExpandButtonsChanged();
        }
    }
}

void TDvShellTree::ShowProperties(TDvShellTreeNode *aNode)
{
    if (aNode == nullptr || aNode->IsRoot())
        return;
    (new TDvFilePropertiesDialog(aNode->FullPath(), this))->show();
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
