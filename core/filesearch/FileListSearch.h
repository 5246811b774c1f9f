#pragma once

#include "core/filesearch/TDvSearchOptions.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace dv {

class IDvFileSearchTarget;
class TDvFileSearch;
class TWorkerThreadPool;

// The search half of the result list: criteria, a worker pool of its own, one enumeration
// (TDvFileSearch) per root, and one OnEndSearch when all of them have ended. The list
// (IDvFileSearchTarget) receives the found paths. Everything here runs on the main thread.
class FileListSearch
{
public:
    using TOnEndSearch = std::function<void()>;

    // aList must outlive this object.
    explicit FileListSearch(IDvFileSearchTarget &aList);
    // Stops the pool (without reporting the end of a search) before the criteria go.
    virtual ~FileListSearch();

    FileListSearch(const FileListSearch &) = delete;
    FileListSearch &operator=(const FileListSearch &) = delete;

    // Queues one enumeration of Path (empty: every ready drive, or the desktop folder when
    // not recursive) and returns at once. Criteria are copied now.
    void Search(const QString &Path);
    // Queues the one entry Path (a checked file) as a root of the running search: judged as a
    // walk of its folder would judge it, offered only when the list does not hold it yet.
    void SearchEntry(const QString &Path);
    // Cancels all queued and running enumerations and waits for the pool's threads;
    // OnEndSearch follows once if a search was running. Not from inside AddPath.
    void Stop();
    // Queues an enumeration of the top level of Path (with pRecursive, of its whole tree, as
    // the search walks it) that hands its paths over through AddNewPath (the automatic
    // refresh). Nothing, and false, before the first Search.
    bool Rescan(const QString &Path, bool pRecursive = false);
    // The same for the one entry Path (a new file or folder): judged on a worker, offered
    // through AddNewPath once its verdict is ready.
    bool RescanEntry(const QString &Path);
    // The same for many entries in one enumeration, judged one after the other.
    bool RescanEntries(const QStringList &Paths);
    // Cancels the queued and running rescans: what they judged is dropped. A search goes on.
    void DropRescans();

    // The text the content test looks for: candidates are judged ahead of the list on a
    // pipeline of each enumeration and handed over once judged. Empty (the default): every
    // candidate is handed over as found and the list tests it itself. Read by every new
    // enumeration.
    const QString &TextToFind() const { return m_textToFind; }
    void SetTextToFind(const QString &pText) { m_textToFind = pText; }

    // The criteria read by every new enumeration.
    TDvSearchOptions &SearchOptions() { return m_searchOptions; }
    const TDvSearchOptions &SearchOptions() const { return m_searchOptions; }

    // Called on the main thread (queued) whenever the pool's count of enumerations falls to 0.
    const TOnEndSearch &OnEndSearch() const { return m_onEndSearch; }
    void SetOnEndSearch(TOnEndSearch pValue) { m_onEndSearch = std::move(pValue); }
    // For the list itself: called just before OnEndSearch, whoever has set that.
    void SetOnIdle(TOnEndSearch pValue) { m_onIdle = std::move(pValue); }

    // Whether enumerations are queued or running.
    bool IsSearching() const;

    TWorkerThreadPool *SearchThreadPool() const { return m_searchThreadPool.get(); }
    const QString &LastSearchPath() const { return m_lastSearchPath; }
    std::uint32_t LastSearchTickCount() const { return m_lastSearchTickCount; }
    bool IgnoreNewFiles() const { return m_ignoreNewFiles; }

protected:
    // Builds the enumeration of one root; a subclass may tag it or give it a token.
    virtual std::shared_ptr<TDvFileSearch> CreateFileSearch(const QString &Path,
                                                            bool pOnlyNewFiles);

    IDvFileSearchTarget &m_list;
    TDvSearchOptions m_searchOptions;
    TOnEndSearch m_onEndSearch;
    TOnEndSearch m_onIdle;
    std::unique_ptr<TWorkerThreadPool> m_searchThreadPool;
    std::uint32_t m_lastSearchTickCount = 0;
    QString m_lastSearchPath;
    QString m_textToFind;
    bool m_ignoreNewFiles = true;

private:
    void EnsurePool();
    void Queue(const std::shared_ptr<TDvFileSearch> &pItem);
    bool QueueRescan(const QString &Path, bool pRecursive, const QStringList *pEntries);
    // The rescans queued, to drop them when the list is cleared; those done are let go
    // whenever the vector has doubled, not at every rescan.
    std::vector<std::weak_ptr<TDvFileSearch>> m_rescans;
    std::size_t m_rescansPruneAt = 16;
    // Tells queued end-of-search calls whether this object still exists.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace dv
