#include "core/threads/TWorkerThreadPool.h"

#include "core/platform/Ticks.h"
#include "core/threads/ClassName.h"
#include "core/threads/ExceptionReport.h"
#include "core/threads/MainThreadQueue.h"
#include "core/threads/ProcessorLoad.h"
#include "core/threads/TWorkerThread.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace dv {

TWorkerThreadPool::TWorkerThreadPool() = default;

TWorkerThreadPool::~TWorkerThreadPool()
{
    TerminateThreads(true);
    // Our queue and event must outlive every thread still inside our code.
    WaitForLeftThreads();
}

TWorkerThreadPool &TWorkerThreadPool::Instance()
{
    static TWorkerThreadPool *instance = [] {
        auto *pool = new TWorkerThreadPool();
        const int processors = std::max(4, ProcessorCount());
        pool->fIsGlobalInstance = true;
        pool->fMinWorkerThreads.store(2 * processors);
        pool->SetMaxRunningThreads(4 * processors);
        return pool;
    }();
    return *instance;
}

bool TWorkerThreadPool::IsGlobalInstance() const
{
    return fIsGlobalInstance;
}

void TWorkerThreadPool::AddWorkItem(const IWorkItemPtr &pWorkItem)
{
    Queue(pWorkItem, fUseLIFO.load());
}

void TWorkerThreadPool::AddWorkItem(const IWorkItemPtr &pWorkItem, TPriority pPriority)
{
    Queue(pWorkItem, pPriority == TPriority::Highest);
}

void TWorkerThreadPool::Queue(const IWorkItemPtr &pWorkItem, bool pHighPriority)
{
    if (!pWorkItem || fIsTerminatingAllWorkitems.load())
        return;
    fWorkItemsCount.fetch_add(1);
    fWorkerItemsQueue.Add(pWorkItem, pHighPriority);
    fNewWorkItemEvent.SetEvent();
    CheckAddNewWorkerThread();
}

void TWorkerThreadPool::AddWorkItems(const std::vector<IWorkItemPtr> &pWorkItems,
                                     TPriority pPriority)
{
    for (const IWorkItemPtr &item : pWorkItems) {
        if (!item || fIsTerminatingAllWorkitems.load())
            continue;
        fWorkItemsCount.fetch_add(1);
        fWorkerItemsQueue.Add(item, pPriority == TPriority::Highest);
    }
    fNewWorkItemEvent.SetEvent();
    CheckAddNewWorkerThread();
}

int TWorkerThreadPool::QueueLength() const
{
    return fWorkerItemsQueue.Count();
}

int TWorkerThreadPool::WorkItemsCount() const
{
    return fWorkItemsCount.load();
}

void TWorkerThreadPool::CheckAddNewWorkerThread()
{
    const std::uint64_t now = GetTickCount64();
    if (now - fLastCheckAddNewWorkerThread.load() < 400 && ThreadCount() > fMinWorkerThreads.load())
        return;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        const int threads = static_cast<int>(fThreads.size());
        if (threads < GetMaxRunningThreads() && fWorkerItemsQueue.Count() > 0 &&
            !fTerminated.load()) {
            if (threads < fMinWorkerThreads.load() ||
                ProcessorLoad::Instance().GetUsage() < fMaxCpuUsage.load())
                AddWorkerThread();
        }
    }
    fLastCheckAddNewWorkerThread.store(GetTickCount64());
}

void TWorkerThreadPool::AddWorkerThread()
{
    try {
        AddThread(std::make_shared<TWorkerThread>());
    } catch (const std::system_error &) {
        // Out of threads: the ones we have will serve the queue.
        if (fThreads.empty())
            throw;
    }
}

void TWorkerThreadPool::AfterThreadRemoved()
{
    // A thread that expired just as work arrived: make sure someone serves it. The ended
    // thread no longer counts, so this also works under load.
    if (fWorkerItemsQueue.Count() > 0 && !fTerminated.load() &&
        static_cast<int>(fThreads.size()) < GetMaxRunningThreads() &&
        (static_cast<int>(fThreads.size()) < fMinWorkerThreads.load() ||
         ProcessorLoad::Instance().GetUsage() < fMaxCpuUsage.load())) {
        try {
            AddWorkerThread();
        } catch (...) {
            ReportException(std::current_exception());
        }
    }
}

void TWorkerThreadPool::ThreadStarted(TDvThread *pThread)
{
    TNewThreadEvent onNewThread;
    {
        std::lock_guard<std::mutex> guard(fEventLock);
        onNewThread = fOnNewThread;
    }
    if (onNewThread)
        onNewThread(this, pThread);
}

IWorkItemPtr TWorkerThreadPool::TakeNextFor(TDvThread *pThread)
{
    // Taken and recorded as the thread's item in one step under fLock, so that
    // TerminateWorkItems finds it either in the queue or at the thread.
    std::lock_guard<std::recursive_mutex> guard(fLock);
    IWorkItemPtr item = fWorkerItemsQueue.TakeNext();
    if (item) {
        if (auto *worker = dynamic_cast<TWorkerThread *>(pThread))
            worker->SetWorkItem(item);
    }
    return item;
}

IWorkItemPtr TWorkerThreadPool::GetNextWorkItem(TDvThread *pThread)
{
    if (pThread->IsTerminated())
        return nullptr;
    if (fAllWorkItemsDoneEventCount.load() > 0) {
        // The all-done callback runs: take nothing until it is over.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return nullptr;
    }
    const std::uint64_t start = GetTickCount64();
    IWorkItemPtr item = TakeNextFor(pThread);
    while (!item) {
        if (GetTickCount64() - start > static_cast<std::uint64_t>(fMaxIdleTime.load())) {
            pThread->Terminate();
            return nullptr;
        }
        fNewWorkItemEvent.WaitFor(500);
        if (pThread->IsTerminated())
            return nullptr;
        item = TakeNextFor(pThread);
    }
    // The event is auto-reset: pass the wake-up on while more work waits.
    if (fWorkerItemsQueue.Count() > 0)
        fNewWorkItemEvent.SetEvent();
    CheckAddNewWorkerThread();
    return item;
}

void TWorkerThreadPool::SubtractWorkItems(int pCount)
{
    // Never below 0: an abandoned thread's late report must not unbalance the count.
    int current = fWorkItemsCount.load();
    int next;
    do {
        if (current <= 0)
            return;
        next = std::max(0, current - pCount);
    } while (!fWorkItemsCount.compare_exchange_weak(current, next));
    if (next == 0)
        DoAllWorkItemsDone();
}

void TWorkerThreadPool::WorkItemDone()
{
    SubtractWorkItems(1);
}

void TWorkerThreadPool::DoAllWorkItemsDone()
{
    TAllWorkItemsDoneEvent onAllWorkItemsDone;
    {
        std::lock_guard<std::mutex> guard(fEventLock);
        onAllWorkItemsDone = fOnAllWorkItemsDone;
    }
    if (!onAllWorkItemsDone)
        return;
    if (fAllWorkItemsDoneEventCount.fetch_add(1) == 0) {
        try {
            onAllWorkItemsDone(fTerminated.load());
        } catch (...) {
            ReportException(std::current_exception());
        }
    }
    fAllWorkItemsDoneEventCount.fetch_sub(1);
}

bool TWorkerThreadPool::Matches(IWorkItem &pItem, const void *pTag, const void *pGroup,
                                const TClassFilter &pClass)
{
    return (!pTag || pItem.GetTag() == pTag) && (!pGroup || pItem.GetGroupTag() == pGroup) &&
           (!pClass || pClass(pItem));
}

int TWorkerThreadPool::TerminateWorkItems(const void *OnlyForTag, const void *OnlyForTagGroup,
                                          const TClassFilter &OnlyForClass)
{
    if (fWorkItemsCount.load() == 0)
        return 0;
    const bool everything = !OnlyForTag && !OnlyForTagGroup && !OnlyForClass;
    std::vector<IWorkItemPtr> removed;
    if (everything) {
        fIsTerminatingAllWorkitems.store(true);
        removed = fWorkerItemsQueue.RemoveAll();
    } else {
        removed = fWorkerItemsQueue.RemoveMatching([&](IWorkItem &item) {
            return Matches(item, OnlyForTag, OnlyForTagGroup, OnlyForClass);
        });
    }
    for (const IWorkItemPtr &item : removed)
        item->Cancel();
    int total = static_cast<int>(removed.size());
    bool reachedZero = false;
    if (total > 0) {
        int current = fWorkItemsCount.load();
        int next;
        do {
            next = std::max(0, current - total);
        } while (!fWorkItemsCount.compare_exchange_weak(current, next));
        reachedZero = current > 0 && next == 0;
    }
    if (reachedZero) {
        DoAllWorkItemsDone();
    } else {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        for (const auto &thread : fThreads) {
            auto *worker = dynamic_cast<TWorkerThread *>(thread.get());
            IWorkItemPtr item = worker ? worker->GetWorkItem() : nullptr;
            if (item && Matches(*item, OnlyForTag, OnlyForTagGroup, OnlyForClass)) {
                item->Cancel();
                ++total;
            }
        }
    }
    fIsTerminatingAllWorkitems.store(false);
    return total;
}

void TWorkerThreadPool::TerminateThreads(bool pForce)
{
    const bool onMainThread = MainThreadQueue::IsMainThread();
    fStopping.fetch_add(1);
    if (ThreadCount() > 0) {
        fTerminated.store(true);
        RequestTerminationOfAllThreads();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (onMainThread)
        MainThreadQueue::RunPending();

    TerminateWorkItems();
    fNewWorkItemEvent.SetEvent();

    RequestTerminationOfAllThreads();
    if (pForce)
        WaitForThreads();

    if (pForce) {
        for (const IWorkItemPtr &item : fWorkerItemsQueue.RemoveAll())
            item->Cancel();
        if (fWorkItemsCount.exchange(0) != 0)
            DoAllWorkItemsDone();
    }
    if (onMainThread)
        MainThreadQueue::RunPending();
    EndStopping();
    // Items offered while we stopped (after the queue was emptied) still get a thread.
    if (QueueLength() > 0)
        CheckAddNewWorkerThread();
}

QString TWorkerThreadPool::HardTerminateMessage(TDvThread *pThread) const
{
    auto *worker = dynamic_cast<TWorkerThread *>(pThread);
    IWorkItemPtr item = worker ? worker->GetWorkItem() : nullptr;
    if (item) {
        IWorkItem &itemRef = *item;
        return QStringLiteral("Terminating worker Thread with work item %1 the hard way.")
            .arg(DemangledClassName(typeid(itemRef)));
    }
    return TCustomThreadPool::HardTerminateMessage(pThread);
}

void TWorkerThreadPool::SetOnAllWorkItemsDone(TAllWorkItemsDoneEvent pValue)
{
    std::lock_guard<std::mutex> guard(fEventLock);
    fOnAllWorkItemsDone = std::move(pValue);
}

void TWorkerThreadPool::SetOnNewThread(TNewThreadEvent pValue)
{
    std::lock_guard<std::mutex> guard(fEventLock);
    fOnNewThread = std::move(pValue);
}

int TWorkerThreadPool::GetMinWorkerThreads() const
{
    return fMinWorkerThreads.load();
}

void TWorkerThreadPool::SetMinWorkerThreads(int pValue)
{
    fMinWorkerThreads.store(std::max(0, pValue));
}

bool TWorkerThreadPool::GetUseLIFO() const
{
    return fUseLIFO.load();
}

void TWorkerThreadPool::SetUseLIFO(bool pValue)
{
    fUseLIFO.store(pValue);
}

int TWorkerThreadPool::GetMaxIdleTime() const
{
    return fMaxIdleTime.load();
}

void TWorkerThreadPool::SetMaxIdleTime(int pMilliseconds)
{
    fMaxIdleTime.store(std::max(0, pMilliseconds));
}

int TWorkerThreadPool::GetMaxCpuUsage() const
{
    return fMaxCpuUsage.load();
}

void TWorkerThreadPool::SetMaxCpuUsage(int pPercent)
{
    fMaxCpuUsage.store(pPercent);
}

} // namespace dv
