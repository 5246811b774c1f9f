#include "core/folders/FolderTreeLoader.h"

#include "core/filesearch/TDvShellChangeNotifier.h"
#include "core/folders/FolderLister.h"
#include "core/folders/FolderListingJob.h"
#include "core/folders/FolderTreeModel.h"
#include "core/folders/TDvShellLink.h"
#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/MountTable.h"
#include "core/platform/PathCompare.h"
#include "core/threads/TWorkerThreadPool.h"

#include <QDir>
#include <QHash>
#include <QPointer>
#include <QTimer>

namespace dv {

namespace {

using ListingState = TDvShellTreeNode::ListingState;

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

} // namespace

FolderTreeLoader::FolderTreeLoader(FolderTreeModel *model, QObject *parent)
    : QObject(parent), m_model(model), m_onAddFolder(&FolderTreeLoader::archiveFilter)
{
    connect(m_model, &FolderTreeModel::ListingRequested, this,
            [this](TDvShellTreeNode *aNode) { listFolder(aNode); });
    // Changes inside an expanded folder come from the system's change notifications; a burst
    // of them (a copy of many folders) is read once.
    m_watcher = std::make_unique<TDvShellChangeNotifier>();
    m_watcher->SetEventFilter(TDvShellChangeNotifier::EventBit(neFolderCreate) |
                              TDvShellChangeNotifier::EventBit(neFolderDelete) |
                              TDvShellChangeNotifier::EventBit(neFolderRename) |
                              TDvShellChangeNotifier::EventBit(neFolderUpdate));
    m_watcher->OnChange = [this](TDvShellChangeNotifier &, TNotificationEvent,
                                 const QString &aPath1, const QString &aPath2) {
        // A folder that came, went or was renamed changes its parent's list; a watched
        // folder that went (or whose events were lost) is read itself.
        for (const QString &path : {aPath1, aPath2}) {
            if (path.isEmpty())
                continue;
            if (m_watcher->IsWatchedFolder(path))
                m_changedFolders.insert(path);
            const qsizetype slash = path.lastIndexOf(u'/');
            const QString parentFolder = slash <= 0 ? QStringLiteral("/") : path.left(slash);
            if (m_watcher->IsWatchedFolder(parentFolder))
                m_changedFolders.insert(parentFolder);
        }
        m_changeTimer->start();
    };
    // A folder is read once more when its watch is in place, so a change between its
    // listing and its watch is not lost.
    m_watcher->OnWatchInPlace = [this](TDvShellChangeNotifier &, const QString &aFolder) {
        if (!m_watcher->IsWatchedFolder(aFolder))
            return;
        m_changedFolders.insert(aFolder);
        m_changeTimer->start();
    };
    m_watcher->SetEnabled(true);
    m_changeTimer = new QTimer(this);
    m_changeTimer->setSingleShot(true);
    m_changeTimer->setInterval(200);
    connect(m_changeTimer, &QTimer::timeout, this, &FolderTreeLoader::readChangedFolders);
    m_rootFolders = defaultRootFolders();
}

FolderTreeLoader::~FolderTreeLoader()
{
    TWorkerThreadPool::Instance().TerminateWorkItems(this);
}

void FolderTreeLoader::setShellLink(std::shared_ptr<TDvShellLink> link)
{
    m_shellLink = std::move(link);
    setCheckboxes(m_checkboxes);
}

void FolderTreeLoader::setCheckboxes(bool value)
{
    m_checkboxes = value;
    TDvShellTreeNode *root = m_model->Root();
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
    m_model->ExpandButtonsChanged();
    if (!checkboxes())
        return;
    initRootState();
    all.erase(all.begin()); // the root is set directly
    queueStateJobs(all, false);
}

void FolderTreeLoader::setRootFolders(const QStringList &folders)
{
    m_rootFolders.clear();
    for (const QString &folder : folders) {
        const QString clean = QDir::cleanPath(folder);
        if (!clean.isEmpty() && !m_rootFolders.contains(clean))
            m_rootFolders.append(clean);
    }
    fill();
}

QStringList FolderTreeLoader::defaultRootFolders()
{
    QStringList result;
    for (QString drive : MountTable::Load().ReadyDrives()) {
        if (drive.size() > 1 && drive.endsWith(u'/'))
            drive.chop(1);
        result.append(drive);
    }
    if (!result.contains(QStringLiteral("/")))
        result.prepend(QStringLiteral("/"));
    const QString home = QDir::cleanPath(QDir::homePath());
    if (!home.isEmpty() && !result.contains(home) && FolderLister::IsFolder(home))
        result.append(home);
    return result;
}

void FolderTreeLoader::archiveFilter(TDvShellTreeNode *node, const QString &path, bool &canAdd)
{
    Q_UNUSED(node);
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    canAdd = extension != u".zip" && extension != u".rar";
}

// --- Filling and listing ---

void FolderTreeLoader::fill()
{
    TWorkerThreadPool::Instance().TerminateWorkItems(this);
    auto root = std::make_unique<TDvShellTreeNode>(nullptr, ShellItem::Computer(), QString());
    root->Caption = Translate(QStringLiteral("Computer"));
    root->Listing = ListingState::Listed;
    std::vector<TDvShellTreeNode *> tops;
    for (const QString &folder : m_rootFolders) {
        if (auto node = makeNode(root.get(), folder, folder)) {
            tops.push_back(node.get());
            root->Children.push_back(std::move(node));
        }
    }
    root->RenumberChildren();
    m_model->ResetRoot(std::move(root));
    initRootState();
    queueStateJobs(tops, true);
    emit filled();
}

std::unique_ptr<TDvShellTreeNode>
FolderTreeLoader::makeNode(TDvShellTreeNode *parent, const QString &name, const QString &path)
{
    auto node = std::make_unique<TDvShellTreeNode>(parent, ShellItem::FromPath(path), name);
    if (m_onAddFolder) {
        bool canAdd = true;
        m_onAddFolder(node.get(), path, canAdd);
        if (!canAdd)
            return nullptr;
        node->CaptionChanged = node->Caption != name;
    }
    // The home folder is shown by its name, as file managers do; its path stays the tooltip.
    if (parent->IsRoot() && !node->CaptionChanged && path != u"/" &&
        path == QDir::cleanPath(QDir::homePath()))
        node->Caption = path.mid(path.lastIndexOf(u'/') + 1);
    // Until its own job answers, a child shows its parent's state: a new child of a checked
    // folder is checked at once. The root's state says nothing about the drives.
    if (checkboxes() && !parent->IsRoot() && parent->StateIndex > 0)
        node->StateIndex = parent->StateIndex;
    return node;
}

void FolderTreeLoader::listFolder(TDvShellTreeNode *node)
{
    startListing(node, false);
}

void FolderTreeLoader::setExpanded(TDvShellTreeNode *node, bool expanded)
{
    if (node == nullptr)
        return;
    node->Expanded = expanded;
    if (expanded) {
        if (node->Listing == ListingState::Listed && !node->IsRoot())
            watchFolder(node->FullPath());
        return;
    }
    if (node->Listing == ListingState::Running) {
        node->CancelListing();
        node->Listing = ListingState::NotListed;
    }
    if (!node->IsRoot())
        unwatchFolder(node->FullPath());
}

void FolderTreeLoader::startListing(TDvShellTreeNode *node, bool refreshKept)
{
    if (node == nullptr)
        return;
    if (node->IsRoot()) {
        refreshRootFolders();
        return;
    }
    if (node->ListingToken)
        return; // one listing at a time
    auto token = std::make_shared<TCustomCancellationToken>();
    node->ListingToken = token;
    if (node->Listing == ListingState::NotListed)
        node->Listing = ListingState::Running;
    auto job = std::make_shared<FolderListingJob>(node->FullPath());
    job->SetCancellationToken(token);
    job->SetTag(this);
    QPointer<FolderTreeLoader> self(this);
    job->SetOnWorkDone([self, node, token, refreshKept](const IWorkItemPtr &pItem) {
        // The token fires when the node goes away or its listing is dropped.
        if (!self || token->IsCancellationRequested() || node->ListingToken != token)
            return;
        if (const auto *listing = dynamic_cast<const FolderListingJob *>(pItem.get()))
            self->applyListing(node, *listing, refreshKept);
    });
    TWorkerThreadPool::Instance().AddWorkItem(job);
}

void FolderTreeLoader::applyListing(TDvShellTreeNode *node, const FolderListingJob &job,
                                    bool refreshKept)
{
    node->ListingToken.reset();
    node->Listing = ListingState::Listed;
    if (!job.Names()) {
        // The folder cannot be read (any more): no children, the tree stays usable.
        m_model->RemoveChildren(node);
        node->HasSubfolders = false;
        m_model->ExpandButtonsChanged();
    } else {
        mergeChildren(node, *job.Names(), refreshKept);
        if (node->Expanded)
            watchFolder(node->FullPath());
    }
    emit listed(node);
}

void FolderTreeLoader::watchFolder(const QString &path)
{
    if (m_watcher->IsWatchedFolder(path))
        return;
    TDvShellChangeNotifier::WatchOptions options;
    options.Recursive = false;
    m_watcher->AddWatch(path, options);
}

bool FolderTreeLoader::unwatchFolder(const QString &path)
{
    for (const QString &folder : m_watcher->WatchedFolders()) {
        if (SamePath(folder, path)) {
            const QString watched = folder; // the list entry goes with the watch
            m_watcher->RemoveWatch(watched);
            return true;
        }
    }
    return false;
}

void FolderTreeLoader::readChangedFolders()
{
    const QSet<QString> folders = std::exchange(m_changedFolders, {});
    for (const QString &folder : folders) {
        bool shown = false;
        for (TDvShellTreeNode *node : loadedNodesOf(folder)) {
            if (node->Listing != ListingState::Listed || !node->Expanded)
                continue;
            shown = true;
            // A re-read under way may have read the folder before this change: read it
            // again once that one is merged.
            if (node->ListingToken)
                m_changedFolders.insert(folder);
            else
                startListing(node, false);
        }
        if (!shown)
            unwatchFolder(folder);
    }
    if (!m_changedFolders.isEmpty())
        m_changeTimer->start();
}

void FolderTreeLoader::mergeChildren(TDvShellTreeNode *node, const QStringList &names,
                                     bool refreshKept)
{
    const QSet<QString> wanted(names.begin(), names.end());
    for (int i = int(node->Children.size()) - 1; i >= 0; --i) {
        if (!wanted.contains(node->Children[std::size_t(i)]->Name))
            m_model->RemoveNode(node->Children[std::size_t(i)].get());
    }
    const QString folder = node->FullPath();
    std::vector<TDvShellTreeNode *> fresh;
    std::vector<TDvShellTreeNode *> kept;
    if (node->Children.empty()) {
        std::vector<std::unique_ptr<TDvShellTreeNode>> batch;
        batch.reserve(std::size_t(names.size()));
        for (const QString &name : names) {
            if (auto child = makeNode(node, name, JoinPath(folder, name))) {
                fresh.push_back(child.get());
                batch.push_back(std::move(child));
            }
        }
        m_model->InsertChildren(node, 0, std::move(batch));
    } else {
        QHash<QString, TDvShellTreeNode *> existing;
        for (const auto &child : node->Children)
            existing.insert(child->Name, child.get());
        int row = 0;
        for (const QString &name : names) {
            if (TDvShellTreeNode *child = existing.value(name)) {
                kept.push_back(child);
                row = child->Row() + 1;
                continue;
            }
            auto child = makeNode(node, name, JoinPath(folder, name));
            if (!child)
                continue;
            fresh.push_back(child.get());
            std::vector<std::unique_ptr<TDvShellTreeNode>> one;
            one.push_back(std::move(child));
            m_model->InsertChildren(node, row, std::move(one));
            ++row;
        }
    }
    const bool hadSubfolders = node->HasSubfolders;
    node->HasSubfolders = !node->Children.empty();
    if (node->Children.empty() && hadSubfolders)
        m_model->ExpandButtonsChanged();
    queueStateJobs(fresh, true);
    if (refreshKept) {
        for (TDvShellTreeNode *child : kept)
            refreshSubtree(child);
    }
}

void FolderTreeLoader::discardChildren(TDvShellTreeNode *node)
{
    node->CancelListing();
    if (!node->Children.empty())
        m_model->RemoveChildren(node);
    node->Listing = ListingState::NotListed;
    node->HasSubfolders = true;
}

void FolderTreeLoader::refreshSubtree(TDvShellTreeNode *node)
{
    std::vector<TDvShellTreeNode *> self;
    if (!node->KeepsDisabledState())
        self.push_back(node);
    queueStateJobs(self, node->Listing == ListingState::NotListed);
    if (node->Listing != ListingState::Listed)
        return;
    if (node->Expanded)
        startListing(node, true);
    else if (!node->Children.empty())
        discardChildren(node); // re-read on the next expand rather than now
}

void FolderTreeLoader::refreshRootFolders()
{
    TDvShellTreeNode *root = m_model->Root();
    if (root == nullptr) {
        fill();
        return;
    }
    const QSet<QString> wanted(m_rootFolders.begin(), m_rootFolders.end());
    for (int i = int(root->Children.size()) - 1; i >= 0; --i) {
        if (!wanted.contains(root->Children[std::size_t(i)]->Name))
            m_model->RemoveNode(root->Children[std::size_t(i)].get());
    }
    std::vector<TDvShellTreeNode *> fresh;
    std::vector<TDvShellTreeNode *> kept;
    int row = 0;
    for (const QString &folder : m_rootFolders) {
        if (TDvShellTreeNode *node = root->ChildNamed(folder)) {
            kept.push_back(node);
            row = node->Row() + 1;
            continue;
        }
        if (auto node = makeNode(root, folder, folder)) {
            fresh.push_back(node.get());
            std::vector<std::unique_ptr<TDvShellTreeNode>> one;
            one.push_back(std::move(node));
            m_model->InsertChildren(root, row++, std::move(one));
        }
    }
    queueStateJobs(fresh, true);
    for (TDvShellTreeNode *node : kept)
        refreshSubtree(node);
}

void FolderTreeLoader::refreshAll()
{
    if (m_model->Root() == nullptr) {
        fill();
        return;
    }
    initRootState();
    refreshRootFolders();
}

void FolderTreeLoader::refreshNode(TDvShellTreeNode *node)
{
    if (node == nullptr || node->IsRoot())
        refreshRootFolders();
    else
        refreshSubtree(node);
}

void FolderTreeLoader::refreshFolders(const QSet<QString> &folders)
{
    for (const QString &folder : folders) {
        for (TDvShellTreeNode *node : loadedNodesOf(folder)) {
            if (node->Listing == ListingState::NotListed)
                node->HasSubfolders = true;
            refreshSubtree(node);
        }
    }
    m_model->ExpandButtonsChanged();
}

void FolderTreeLoader::refreshAround(const QString &path)
{
    TDvShellTreeNode *root = m_model->Root();
    const QString clean = QDir::cleanPath(path);
    std::vector<TDvShellTreeNode *> tops;
    for (const auto &top : root->Children) {
        if (IsWithin(clean, top->FullPath()))
            tops.push_back(top.get());
    }
    for (TDvShellTreeNode *top : tops) {
        TDvShellTreeNode *node = deepestLoadedNodeOf(top, clean, true);
        // The folders above may change between partly checked and unchecked.
        std::vector<TDvShellTreeNode *> above;
        for (TDvShellTreeNode *p = node->Parent; p != nullptr && !p->IsRoot(); p = p->Parent) {
            if (!p->KeepsDisabledState())
                above.push_back(p);
        }
        queueStateJobs(above, false);
        refreshSubtree(node);
    }
}

TDvShellTreeNode *FolderTreeLoader::deepestLoadedNodeOf(TDvShellTreeNode *top, const QString &path,
                                                        bool discardCollapsed)
{
    TDvShellTreeNode *node = top;
    for (const QString &name : ComponentsBelow(path, top->FullPath())) {
        if (node->Children.empty())
            break;
        if (discardCollapsed && !node->Expanded) {
            discardChildren(node);
            break;
        }
        TDvShellTreeNode *child = node->ChildNamed(name);
        if (child == nullptr)
            break;
        node = child;
    }
    return node;
}

std::vector<TDvShellTreeNode *> FolderTreeLoader::loadedNodesOf(const QString &path) const
{
    std::vector<TDvShellTreeNode *> result;
    TDvShellTreeNode *root = m_model->Root();
    if (root == nullptr)
        return result;
    const QString clean = QDir::cleanPath(path);
    for (const auto &top : root->Children) {
        if (!IsWithin(clean, top->FullPath()))
            continue;
        TDvShellTreeNode *node = top.get();
        for (const QString &name : ComponentsBelow(clean, top->FullPath())) {
            node = node->ChildNamed(name);
            if (node == nullptr)
                break;
        }
        if (node != nullptr)
            result.push_back(node);
    }
    return result;
}

TDvShellTreeNode *FolderTreeLoader::findLoadedNode(const QString &path) const
{
    if (path.isEmpty())
        return m_model->Root();
    // The innermost root folder holding the path shows it with the fewest levels.
    TDvShellTreeNode *best = nullptr;
    for (TDvShellTreeNode *node : loadedNodesOf(path)) {
        if (best == nullptr || node->Level() < best->Level())
            best = node;
    }
    return best;
}

TDvShellTreeNode *FolderTreeLoader::nodeToward(const QString &path, bool *unlisted) const
{
    *unlisted = false;
    TDvShellTreeNode *root = m_model->Root();
    TDvShellTreeNode *top = nullptr;
    for (const auto &candidate : root->Children) {
        if (IsWithin(path, candidate->FullPath()) &&
            (top == nullptr || candidate->FullPath().size() > top->FullPath().size()))
            top = candidate.get();
    }
    if (top == nullptr)
        return root;
    TDvShellTreeNode *node = top;
    for (const QString &name : ComponentsBelow(path, top->FullPath())) {
        if (node->Listing != ListingState::Listed) {
            *unlisted = true;
            return node;
        }
        TDvShellTreeNode *child = node->ChildNamed(name);
        if (child == nullptr)
            break; // hidden or filtered on the way: the deepest shown folder
        node = child;
    }
    return node;
}

// --- Changes made by the user ---

void FolderTreeLoader::folderRenamed(TDvShellTreeNode *node, const QString &newName)
{
    const QString oldPath = node->FullPath();
    const QString newPath = JoinPath(node->Parent->FullPath(), newName);
    if (m_shellLink)
        m_shellLink->SelectionList()->PathWasRenamed(oldPath, newPath);
    // The same folder may be loaded below more than one root folder.
    std::vector<TDvShellTreeNode *> nodes = loadedNodesOf(oldPath);
    if (std::find(nodes.begin(), nodes.end(), node) == nodes.end())
        nodes.push_back(node);
    // Answers under way judge the old path, which is gone ("not checkable", kept for good):
    // the renamed folders and all below them are judged again, by the list as it is now.
    std::vector<TDvShellTreeNode *> renamed;
    for (TDvShellTreeNode *each : nodes) {
        if (applyRename(each, newName, newPath))
            collectRecomputable(each, renamed);
    }
    queueStateJobs(renamed, false);
    // Watches follow the folder itself, but report under the name they were set with.
    if (unwatchFolder(oldPath))
        watchFolder(newPath);
}

bool FolderTreeLoader::applyRename(TDvShellTreeNode *node, const QString &newName,
                                   const QString &newPath)
{
    node->Name = newName;
    if (!node->CaptionChanged)
        node->Caption = newName;
    node->Rebase(newPath);
    bool canAdd = !newName.startsWith(u'.');
    if (canAdd && m_onAddFolder) {
        const QString caption = node->Caption;
        m_onAddFolder(node, newPath, canAdd);
        node->CaptionChanged = node->CaptionChanged || node->Caption != caption;
    }
    if (!canAdd) {
        m_model->RemoveNode(node);
        return false;
    }
    m_model->NodeChanged(node);
    int row = 0;
    for (const auto &sibling : node->Parent->Children) {
        if (sibling.get() != node && FolderLister::NameLess(sibling->Name, newName))
            ++row;
    }
    m_model->MoveNode(node, row);
    return true;
}

void FolderTreeLoader::folderRemoved(const QString &path)
{
    for (TDvShellTreeNode *node : loadedNodesOf(path)) {
        TDvShellTreeNode *parent = node->Parent;
        m_model->RemoveNode(node);
        if (parent->Children.empty()) {
            parent->HasSubfolders = false;
            m_model->ExpandButtonsChanged();
        }
    }
}

} // namespace dv
