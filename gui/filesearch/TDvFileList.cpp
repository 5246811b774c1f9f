#include "gui/filesearch/TDvFileList.h"

#include "core/filesearch/MatchSingleEntry.h"
#include "core/filesearch/TDvItemIdListWorkItem.h"
#include "core/platform/FileName.h"
#include "core/platform/PathCompare.h"
#include "core/platform/Ticks.h"
#include "core/threads/TCustomCancellationToken.h"
#include "core/threads/TWorkerThreadPool.h"

#include <QHeaderView>

#include <algorithm>

namespace dv {

namespace {

// Nothing is refreshed in a list longer than this.
constexpr int kMaxRefreshedItems = 5000;
constexpr std::uint32_t kAddIfNotExistsIntervalMs = 1000;
constexpr std::uint32_t kDeleteIfNotExistsIntervalMs = 1000;
// Changes that the search of a root caused itself do not start a second enumeration of it.
constexpr std::uint32_t kRescanAfterSearchMs = 5000;

constexpr TDvShellChangeNotifier::TEventFilter kListEvents =
    TDvShellChangeNotifier::EventBit(neFileChange) |
    TDvShellChangeNotifier::EventBit(neFileCreate) |
    TDvShellChangeNotifier::EventBit(neFileDelete) |
    TDvShellChangeNotifier::EventBit(neFileRename) | TDvShellChangeNotifier::EventBit(neDriveAdd) |
    TDvShellChangeNotifier::EventBit(neDriveRemove) |
    TDvShellChangeNotifier::EventBit(neShellDriveAdd) |
    TDvShellChangeNotifier::EventBit(neFolderCreate) |
    TDvShellChangeNotifier::EventBit(neFolderDelete) |
    TDvShellChangeNotifier::EventBit(neFolderRename) |
    TDvShellChangeNotifier::EventBit(neFolderUpdate);

} // namespace

TDvFileList::TDvFileList(QWidget *parent)
    : TDvCustomFileList(parent), fSearch(std::make_unique<FileListSearch>(*this))
{
    setObjectName(QStringLiteral("SearchResultList"));
    SetAllowDuplicates(true);
    Notifier().SetEventFilter(kListEvents);
    Notifier().OnOverflow = [this](TDvShellChangeNotifier &) { Overflowed(); };
    // The walks watch each folder they list; the notifier's own walk of the trees, which
    // finds what they did not reach, waits until they are over: it never slows a search.
    fSearch->SetOnIdle([this] {
        fRefreshAdded.clear();
        Notifier().SetSubfoldersHeld(false);
        if (fAutomaticRefresh && !fUnwatchedTimer.isActive())
            fUnwatchedTimer.start();
    });
    fNewFilesTimer.setSingleShot(true);
    connect(&fNewFilesTimer, &QTimer::timeout, this, &TDvFileList::AddNewFiles);
    fRecheckTimer.setSingleShot(true);
    connect(&fRecheckTimer, &QTimer::timeout, this, &TDvFileList::DeleteNotExisting);
    fRescanTimer.setSingleShot(true);
    fRescanTimer.setInterval(0);
    connect(&fRescanTimer, &QTimer::timeout, this, &TDvFileList::StartRescans);
    fUnwatchedTimer.setInterval(UnwatchedRescanMs);
    connect(&fUnwatchedTimer, &QTimer::timeout, this, &TDvFileList::RescanUnwatchedFolders);
}

TDvFileList::~TDvFileList()
{
    Notifier().OnChange = {};
    Notifier().SetEnabled(false);
    // No enumeration may outlive the rows it reports to.
    fSearch.reset();
}

void TDvFileList::Search(const QString &Path)
{
    fSearch->Search(Path);
}

bool TDvFileList::SearchEntry(const QString &Path)
{
    // Only an absolute path can become a row.
    if (!Path.startsWith(u'/'))
        return false;
    fSearch->SearchEntry(Path);
    return true;
}

void TDvFileList::Stop()
{
    fSearch->Stop();
}

void TDvFileList::SetAutomaticRefresh(bool pValue)
{
    fAutomaticRefresh = pValue;
    if (!pValue) {
        Notifier().SetEnabled(false);
        fUnwatchedTimer.stop();
    } else if (ItemCount() > 0) {
        Notifier().SetEnabled(true);
    }
}

bool TDvFileList::AddPath(const QString &pPath)
{
    // The refresh may have added it while the walk was on its way to it.
    if (!fRefreshAdded.isEmpty() && fRefreshAdded.contains(pPath))
        return true;
    return Add(pPath, false, -1) != nullptr;
}

bool TDvFileList::AddNewPath(const QString &pPath)
{
    // Checked as the rows arrive: a burst stops at the limit.
    if (ItemCount() > kMaxRefreshedItems) {
        fSearch->DropRescans();
        return false;
    }
    if (TDvFileListItem *item = ReturnItemInList(pPath))
        return JudgeAgain(*item);
    if (Add(pPath, false, -1) == nullptr)
        return false;
    if (fSearch->IsSearching())
        fRefreshAdded.insert(pPath);
    return true;
}

bool TDvFileList::IsItemInList(const QString &pPath)
{
    return TDvCustomFileList::IsItemInList(pPath);
}

void TDvFileList::Retranslate()
{
    fModel->Retranslate();
    // The widest date differs between languages.
    header()->resizeSection(
        FileListModel::ColDateModified,
        std::max(header()->sectionSize(FileListModel::ColDateModified), DateColumnWidth()));
}

void TDvFileList::AwaitingVerdict(const QString &pPath)
{
    if (OnAwaitingVerdict)
        OnAwaitingVerdict(pPath);
}

void TDvFileList::WatchSearchRoot(const QString &pPath)
{
    // The roots of one search are passed while the first ones are still being walked; a
    // search on an idle list is a new one and replaces what was watched.
    if (!fSearch->IsSearching()) {
        Notifier().ClearWatches();
        fRefreshAdded.clear();
    }
    TDvShellChangeNotifier::WatchOptions options;
    options.Recursive = SearchOptions().RecursiveSearch();
    options.IncludeHidden = SearchOptions().IncludeHidden();
    Notifier().SetSubfoldersHeld(true);
    Notifier().AddWatch(pPath, options);
    // Watching starts with the search, not with its first result: a change in a folder the
    // walk has passed is seen, whatever the walk finds.
    if (fAutomaticRefresh)
        Notifier().SetEnabled(true);
}

TDvShellChangeNotifier::TFolderWatch TDvFileList::FolderWatch()
{
    return fAutomaticRefresh ? Notifier().FolderWatch() : TDvShellChangeNotifier::TFolderWatch();
}

void TDvFileList::ItemAccepted(TDvFileListItem &pItem)
{
    (void)pItem;
    if (fAutomaticRefresh)
        Notifier().SetEnabled(true);
}

void TDvFileList::ChangeNotified(TNotificationEvent pEvent, const QString &pPath1,
                                 const QString &pPath2)
{
    std::weak_ptr<int> alive = fAlive;
    TDvCustomFileList::ChangeNotified(pEvent, pPath1, pPath2);
    if (pEvent == neFileDelete || pEvent == neFolderDelete || pEvent == neFileRename ||
        pEvent == neFolderRename)
        PathGone(pPath1);
    if (!alive.lock())
        return;
    const bool considerNew = !fSearch->IgnoreNewFiles();
    if ((pEvent == neFileCreate || pEvent == neFolderCreate) && considerNew)
        AddIfNotExists(pPath1);
    if (pEvent == neFileChange && considerNew && !Notifier().IsWatchedFolder(pPath1))
        AddIfNotExists(pPath1);
    // A rename is a removal of the old path and a candidate at the new one.
    if ((pEvent == neFileRename || pEvent == neFolderRename) && considerNew)
        AddIfNotExists(pPath2);
    if (pEvent == neFolderUpdate && !pPath1.isEmpty() && considerNew)
        Rescan(pPath1);
    if (pEvent == neFileChange || pEvent == neFolderDelete)
        DeleteIfNotExists(pPath1);
    if (ItemCount() <= kMaxRefreshedItems) {
        TDvFileListItem *item = ReturnItemInList(pPath1);
        if (item == nullptr && !pPath2.isEmpty())
            item = ReturnItemInList(pPath2);
        if (item != nullptr) {
            item->Invalidate();
            fModel->ItemChanged(fModel->IndexOf(item));
        }
    }
}

void TDvFileList::PathGone(const QString &pPath)
{
    if (OnPathGone)
        OnPathGone(pPath);
}

void TDvFileList::AddIfNotExists(const QString &pPath)
{
    if (ItemCount() > kMaxRefreshedItems || !pPath.startsWith(u'/'))
        return;
    // Within a second of the last run the path waits for the end of that second: a burst of
    // new files is taken at the same pace, and none of them is lost.
    if (!fNewFileSet.contains(pPath)) {
        fNewFileSet.insert(pPath);
        fNewFiles.append(pPath);
    }
    const std::uint32_t elapsed = GetTickCount() - fLastAddIfNotExistsSearch;
    if (fAddedBefore && elapsed < kAddIfNotExistsIntervalMs) {
        if (!fNewFilesTimer.isActive())
            fNewFilesTimer.start(static_cast<int>(kAddIfNotExistsIntervalMs - elapsed));
        return;
    }
    AddNewFiles();
}

void TDvFileList::AddNewFiles()
{
    fNewFilesTimer.stop();
    fAddedBefore = true;
    fLastAddIfNotExistsSearch = GetTickCount();
    QStringList paths = std::exchange(fNewFiles, {});
    fNewFileSet.clear();
    if (ItemCount() > kMaxRefreshedItems)
        return;
    // A listed path that no longer meets the criteria (renamed to another name, grown past
    // the size, gone) loses its row here: the enumeration offers only what meets them.
    paths.removeIf([this](const QString &pPath) {
        TDvFileListItem *item = ReturnItemInList(pPath);
        if (item == nullptr || MatchSingleEntry(SearchOptions(), EncodeFileName(pPath)).Matches)
            return false;
        fModel->Remove(fModel->IndexOf(item));
        ItemsChanged();
        return true;
    });
    // One enumeration judges them all, each as the walk of its folder would; a listed one is
    // judged again.
    fSearch->RescanEntries(paths);
}

void TDvFileList::ListCleared()
{
    fNewFiles.clear();
    fNewFileSet.clear();
    fNewFilesTimer.stop();
    fRecheckFolders.clear();
    fRecheckTimer.stop();
    fRescanFolders.clear();
    fRescanTimer.stop();
    fSearch->DropRescans();
}

void TDvFileList::DeleteIfNotExists(const QString &pFolder)
{
    if (ItemCount() > kMaxRefreshedItems)
        return;
    fRecheckFolders.insert(pFolder.size() > 1 && pFolder.endsWith(u'/') ? pFolder.chopped(1)
                                                                        : pFolder);
    const std::uint32_t elapsed = GetTickCount() - fLastDeleteIfNotExistsSearch;
    if (fCheckedBefore && elapsed < kDeleteIfNotExistsIntervalMs) {
        if (!fRecheckTimer.isActive())
            fRecheckTimer.start(static_cast<int>(kDeleteIfNotExistsIntervalMs - elapsed));
        return;
    }
    DeleteNotExisting();
}

void TDvFileList::DeleteNotExisting()
{
    fRecheckTimer.stop();
    fCheckedBefore = true;
    fLastDeleteIfNotExistsSearch = GetTickCount();
    const QSet<QString> folders = std::exchange(fRecheckFolders, {});
    if (ItemCount() > kMaxRefreshedItems || folders.isEmpty())
        return;
    const bool everything = folders.contains(QStringLiteral("/"));
    // Each row asks for its own folders, not each folder for every row.
    BeginUpdate();
    for (int i = ItemCount() - 1; i >= 0; --i) {
        TDvFileListItem *item = Item(i);
        if (item->CheckPending())
            continue;
        bool below = everything;
        const QString &folder = item->Folder(); // ends with "/"
        for (qsizetype slash = folder.indexOf(u'/', 1); !below && slash >= 0;
             slash = folder.indexOf(u'/', slash + 1))
            below = folders.contains(QStringView(folder).left(slash).toString());
        if (below)
            CheckItem(*item);
    }
    EndUpdate();
}

void TDvFileList::CheckItem(TDvFileListItem &pItem)
{
    pItem.SetCheckPending(true);
    auto deliver = [this, item = &pItem](bool pExists) {
        // Runs only while the row's token is live, so the row (and this list) exist.
        item->SetCheckPending(false);
        const int index = fModel->IndexOf(item);
        if (index < 0 || pExists)
            return;
        const QString path = item->Path();
        fModel->Remove(index);
        ItemsChanged();
        PathGone(path);
    };
    TWorkerThreadPool::Instance().AddWorkItem(std::make_shared<TDvItemIdListWorkItem>(
        pItem.Path(), fModel->Fill(pItem).Token, true, std::move(deliver)));
}

void TDvFileList::Rescan(const QString &pFolder)
{
    if (ItemCount() > kMaxRefreshedItems || fSearch->SearchThreadPool() == nullptr)
        return;
    if (GetTickCount() - fSearch->LastSearchTickCount() < kRescanAfterSearchMs &&
        Notifier().WatchedFolders().contains(pFolder))
        return;
    QueueRescan(pFolder, false);
}

void TDvFileList::QueueRescan(const QString &pFolder, bool pRecursive)
{
    bool &recursive = fRescanFolders[pFolder];
    recursive = recursive || pRecursive;
    if (!fRescanTimer.isActive())
        fRescanTimer.start();
}

void TDvFileList::StartRescans()
{
    const QHash<QString, bool> folders = std::exchange(fRescanFolders, {});
    if (ItemCount() > kMaxRefreshedItems)
        return;
    for (auto it = folders.constBegin(); it != folders.constEnd(); ++it) {
        // A folder inside a tree read whole anyway is not read again.
        bool covered = false;
        for (auto other = folders.constBegin(); !covered && other != folders.constEnd(); ++other)
            covered = other.value() && other.key() != it.key() &&
                      (other.key().isEmpty() || IsPathBelow(it.key(), other.key()));
        if (!covered)
            fSearch->Rescan(it.key(), it.value());
    }
}

void TDvFileList::Overflowed()
{
    if (fSearch->IgnoreNewFiles())
        return;
    // Whatever the time since the search: what was lost is read again now.
    for (const QString &root : Notifier().WatchedFolders()) {
        QueueRescan(root, true);
        DeleteIfNotExists(root.isEmpty() ? QStringLiteral("/") : root);
    }
}

bool TDvFileList::RescanUnwatchedFolders()
{
    const QStringList folders = Notifier().UnwatchedFolders();
    if (folders.isEmpty() || fSearch->IgnoreNewFiles())
        return false;
    for (const QString &folder : folders) {
        QueueRescan(folder, true);
        DeleteIfNotExists(folder);
    }
    return true;
}

void TDvFileList::FolderNotSearched(const QString &pPath, const QString &pReason)
{
    if (OnFolderNotSearched)
        OnFolderNotSearched(pPath, pReason);
}

} // namespace dv
