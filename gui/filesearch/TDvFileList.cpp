#include "gui/filesearch/TDvFileList.h"

#include "core/filesearch/TDvItemIdListWorkItem.h"
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
    // Subfolders are watched once the walks are over: the watching never slows a search.
    fSearch->SetOnIdle([this] { Notifier().SetSubfoldersHeld(false); });
    fNewFilesTimer.setSingleShot(true);
    connect(&fNewFilesTimer, &QTimer::timeout, this, &TDvFileList::AddNewFiles);
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
    if (!pValue)
        Notifier().SetEnabled(false);
    else if (ItemCount() > 0)
        Notifier().SetEnabled(true);
}

bool TDvFileList::AddPath(const QString &pPath)
{
    return Add(pPath, false, -1) != nullptr;
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
    if (!fSearch->IsSearching())
        Notifier().ClearWatches();
    TDvShellChangeNotifier::WatchOptions options;
    options.Recursive = SearchOptions().RecursiveSearch();
    options.IncludeHidden = SearchOptions().IncludeHidden();
    Notifier().SetSubfoldersHeld(true);
    Notifier().AddWatch(pPath, options);
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
    const bool considerNew = !fSearch->IgnoreNewFiles();
    if ((pEvent == neFileCreate || pEvent == neFolderCreate) && considerNew)
        AddIfNotExists(pPath1);
    if (pEvent == neFileChange && considerNew && !Notifier().IsWatchedFolder(pPath1))
        AddIfNotExists(pPath1);
    // The handlers of a new row may let the window work, which may close it.
    if (!alive.lock())
        return;
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

void TDvFileList::AddIfNotExists(const QString &pPath)
{
    if (ItemCount() > kMaxRefreshedItems)
        return;
    // Within a second of the last run the path waits for the end of that second: a burst of
    // new files is taken at the same pace, and none of them is lost.
    const std::uint32_t elapsed = GetTickCount() - fLastAddIfNotExistsSearch;
    if (fAddedBefore && elapsed < kAddIfNotExistsIntervalMs) {
        if (!fNewFiles.contains(pPath))
            fNewFiles.append(pPath);
        if (!fNewFilesTimer.isActive())
            fNewFilesTimer.start(static_cast<int>(kAddIfNotExistsIntervalMs - elapsed));
        return;
    }
    fAddedBefore = true;
    AddIfMatches(pPath);
    fLastAddIfNotExistsSearch = GetTickCount();
}

void TDvFileList::AddNewFiles()
{
    const QStringList paths = std::exchange(fNewFiles, {});
    std::weak_ptr<int> alive = fAlive;
    for (const QString &path : paths) {
        if (ItemCount() > kMaxRefreshedItems)
            break;
        AddIfMatches(path);
        if (!alive.lock())
            return;
    }
    fLastAddIfNotExistsSearch = GetTickCount();
}

void TDvFileList::AddIfMatches(const QString &pPath)
{
    if (!pPath.startsWith(u'/') || IsItemInList(pPath))
        return;
    fSearch->RescanEntry(pPath);
}

void TDvFileList::ListCleared()
{
    fNewFiles.clear();
    fNewFilesTimer.stop();
    fSearch->DropRescans();
}

void TDvFileList::DeleteIfNotExists(const QString &pFolder)
{
    if (ItemCount() > kMaxRefreshedItems ||
        GetTickCount() - fLastDeleteIfNotExistsSearch < kDeleteIfNotExistsIntervalMs)
        return;
    BeginUpdate();
    for (int i = ItemCount() - 1; i >= 0; --i) {
        TDvFileListItem *item = Item(i);
        if (!item->CheckPending() && IsPathBelow(item->Path(), pFolder))
            CheckItem(*item);
    }
    EndUpdate();
    fLastDeleteIfNotExistsSearch = GetTickCount();
}

void TDvFileList::CheckItem(TDvFileListItem &pItem)
{
    pItem.SetCheckPending(true);
    auto deliver = [this, item = &pItem](bool pExists) {
        // Runs only while the row's token is live, so the row (and this list) exist.
        item->SetCheckPending(false);
        const int index = fModel->IndexOf(item);
        if (index < 0)
            return;
        if (!pExists)
            fModel->Remove(index);
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
    fSearch->Rescan(pFolder);
}

} // namespace dv
