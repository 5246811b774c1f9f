#pragma once

#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/filesearch/TDvFileListSearch.h"
#include "gui/filesearch/TDvCustomFileList.h"

#include <memory>

namespace dv {

// The result list: file rows filled by a search of its own. Search queues one enumeration per
// root on the list's pool; every path found is added with Add (OnAddItem, OnAddPath) inside
// the batch's update bracket, and OnEndSearch follows when all enumerations have ended.
class TDvFileList : public TDvCustomFileList, public IDvFileSearchTarget
{
    Q_OBJECT
public:
    using TOnEndSearch = TDvFileListSearch::TOnEndSearch;

    explicit TDvFileList(QWidget *parent = nullptr);
    // Stops the search (without OnEndSearch) before the rows go.
    ~TDvFileList() override;

    // Queues an enumeration of Path and returns at once (empty Path: every ready drive).
    void Search(const QString &Path);
    // Cancels all enumerations and waits for them; OnEndSearch follows once if a search ran.
    // Never from inside OnAddPath or OnAddItem.
    void Stop();
    bool IsSearching() const { return fSearch->IsSearching(); }
    TDvSearchOptions &SearchOptions() { return fSearch->SearchOptions(); }
    // The search half (pool, last root), for the automatic refresh.
    TDvFileListSearch &FileListSearch() { return *fSearch; }

    const TOnEndSearch &OnEndSearch() const { return fSearch->OnEndSearch(); }
    void SetOnEndSearch(TOnEndSearch pValue) { fSearch->SetOnEndSearch(std::move(pValue)); }

    // Watching the searched folder for changes once an item is accepted.
    bool AutomaticRefresh() const { return fAutomaticRefresh; }
    void SetAutomaticRefresh(bool pValue) { fAutomaticRefresh = pValue; }
    // The folder the automatic refresh watches: the root of the latest Search.
    const QString &WatchedRoot() const { return fWatchedRoot; }

    // The list as the enumerations see it.
    void BeginUpdate() override { TDvCustomFileList::BeginUpdate(); }
    void EndUpdate() override { TDvCustomFileList::EndUpdate(); }
    bool AddPath(const QString &pPath) override;
    bool IsItemInList(const QString &pPath) override;
    int ItemCount() const override { return TDvCustomFileList::ItemCount(); }
    void Sort() override { TDvCustomFileList::Sort(); }
    void WatchSearchRoot(const QString &pPath) override;

protected:
    void ItemAccepted(TDvFileListItem &pItem) override;

private:
    std::unique_ptr<TDvFileListSearch> fSearch;
    QString fWatchedRoot;
    bool fAutomaticRefresh = true;
};

} // namespace dv
