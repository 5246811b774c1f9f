#include "core/filesearch/FileListSearch.h"

#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/filesearch/TDvFileSearch.h"
#include "core/platform/Ticks.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/TWorkerThreadPool.h"

#include <algorithm>
#include <utility>

namespace dv {

FileListSearch::FileListSearch(IDvFileSearchTarget &aList) : m_list(aList) {}

FileListSearch::~FileListSearch()
{
    m_alive.reset();
    if (m_searchThreadPool) {
        m_searchThreadPool->SetOnAllWorkItemsDone({});
        m_searchThreadPool.reset();
    }
}

void FileListSearch::EnsurePool()
{
    if (m_searchThreadPool)
        return;
    m_searchThreadPool = std::make_unique<TWorkerThreadPool>();
    // The pool calls this on whichever thread emptied it; the handler runs on the main
    // thread, and never after this object is gone.
    m_searchThreadPool->SetOnAllWorkItemsDone(
        [this, alive = std::weak_ptr<int>(m_alive)](bool /*pTerminated*/) {
            MainThreadQueue::Post([this, alive] {
                if (alive.lock() && m_onIdle)
                    m_onIdle();
                if (alive.lock() && m_onEndSearch)
                    m_onEndSearch();
            });
        });
}

void FileListSearch::Search(const QString &Path)
{
    m_ignoreNewFiles = false;
    m_list.WatchSearchRoot(Path);
    m_lastSearchPath = Path;
    m_lastSearchTickCount = GetTickCount();
    Queue(CreateFileSearch(Path, false));
}

void FileListSearch::SearchEntry(const QString &Path)
{
    auto item = CreateFileSearch(Path, true);
    item->SetSingleEntry(true);
    Queue(item);
}

void FileListSearch::Queue(const std::shared_ptr<TDvFileSearch> &pItem)
{
    EnsurePool();
    pItem->SetTextToFind(m_textToFind);
    m_searchThreadPool->AddWorkItem(pItem);
}

std::shared_ptr<TDvFileSearch> FileListSearch::CreateFileSearch(const QString &Path,
                                                                bool pOnlyNewFiles)
{
    auto item = std::make_shared<TDvFileSearch>(m_searchOptions, &m_list, Path, pOnlyNewFiles);
    item->SetFolderWatch(m_list.FolderWatch());
    return item;
}

bool FileListSearch::Rescan(const QString &Path, bool pRecursive)
{
    return QueueRescan(Path, pRecursive, nullptr);
}

bool FileListSearch::RescanEntry(const QString &Path)
{
    const QStringList entries{Path};
    return QueueRescan(Path, false, &entries);
}

bool FileListSearch::RescanEntries(const QStringList &Paths)
{
    if (Paths.isEmpty())
        return false;
    return QueueRescan(Paths.first(), false, &Paths);
}

bool FileListSearch::QueueRescan(const QString &Path, bool pRecursive, const QStringList *pEntries)
{
    if (!m_searchThreadPool)
        return false;
    const bool recursive = m_searchOptions.RecursiveSearch();
    m_searchOptions.SetRecursiveSearch(pRecursive && recursive);
    auto item = CreateFileSearch(Path, true);
    m_searchOptions.SetRecursiveSearch(recursive);
    if (pEntries)
        item->SetEntries(*pEntries);
    if (m_rescans.size() >= m_rescansPruneAt) {
        std::erase_if(m_rescans, [](const std::weak_ptr<TDvFileSearch> &p) { return p.expired(); });
        m_rescansPruneAt = std::max<std::size_t>(16, 2 * m_rescans.size());
    }
    m_rescans.push_back(item);
    Queue(item);
    return true;
}

void FileListSearch::DropRescans()
{
    for (const std::weak_ptr<TDvFileSearch> &rescan : std::exchange(m_rescans, {}))
        if (const std::shared_ptr<TDvFileSearch> item = rescan.lock())
            item->Terminate();
}

void FileListSearch::Stop()
{
    if (!m_searchThreadPool)
        return;
    m_searchThreadPool->TerminateThreads(true);
    m_list.Sort();
}

bool FileListSearch::IsSearching() const
{
    return m_searchThreadPool && m_searchThreadPool->WorkItemsCount() > 0;
}

} // namespace dv
