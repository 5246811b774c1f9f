#pragma once

#include "core/filesearch/TDvSearchOptions.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

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
    // Cancels all queued and running enumerations and waits for the pool's threads;
    // OnEndSearch follows once if a search was running. Not from inside AddPath.
    void Stop();
    // Queues an enumeration of the top level of Path that hands over only paths the list does
    // not hold yet (the automatic refresh). Nothing, and false, before the first Search.
    bool Rescan(const QString &Path);

    // The text the content test looks for: candidates are judged ahead of the list on a
    // pipeline of each enumeration and handed over once judged. Empty (the default): every
    // candidate is handed over as found and the list tests it itself. Read by every new
    // enumeration.
    const QString &TextToFind() const { return fTextToFind; }
    void SetTextToFind(const QString &pText) { fTextToFind = pText; }

    // The criteria read by every new enumeration.
    TDvSearchOptions &SearchOptions() { return fSearchOptions; }
    const TDvSearchOptions &SearchOptions() const { return fSearchOptions; }

    // Called on the main thread (queued) whenever the pool's count of enumerations falls to 0.
    const TOnEndSearch &OnEndSearch() const { return fOnEndSearch; }
    void SetOnEndSearch(TOnEndSearch pValue) { fOnEndSearch = std::move(pValue); }
    // For the list itself: called just before OnEndSearch, whoever has set that.
    void SetOnIdle(TOnEndSearch pValue) { fOnIdle = std::move(pValue); }

    // Whether enumerations are queued or running.
    bool IsSearching() const;

    TWorkerThreadPool *SearchThreadPool() const { return fSearchThreadPool.get(); }
    const QString &LastSearchPath() const { return fLastSearchPath; }
    std::uint32_t LastSearchTickCount() const { return fLastSearchTickCount; }
    bool IgnoreNewFiles() const { return fIgnoreNewFiles; }

protected:
    // Builds the enumeration of one root; a subclass may tag it or give it a token.
    virtual std::shared_ptr<TDvFileSearch> CreateFileSearch(const QString &Path,
                                                            bool pOnlyNewFiles);

    IDvFileSearchTarget &fList;
    TDvSearchOptions fSearchOptions;
    TOnEndSearch fOnEndSearch;
    TOnEndSearch fOnIdle;
    std::unique_ptr<TWorkerThreadPool> fSearchThreadPool;
    std::uint32_t fLastSearchTickCount = 0;
    QString fLastSearchPath;
    QString fTextToFind;
    bool fIgnoreNewFiles = true;

private:
    void EnsurePool();
    // Tells queued end-of-search calls whether this object still exists.
    std::shared_ptr<int> fAlive = std::make_shared<int>(0);
};

} // namespace dv
