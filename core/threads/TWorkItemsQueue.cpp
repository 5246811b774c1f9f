#include "core/threads/TWorkItemsQueue.h"

#include <algorithm>

namespace dv {

void TWorkItemsQueue::Add(const IWorkItemPtr &pItem, bool pHighPriority)
{
    if (!pItem)
        return;
    pItem->SetStatus(TTaskStatus::WaitingToRun);
    std::lock_guard<std::mutex> guard(fLock);
    if (pHighPriority)
        fItems.push_back(pItem);
    else
        fItems.push_front(pItem);
}

int TWorkItemsQueue::Count() const
{
    std::lock_guard<std::mutex> guard(fLock);
    return static_cast<int>(fItems.size());
}

bool TWorkItemsQueue::ContainsWorkItem(const IWorkItem *pItem) const
{
    std::lock_guard<std::mutex> guard(fLock);
    return std::any_of(fItems.begin(), fItems.end(),
                       [pItem](const IWorkItemPtr &item) { return item.get() == pItem; });
}

IWorkItemPtr TWorkItemsQueue::TakeNext()
{
    std::lock_guard<std::mutex> guard(fLock);
    if (fItems.empty())
        return nullptr;
    IWorkItemPtr item = std::move(fItems.back());
    fItems.pop_back();
    return item;
}

std::vector<IWorkItemPtr> TWorkItemsQueue::RemoveAll()
{
    std::lock_guard<std::mutex> guard(fLock);
    std::vector<IWorkItemPtr> removed(fItems.begin(), fItems.end());
    fItems.clear();
    return removed;
}

std::vector<IWorkItemPtr> TWorkItemsQueue::RemoveMatching(const TFilter &pFilter)
{
    std::lock_guard<std::mutex> guard(fLock);
    std::vector<IWorkItemPtr> removed;
    for (auto it = fItems.begin(); it != fItems.end();) {
        if (pFilter(**it)) {
            removed.push_back(std::move(*it));
            it = fItems.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

} // namespace dv
