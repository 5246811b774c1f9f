#pragma once

#include "core/threads/IWorkItem.h"
#include "core/threads/TDvThread.h"

#include <mutex>

namespace dv {

class TWorkerThreadPool;

// A thread of TWorkerThreadPool: takes work items from the pool until it is terminated or
// has been idle for the pool's fMaxIdleTime.
class TWorkerThread : public TDvThread
{
public:
    TWorkerThread();

    // The item it is running, or nullptr.
    IWorkItemPtr GetWorkItem() const;
    // Set by the pool when the thread takes an item (under the pool's lock).
    void SetWorkItem(IWorkItemPtr pItem);
    // Pausing pauses the running item too.
    void SetPaused(bool pValue) override;
    // Also releases the item.
    void Abandon() override;

protected:
    void Execute() override;
    // Also cancels the running item.
    void TerminatedSet() override;

private:
    void RunItem(const IWorkItemPtr &pItem);

    mutable std::mutex fWorkItemLock;
    IWorkItemPtr fWorkItem;
};

} // namespace dv
