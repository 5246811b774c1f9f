#include "core/filesearch/FileListSearch.h"

#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/filesearch/TDvFileSearch.h"
#include "core/platform/Ticks.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/TWorkerThreadPool.h"

namespace dv {

FileListSearch::FileListSearch(IDvFileSearchTarget &aList) : fList(aList) {}

FileListSearch::~FileListSearch()
{
    fAlive.reset();
    if (fSearchThreadPool) {
        fSearchThreadPool->SetOnAllWorkItemsDone({});
        fSearchThreadPool.reset();
    }
}

void FileListSearch::EnsurePool()
{
    if (fSearchThreadPool)
        return;
    fSearchThreadPool = std::make_unique<TWorkerThreadPool>();
    // The pool calls this on whichever thread emptied it; the handler runs on the main
    // thread, and never after this object is gone.
    fSearchThreadPool->SetOnAllWorkItemsDone(
        [this, alive = std::weak_ptr<int>(fAlive)](bool /*pTerminated*/) {
            MainThreadQueue::Post([this, alive] {
                if (alive.lock() && fOnIdle)
                    fOnIdle();
                if (alive.lock() && fOnEndSearch)
                    fOnEndSearch();
            });
        });
}

void FileListSearch::Search(const QString &Path)
{
    fIgnoreNewFiles = false;
    fList.WatchSearchRoot(Path);
    fLastSearchPath = Path;
    fLastSearchTickCount = GetTickCount();
    EnsurePool();
    auto item = CreateFileSearch(Path, false);
    item->SetTextToFind(fTextToFind);
    fSearchThreadPool->AddWorkItem(item);
}

std::shared_ptr<TDvFileSearch> FileListSearch::CreateFileSearch(const QString &Path,
                                                                bool pOnlyNewFiles)
{
    return std::make_shared<TDvFileSearch>(fSearchOptions, &fList, Path, pOnlyNewFiles);
}

bool FileListSearch::Rescan(const QString &Path)
{
    if (!fSearchThreadPool)
        return false;
    const bool recursive = fSearchOptions.RecursiveSearch();
    fSearchOptions.SetRecursiveSearch(false);
    auto item = CreateFileSearch(Path, true);
    fSearchOptions.SetRecursiveSearch(recursive);
    item->SetTextToFind(fTextToFind);
    fSearchThreadPool->AddWorkItem(item);
    return true;
}

void FileListSearch::Stop()
{
    if (!fSearchThreadPool)
        return;
    fSearchThreadPool->TerminateThreads(true);
    fList.Sort();
}

bool FileListSearch::IsSearching() const
{
    return fSearchThreadPool && fSearchThreadPool->WorkItemsCount() > 0;
}

} // namespace dv
