#pragma once

#include "core/filesearch/FileListSearch.h"
#include "core/filesearch/IDvFileSearchTarget.h"
#include "gui/filesearch/TDvCustomFileList.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

namespace dv {

// The result list: file rows filled by a search of its own. Search queues one enumeration per
// root on the list's pool; every path found is added with Add (OnAddItem, OnAddPath) inside
// the batch's update bracket, and OnEndSearch follows when all enumerations have ended.
//
// From the start of a search the list follows the file system under the roots of that search
// (automatic refresh): each folder is watched before the walk lists it; new, changed and
// renamed files are judged on a worker (a listed one again) and then offered to OnAddPath,
// deleted files lose their rows, renamed ones follow under the new name, and changed folders
// are read again. Checks that come too soon after the last are postponed, never dropped;
// after the kernel lost changes (an overflow) the roots are read again whole; folders left
// without a watch (the system's limit) are read again every UnwatchedRescanMs.
class TDvFileList : public TDvCustomFileList, public IDvFileSearchTarget
{
    Q_OBJECT
public:
    using TOnEndSearch = FileListSearch::TOnEndSearch;

    explicit TDvFileList(QWidget *parent = nullptr);
    // Stops the search (without OnEndSearch) before the rows go.
    ~TDvFileList() override;

    // Queues an enumeration of Path and returns at once (empty Path: every ready drive).
    void Search(const QString &Path);
    // Queues the one entry Path (a checked file) with the search, judged as a walk of its
    // folder would judge it; false (nothing queued) when the path cannot become a row.
    bool SearchEntry(const QString &Path);
    // Cancels all enumerations and waits for them; OnEndSearch follows once if a search ran.
    // Never from inside OnAddPath or OnAddItem.
    void Stop();
    bool IsSearching() const { return fSearch->IsSearching(); }
    TDvSearchOptions &SearchOptions() { return fSearch->SearchOptions(); }
    // The search half (pool, last root), for the automatic refresh.
    FileListSearch &ActiveSearch() { return *fSearch; }

    const TOnEndSearch &OnEndSearch() const { return fSearch->OnEndSearch(); }
    void SetOnEndSearch(TOnEndSearch pValue) { fSearch->SetOnEndSearch(std::move(pValue)); }

    // Watching the searched folders for changes once an item is accepted.
    bool AutomaticRefresh() const { return fAutomaticRefresh; }
    void SetAutomaticRefresh(bool pValue);
    // The folders the automatic refresh watches: the roots of the latest search.
    const QStringList &WatchedRoots() const { return Notifier().WatchedFolders(); }
    // Reads the folders left without a watch again (the timer does it every
    // UnwatchedRescanMs); false when every folder is watched.
    bool RescanUnwatchedFolders();
    static constexpr int UnwatchedRescanMs = 30000;

    // A path that went away (deleted, renamed, found gone by a check), listed or not.
    std::function<void(const QString &pPath)> OnPathGone;

    // The list as the enumerations see it.
    void BeginUpdate() override { TDvCustomFileList::BeginUpdate(); }
    void EndUpdate() override { TDvCustomFileList::EndUpdate(); }
    bool AddPath(const QString &pPath) override;
    // A refreshed path: a new one is added, a listed one judged again (its row goes when it
    // is refused); nothing once the list holds more rows than the refresh serves.
    bool AddNewPath(const QString &pPath) override;
    bool IsItemInList(const QString &pPath) override;
    int ItemCount() const override { return TDvCustomFileList::ItemCount(); }
    void Sort() override { TDvCustomFileList::Sort(); }
    void WatchSearchRoot(const QString &pPath) override;
    TDvShellChangeNotifier::TFolderWatch FolderWatch() override;
    // Handed to OnFolderNotSearched.
    void FolderNotSearched(const QString &pPath, const QString &pReason) override;

    // A folder of the search could not be searched, and why (on the main thread).
    using TOnFolderNotSearched = std::function<void(const QString &Path, const QString &Reason)>;
    TOnFolderNotSearched OnFolderNotSearched;
    void AwaitingVerdict(const QString &pPath) override;
    // The texts of the rows and columns in the current language.
    void Retranslate();

    // The search waits for the content test of Path, the next file it offers.
    std::function<void(const QString &Path)> OnAwaitingVerdict;

protected:
    void ItemAccepted(TDvFileListItem &pItem) override;
    // New files not yet judged are forgotten, and verdicts still to come dropped.
    void ListCleared() override;
    void ChangeNotified(TNotificationEvent pEvent, const QString &pPath1,
                        const QString &pPath2) override;

private:
    // A file or folder that may be new or changed: judged like a search result, a listed one
    // again. Paths that come within a second of the last run wait for the end of that second.
    void AddIfNotExists(const QString &pPath);
    void AddNewFiles();
    // The rows below changed folders are checked again in the background; folders that come
    // within a second of the last run wait for the end of that second.
    void DeleteIfNotExists(const QString &pFolder);
    void DeleteNotExisting();
    void CheckItem(TDvFileListItem &pItem);
    // The top level of a changed folder is read again for new files.
    void Rescan(const QString &pFolder);
    // Queues a read of the folder (its tree with pRecursive); those queued in one turn of
    // the event loop are merged.
    void QueueRescan(const QString &pFolder, bool pRecursive);
    void StartRescans();
    // Changes were lost: every root is read again whole, every row checked.
    void Overflowed();
    void PathGone(const QString &pPath);

    std::unique_ptr<FileListSearch> fSearch;
    bool fAutomaticRefresh = true;
    std::uint32_t fLastAddIfNotExistsSearch = 0;
    std::uint32_t fLastDeleteIfNotExistsSearch = 0;
    bool fAddedBefore = false; // add-if-new has run at least once
    bool fCheckedBefore = false;
    QStringList fNewFiles; // waiting for the end of the current second, in order
    QSet<QString> fNewFileSet;
    QTimer fNewFilesTimer;
    QSet<QString> fRecheckFolders; // waiting for the end of the current second
    QTimer fRecheckTimer;
    QHash<QString, bool> fRescanFolders; // folder: whole tree
    QTimer fRescanTimer;
    QTimer fUnwatchedTimer;
    // Rows the refresh added while a search walks: the walk, which may find them too, does
    // not add them twice.
    QSet<QString> fRefreshAdded;
    std::shared_ptr<int> fAlive = std::make_shared<int>(0);
};

} // namespace dv
