#pragma once

#include "core/filesearch/FileListSearch.h"
#include "core/filesearch/IDvFileSearchTarget.h"
#include "gui/filesearch/TDvCustomFileList.h"

#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace dv {

// The result list: file rows filled by a search of its own. Search queues one enumeration per
// root on the list's pool; every path found is added with Add (OnAddItem, OnAddPath) inside
// the batch's update bracket, and OnEndSearch follows when all enumerations have ended.
//
// After a search the list follows the file system under the roots of that search (automatic
// refresh): new matching files are judged on a worker and then offered to OnAddPath, deleted files
// lose their rows, renamed ones keep them under the new name, and changed folders are read again.
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

    // The list as the enumerations see it.
    void BeginUpdate() override { TDvCustomFileList::BeginUpdate(); }
    void EndUpdate() override { TDvCustomFileList::EndUpdate(); }
    bool AddPath(const QString &pPath) override;
    bool IsItemInList(const QString &pPath) override;
    int ItemCount() const override { return TDvCustomFileList::ItemCount(); }
    void Sort() override { TDvCustomFileList::Sort(); }
    void WatchSearchRoot(const QString &pPath) override;
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
    // A file or folder that may be new: offered like a search result if it matches. Paths
    // that come within a second of the last run wait for the end of that second.
    void AddIfNotExists(const QString &pPath);
    void AddNewFiles();
    // Queues the path to be judged on a worker; its row comes with the verdict.
    void AddIfMatches(const QString &pPath);
    // The rows below a changed folder are checked again in the background.
    void DeleteIfNotExists(const QString &pFolder);
    void CheckItem(TDvFileListItem &pItem);
    // The top level of a changed folder is read again for new files.
    void Rescan(const QString &pFolder);

    std::unique_ptr<FileListSearch> fSearch;
    bool fAutomaticRefresh = true;
    std::uint32_t fLastAddIfNotExistsSearch = 0;
    std::uint32_t fLastDeleteIfNotExistsSearch = 0;
    bool fAddedBefore = false; // add-if-new has run at least once
    QStringList fNewFiles;     // waiting for the end of the current second
    QTimer fNewFilesTimer;
    std::shared_ptr<int> fAlive = std::make_shared<int>(0);
};

} // namespace dv
