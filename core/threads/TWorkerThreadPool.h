#pragma once

#include "core/threads/AutoResetEvent.h"
#include "core/threads/IWorkItem.h"
#include "core/threads/TCustomThreadPool.h"
#include "core/threads/TWorkItemsQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace dv {

class TWorkerThread;

// Called when the pool's count of queued and running work items falls to 0, with the pool's
// terminated flag at that moment; on the thread that brought the count to 0.
using TAllWorkItemsDoneEvent = std::function<void(bool pTerminated)>;

// A pool of worker threads running work items. Threads are created on demand (gated by the
// processor load beyond fMinWorkerThreads), expire after fMaxIdleTime without work, and the
// pool can be stopped with cancellation of running items and a bounded wait.
class TWorkerThreadPool : public TCustomThreadPool
{
public:
    using TNewThreadEvent = std::function<void(TWorkerThreadPool *pSender, TDvThread *pThread)>;
    // Class filter of TerminateWorkItems; see ClassFilter.
    using TClassFilter = std::function<bool(const IWorkItem &)>;

    TWorkerThreadPool();
    ~TWorkerThreadPool() override;

    // Queues one item, first in first out (newest first when UseLIFO).
    void AddWorkItem(const IWorkItemPtr &pWorkItem);
    // Highest puts the item before all waiting items.
    void AddWorkItem(const IWorkItemPtr &pWorkItem, TPriority pPriority);
    // Queues all; wakes a thread once at the end.
    void AddWorkItems(const std::vector<IWorkItemPtr> &pWorkItems, TPriority pPriority);
    // Items waiting.
    int QueueLength() const;
    // Items queued or running.
    int WorkItemsCount() const;

    // Removes waiting items and cancels running ones: all, or those matching every filter
    // given (nullptr / empty = no filter). Returns their number.
    int TerminateWorkItems(const void *OnlyForTag = nullptr, const void *OnlyForTagGroup = nullptr,
                           const TClassFilter &OnlyForClass = {});
    // Stops the pool; usable again afterwards.
    void TerminateThreads(bool pForce) override;

    void SetOnAllWorkItemsDone(TAllWorkItemsDoneEvent pValue);
    void SetOnNewThread(TNewThreadEvent pValue);

    int GetMinWorkerThreads() const;
    void SetMinWorkerThreads(int pValue);
    bool GetUseLIFO() const;
    void SetUseLIFO(bool pValue);
    int GetMaxIdleTime() const;
    void SetMaxIdleTime(int pMilliseconds);
    int GetMaxCpuUsage() const;
    void SetMaxCpuUsage(int pPercent);

    // The process-wide pool (created on first use, never freed: its threads may still wait
    // for work when the program ends).
    static TWorkerThreadPool &Instance();
    bool IsGlobalInstance() const;

    // A class filter that accepts items of class T and its subclasses.
    template <class T> static TClassFilter ClassFilter()
    {
        return [](const IWorkItem &pItem) { return dynamic_cast<const T *>(&pItem) != nullptr; };
    }

    // Called by the worker threads.
    void ThreadStarted(TDvThread *pThread);
    IWorkItemPtr GetNextWorkItem(TDvThread *pThread);
    void WorkItemDone();
    void CheckAddNewWorkerThread();

protected:
    void AfterThreadRemoved() override;
    QString HardTerminateMessage(TDvThread *pThread) const override;

private:
    void Queue(const IWorkItemPtr &pWorkItem, bool pHighPriority);
    void DoAllWorkItemsDone();
    void AddWorkerThread();
    IWorkItemPtr TakeNextFor(TDvThread *pThread);
    void SubtractWorkItems(int pCount);
    static bool Matches(IWorkItem &pItem, const void *pTag, const void *pGroup,
                        const TClassFilter &pClass);

    bool fIsGlobalInstance = false;
    std::atomic<int> fMinWorkerThreads{1};
    std::atomic<bool> fUseLIFO{false};
    std::atomic<bool> fIsTerminatingAllWorkitems{false};
    std::atomic<int> fAllWorkItemsDoneEventCount{0};
    std::atomic<int> fWorkItemsCount{0};
    std::atomic<int> fMaxIdleTime{60000};
    std::atomic<int> fMaxCpuUsage{80};
    std::atomic<std::uint64_t> fLastCheckAddNewWorkerThread{0};
    std::mutex fEventLock;
    TAllWorkItemsDoneEvent fOnAllWorkItemsDone;
    TNewThreadEvent fOnNewThread;
    TWorkItemsQueue fWorkerItemsQueue;
    AutoResetEvent fNewWorkItemEvent;
};

} // namespace dv
