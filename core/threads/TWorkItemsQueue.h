#pragma once

#include "core/threads/IWorkItem.h"

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace dv {

// The waiting work items, with their own lock. Normal items go to the front and the next
// item is taken from the back (first in, first out); high-priority items go to the back, so
// they run before all others, newest first.
class TWorkItemsQueue
{
public:
    using TFilter = std::function<bool(IWorkItem &)>;

    // Sets the item's status to WaitingToRun and queues it.
    void Add(const IWorkItemPtr &pItem, bool pHighPriority);
    int Count() const;
    bool ContainsWorkItem(const IWorkItem *pItem) const;
    // The next item, or nullptr.
    IWorkItemPtr TakeNext();
    // Removes every item and returns them.
    std::vector<IWorkItemPtr> RemoveAll();
    // Removes the items for which pFilter is true and returns them.
    std::vector<IWorkItemPtr> RemoveMatching(const TFilter &pFilter);

private:
    mutable std::mutex fLock;
    std::deque<IWorkItemPtr> fItems;
};

} // namespace dv
